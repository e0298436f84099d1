#pragma once
// Routes the notifications of the two serial links and the ticks of the two
// timers to their handlers; `after` runs when each handler has returned (the
// windows bring themselves in line with the model there).

#include <functional>

#include "core/app_state.h"

namespace fernwick::shell {

void connect_events(core::app_state& s, const std::function<void()>& after);

}  // namespace fernwick::shell
