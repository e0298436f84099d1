#include "ui/shell.h"

#include <cstdio>
#include <cstdlib>

#include <QApplication>
#include <QTimer>
#include <QWindow>

#include "ui/about_window.h"
#include "ui/confirm_window.h"
#include "ui/input_gate.h"
#include "ui/location_window.h"
#include "ui/main_window.h"
#include "ui/reset_window.h"
#include "ui/status_window.h"
#include "ui/warning_window.h"

namespace fernwick::ui {

namespace {

// Progress shows five times a second during a long blocking step.
constexpr qint64 k_keep_alive_ms = 200;

// The program ends at once: no handler runs after this, nothing is saved,
// and the system releases the windows and the serial ports. Only what was
// registered for a quick exit runs (the link trace completes its file).
[[noreturn]] void end_program()
{
    std::fflush(nullptr);
    std::quick_exit(0);
}

// The window manager keeps `dialog` above `main`: the main window takes the
// focus back while the flash status shows, and a click on the disabled main
// window must not bury the dialog that waits for an answer. Only a dialog is
// marked as belonging to its main window (WM_TRANSIENT_FOR on X11).
void keep_above(QWidget* dialog, QWidget* main)
{
    dialog->setWindowFlags((dialog->windowFlags() & ~Qt::WindowType_Mask) | Qt::Dialog);
    dialog->winId();
    main->winId();
    dialog->windowHandle()->setTransientParent(main->windowHandle());
}

// The window manager minimises a dialog together with its main window (the
// whole group of windows kept above it), so that minimising a dialog hides the
// whole program until Alt+Tab; a fixed dialog has no minimise button, but
// some window managers offer one anyway. A dialog the operator minimised (it
// was the active window) comes back at once with its main window; the main
// window minimised by the operator takes the dialogs with it as before.
class keep_dialog_shown : public QObject {
public:
    explicit keep_dialog_shown(QWidget* main) : main_(main) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() != QEvent::WindowStateChange) return false;
        auto* dialog = static_cast<QWidget*>(watched);
        if (!dialog->isMinimized() || QApplication::activeWindow() != dialog) return false;
        QTimer::singleShot(0, dialog, [dialog, main = main_] {
            main->showNormal();
            dialog->showNormal();
            dialog->raise();
            dialog->activateWindow();
        });
        return false;
    }

private:
    QWidget* main_;
};

}  // namespace

shell::shell(core::app_state& s) : s_(s), gate_(std::make_unique<input_gate>())
{
    const input_route route(s, [this] { sync(); });
    // Created in the order of start-up.
    mainform_ = std::make_unique<main_window>(route);
    Warning_ = std::make_unique<warning_window>(route);
    ConfirmForm_ = std::make_unique<confirm_window>(route);
    statusform_ = std::make_unique<status_window>(route);
    LocationForm_ = std::make_unique<location_window>(route);
    RESETFORM_ = std::make_unique<reset_window>(route);
    AboutForm_ = std::make_unique<about_window>(route);
    for (auto id : {core::window_id::Warning, core::window_id::ConfirmForm, core::window_id::statusform,
                    core::window_id::LocationForm, core::window_id::AboutForm}) {
        keep_above(window(id), mainform_.get());
    }
    restore_ = std::make_unique<keep_dialog_shown>(mainform_.get());
    for (auto id : {core::window_id::Warning, core::window_id::ConfirmForm, core::window_id::LocationForm,
                    core::window_id::AboutForm}) {
        window(id)->installEventFilter(restore_.get());
    }

    // Shows what the handler wrote so far before it goes on with a blocking
    // step; only painting, so no other handler can run in between. What the
    // operator does until the handler returns is dropped, not carried out
    // after it (a close box or Re-Start clicked during a run).
    s_.repaint = [this] {
        gate_->hold();
        sync_windows();
        mainform_->repaint();
    };
    s_.keep_alive = [this] {
        if (since_keep_alive_.isValid() && since_keep_alive_.elapsed() < k_keep_alive_ms) return;
        since_keep_alive_.start();
        s_.repaint_now();
    };
    s_.quit = end_program;
}

shell::~shell()
{
    s_.repaint = nullptr;
    s_.keep_alive = nullptr;
    s_.quit = nullptr;
}

void shell::sync()
{
    sync_windows();
    gate_->release();
}

void shell::sync_windows()
{
    mainform_->sync();
    Warning_->sync();
    ConfirmForm_->sync();
    statusform_->sync();
    LocationForm_->sync();
    RESETFORM_->sync();
    AboutForm_->sync();
    follow_focus();
}

QWidget* shell::window(core::window_id id) const
{
    switch (id) {
    case core::window_id::mainform: return mainform_.get();
    case core::window_id::Warning: return Warning_.get();
    case core::window_id::ConfirmForm: return ConfirmForm_.get();
    case core::window_id::statusform: return statusform_.get();
    case core::window_id::LocationForm: return LocationForm_.get();
    case core::window_id::RESETFORM: return RESETFORM_.get();
    case core::window_id::AboutForm: return AboutForm_.get();
    case core::window_id::none: break;
    }
    return nullptr;
}

void shell::follow_focus()
{
    if (s_.focus.serial == focus_serial_) return;
    focus_serial_ = s_.focus.serial;
    QWidget* w = window(s_.focus.window);
    if (w == nullptr || !w->isVisible()) return;
    w->raise();
    w->activateWindow();
}

}  // namespace fernwick::ui
