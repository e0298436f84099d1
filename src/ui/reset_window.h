#pragma once
// RESETFORM: port and baud choice and the OK that starts the bring-up.

#include <vector>

#include <QWidget>

#include "ui/window_style.h"

class QRadioButton;

namespace fernwick::ui {

class reset_window : public QWidget {
public:
    explicit reset_window(input_route route);

    void sync();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    QWidget* build_port_frame(QWidget* parent);
    QWidget* build_baud_frame(QWidget* parent);

    input_route route_;
    QRadioButton* com1_ = nullptr;
    QRadioButton* com2_ = nullptr;
    std::vector<QRadioButton*> bauds_;  // in the order of their rates
};

}  // namespace fernwick::ui
