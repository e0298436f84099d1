#pragma once
// The reply engine of the command link: judges the resident program's answers
// byte by byte, bounded by the reply timer.

#include <cstdint>
#include <string>

#include "core/app_state.h"

namespace fernwick::command {

void COM_OnComm(core::app_state& s, int comm_event);
void Timer_Timer(core::app_state& s);

}  // namespace fernwick::command
