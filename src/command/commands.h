#pragma once
// The status and software-reset commands, and the status window's Close.

#include "core/app_state.h"

namespace fernwick::command {

void show_status_Click(core::app_state& s);
void reset_micro__Click(core::app_state& s);
void status_cancel_Click(core::app_state& s);
void statusform_Unload(core::app_state& s);

// Writes a command and starts the reply timer. A write the port refuses is
// reported at once and ends the command phase, rather than timing out.
void send_command(core::app_state& s, const core::byte_string& command);

}  // namespace fernwick::command
