#pragma once
// A board run again after a failure, up to a bound. Each attempt starts
// from where the one before left the bootstrap loader code, so that no
// retry can leave a board without it.

#include <functional>
#include <iosfwd>
#include <string>

#include "station/board_session.h"

namespace fernwick::station {

// Runs the job, and after a failure (never after a stop, a file that could
// not be used, or a board that is gone) brings the board up and runs it
// again, up to `retries` times. An attempt that starts with the code
// elsewhere plans the file anew; the file must still be the one whose
// SHA-256 is `hex_sha256`. A job that waits for its board until it answers
// (a station's) waits no longer in a later attempt, and makes one only when
// the chip was reset by software or by the entry sequence: a board reset by
// hand would answer as the next board does. The outcome is the last
// attempt's with every attempt in `attempts` (with `retries` 0, the single
// run's as it is), where the code lies taken from the last attempt that
// knew it.
board_outcome run_with_retries(board_job job, int retries, const std::string& hex_sha256, std::ostream& log,
                               std::ostream& notes, const std::function<void(const board_progress&)>& watch);

}  // namespace fernwick::station
