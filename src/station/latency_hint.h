#pragma once
// The hint printed after a run whose answers came late: a USB adapter's
// latency timer holds short answers back, which costs a block exchange up
// to a third of its time.

#include <iosfwd>
#include <vector>

#include "station/board_outcome.h"

namespace fernwick::station {

// From this average delay on, the answers are taken to be held back.
inline constexpr double k_late_answer_ms = 8;

// Prints one hint for all boards whose answers came k_late_answer_ms or
// more late on average: each one's latency timer file and how to set it to
// 1 ms, then a udev rule that does so for every such adapter from then on.
// Prints nothing when no board's answers came late.
void print_latency_hint(std::ostream& out, const std::vector<board_outcome>& boards);

}  // namespace fernwick::station
