#pragma once
// The entry and exit sequences on the adapter's modem lines: a board reset
// into its bootstrap mode before the zero byte, and out of it after a run
// that succeeded, so that its new program starts.

#include "core/app_state.h"

namespace fernwick::bootstrap {

// The entry sequence, where one is given, on the open bring-up link, said in
// the log unless `quiet` (a repeat while waiting for the board). False after
// an error block naming the port and the sequence, the link closed, when
// the port has no modem lines or refuses them; nothing was sent then.
bool enter_bootstrap_mode(core::app_state& s, bool quiet);

// The exit sequence, where one is given, on the command link, said in the
// log. The board then runs its program, so the command menus hide.
void leave_bootstrap_mode(core::app_state& s);

}  // namespace fernwick::bootstrap
