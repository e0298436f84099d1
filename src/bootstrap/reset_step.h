#pragma once
// The reset window: port and baud choice, the reset step that sends the
// zero byte, and the bring-up time-out.

#include "core/app_state.h"

namespace fernwick::bootstrap {

void bs_2400_Click(core::app_state& s);
void bs_4800_Click(core::app_state& s);
void bs_9600_Click(core::app_state& s);
void bs_14400_Click(core::app_state& s);
void bs_19200_Click(core::app_state& s);
void com1__Click(core::app_state& s);
void com2__Click(core::app_state& s);
void RESET_OK_Click(core::app_state& s);
void Timer0_Timer(core::app_state& s);
// The close box of RESETFORM ends the program.
void RESETFORM_Unload(core::app_state& s);

}  // namespace fernwick::bootstrap
