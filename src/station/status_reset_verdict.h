#pragma once
// The status and reset commands on one board: when each has ended, and what
// status prints for the operator's scripts.

#include <iosfwd>

#include "station/headless_session.h"

namespace fernwick::station {

cli_session::verdict status_verdict(const core::app_state& s);
cli_session::verdict reset_verdict(const core::app_state& s);

// "Sector n: XXXX" for each sector, as the status window shows them.
void print_sector_status(std::ostream& out, const core::app_state& s);

}  // namespace fernwick::station
