#pragma once
// The seven windows over one app_state. After every handler `sync` brings
// each window in line with the model, with signals blocked, so a sync never
// runs a handler; operator input runs its handler and then `sync`, which also
// drops the input made while the handler blocked.

#include <cstdint>
#include <memory>

#include <QElapsedTimer>

#include "core/app_state.h"

class QObject;
class QWidget;

namespace fernwick::ui {

class about_window;
class confirm_window;
class input_gate;
class location_window;
class main_window;
class reset_window;
class status_window;
class warning_window;

class shell {
public:
    // Sets the repaint, keep-alive and quit hooks of `s`; `s` must outlive the shell.
    explicit shell(core::app_state& s);
    ~shell();
    shell(const shell&) = delete;
    shell& operator=(const shell&) = delete;

    void sync();

    // The window of the model's window id; null for window_id::none.
    QWidget* window(core::window_id id) const;

    main_window& mainform() const { return *mainform_; }
    reset_window& RESETFORM() const { return *RESETFORM_; }
    status_window& statusform() const { return *statusform_; }
    location_window& LocationForm() const { return *LocationForm_; }
    confirm_window& ConfirmForm() const { return *ConfirmForm_; }
    warning_window& Warning() const { return *Warning_; }
    about_window& AboutForm() const { return *AboutForm_; }

private:
    void sync_windows();
    void follow_focus();

    core::app_state& s_;
    std::unique_ptr<input_gate> gate_;
    std::unique_ptr<QObject> restore_;  // brings back a fixed dialog the operator minimised
    std::unique_ptr<main_window> mainform_;
    std::unique_ptr<warning_window> Warning_;
    std::unique_ptr<confirm_window> ConfirmForm_;
    std::unique_ptr<status_window> statusform_;
    std::unique_ptr<location_window> LocationForm_;
    std::unique_ptr<reset_window> RESETFORM_;
    std::unique_ptr<about_window> AboutForm_;
    std::uint64_t focus_serial_ = 0;
    QElapsedTimer since_keep_alive_;
};

}  // namespace fernwick::ui
