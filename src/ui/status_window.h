#pragma once
// statusform: the two status bytes of each flash sector, sector 0 on top.

#include <array>

#include <QWidget>

#include "ui/window_style.h"

class QLineEdit;

namespace fernwick::ui {

class status_window : public QWidget {
public:
    explicit status_window(input_route route);

    void sync();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    input_route route_;
    std::array<QLineEdit*, 4> sectors_{};
};

}  // namespace fernwick::ui
