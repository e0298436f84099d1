#pragma once
// fernwick-cli program: the operator's programming flow without windows.

#include <functional>
#include <iosfwd>

#include "core/app_state.h"
#include "station/file_preparation.h"

namespace fernwick::station {

// In the command phase: Load Hex-File, the location choices, OK, the boxes,
// Program Flash. Returns the exit status: 0 programmed, 1 an exchange with
// the chip failed, 2 the file could not be used (nothing was sent).
// `before_run`, once the file is checked again: false ends the flow as failed
// before anything is erased.
int run_programming_flow(core::app_state& s, const hex_choices& c, std::ostream& out, std::ostream& err,
                         const std::function<bool(core::app_state&)>& before_run = {});

}  // namespace fernwick::station
