#pragma once
// The handshake with the chip's bootstrap loader on the bootstrap link.

#include "core/app_state.h"

namespace fernwick::bootstrap {

void MSCom0_OnComm(core::app_state& s, int comm_event);

}  // namespace fernwick::bootstrap
