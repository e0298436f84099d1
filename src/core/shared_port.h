#pragma once
// The bring-up's link and the command link of one session over one port.
// Opening a serial device asserts its modem lines and closing it lets them
// go, which would reset a board whose reset hangs on them between the
// bring-up and the commands. So once an entry sequence has set the lines, a
// link that closes keeps the device open, and the next link that opens the
// same port with the same settings goes on on it, the lines as they were.
// Without modem lines set, closing closes, as before.

#include "core/app_state.h"

namespace fernwick::core {

// A platform whose links share one link of `p`; one per session.
platform sharing_one_port(const platform& p);

}  // namespace fernwick::core
