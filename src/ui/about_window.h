#pragma once
// AboutForm: the version and the date of the last change.

#include <QWidget>

#include "ui/window_style.h"

namespace fernwick::ui {

class about_window : public QWidget {
public:
    explicit about_window(input_route route);

    void sync();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    input_route route_;
};

}  // namespace fernwick::ui
