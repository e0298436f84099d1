#pragma once
// LocationForm: where the bootstrap loader code lies now, where it shall lie
// after programming, and to which segment sector 0 is mapped.

#include <cstdint>
#include <vector>

#include <QWidget>

#include "ui/window_style.h"

class QBoxLayout;
class QLabel;
class QRadioButton;

namespace fernwick::ui {

class location_window : public QWidget {
public:
    explicit location_window(input_route route);

    void sync();

    // One option button of a frame and the value its click chooses.
    struct option {
        QRadioButton* button;
        std::int16_t value;
    };

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    QWidget* build_now_frame(QWidget* parent);
    QWidget* build_target_frame(QWidget* parent);
    QWidget* build_segment_frame(QWidget* parent);

    input_route route_;
    std::vector<option> now_;
    std::vector<option> target_;
    std::vector<option> segment_;
    QLabel* preselected_ = nullptr;
};

}  // namespace fernwick::ui
