#pragma once
// The main window's own commands: About, Finish, Re-Start and its close box.

#include "core/app_state.h"

namespace fernwick::shell {

void About_flash__Click(core::app_state& s);
void AboutForm_Command1_Click(core::app_state& s);
void finish__Click(core::app_state& s);
void mainform_Unload(core::app_state& s);
void restart_flash__Click(core::app_state& s);

}  // namespace fernwick::shell
