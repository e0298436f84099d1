#pragma once
// Warning: shown before programming without any bootstrap loader code.

#include <QWidget>

#include "ui/window_style.h"

namespace fernwick::ui {

class warning_window : public QWidget {
public:
    explicit warning_window(input_route route);

    void sync();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    input_route route_;
};

}  // namespace fernwick::ui
