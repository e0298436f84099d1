#pragma once
// The status and software-reset commands, and the status window's Close.

#include "core/app_state.h"

namespace fernwick::command {

void show_status_Click(core::app_state& s);
void reset_micro__Click(core::app_state& s);
void status_cancel_Click(core::app_state& s);
void statusform_Unload(core::app_state& s);

}  // namespace fernwick::command
