#pragma once
// The few looks every window is built from: the two window styles, colours,
// bold type, and the captioned controls named after the system's controls.

#include <functional>
#include <initializer_list>
#include <vector>

#include <QColor>
#include <QPalette>
#include <QString>

#include "core/app_state.h"

class QCheckBox;
class QGroupBox;
class QLabel;
class QPushButton;
class QRadioButton;
class QWidget;

namespace fernwick::ui {

// In both window styles a disabled window only takes no input: its texts
// keep their enabled colours.
// Fixed size, title bar with a close box only.
void make_fixed_dialog(QWidget* window);
// Resizable with a minimise button but no maximise button.
void make_sizable(QWidget* window);
// `w` and its children show `roles` in their enabled colours when disabled.
void keep_colours_when_disabled(QWidget* w, std::initializer_list<QPalette::ColorRole> roles);
// Lays `content` into `host` at its own size in the top left corner, so the
// controls keep their size and place when the window is resized.
void pin_top_left(QWidget* host, QWidget* content);

// Width that leaves the window's caption whole in a usual title bar, with
// its icon and buttons.
int title_room(const QWidget* window);

void set_background(QWidget* w, QColor colour);
void set_button_colour(QPushButton* b, QColor colour);
void set_bold(QWidget* w, int extra_points = 0);

QLabel* make_label(QWidget* parent, const char* name, const QString& caption);
QPushButton* make_button(QWidget* parent, const char* name, const QString& caption);
QRadioButton* make_option(QWidget* parent, const char* name, const QString& caption);
QCheckBox* make_check(QWidget* parent, const char* name);
QGroupBox* make_frame(QWidget* parent, const char* name, const QString& caption);

// Shows `chosen` as the selected option of its frame (none when null), with
// the frame's signals blocked.
void select_option(const std::vector<QRadioButton*>& frame, const QRadioButton* chosen);

// Brings a window's shown and enabled state in line with the model. A window
// kept above the main window opens centred on it each time it is shown, and
// a window comes to the front when shown.
void apply_window_state(QWidget* window, const core::window_state& state);

// Runs a handler for operator input, then lets every window catch up.
class input_route {
public:
    using handler = void (*)(core::app_state&);

    input_route(core::app_state& s, std::function<void()> after) : s_(s), after_(std::move(after)) {}

    void operator()(handler h) const
    {
        run([h](core::app_state& s) { h(s); });
    }
    void run(const std::function<void(core::app_state&)>& f) const
    {
        f(s_);
        if (after_) after_();
    }
    core::app_state& state() const { return s_; }

private:
    core::app_state& s_;
    std::function<void()> after_;
};

}  // namespace fernwick::ui
