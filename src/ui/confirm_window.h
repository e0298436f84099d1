#pragma once
// ConfirmForm: the sectors that will be erased and programmed, sector 3 on
// top, and the way on (Program Flash), back or out.

#include <array>

#include <QWidget>

#include "ui/window_style.h"

class QCheckBox;
class QLabel;
class QPlainTextEdit;

namespace fernwick::ui {

class confirm_window : public QWidget {
public:
    explicit confirm_window(input_route route);

    void sync();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    input_route route_;
    std::array<QCheckBox*, 4> sectors_{};  // indexed by sector number
    std::array<QLabel*, 4> captions_{};    // the boxes' Label2, by sector number
    QPlainTextEdit* unplaced_ = nullptr;
};

}  // namespace fernwick::ui
