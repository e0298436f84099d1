#pragma once
// The progress of a whole programming run in words, for the main window's
// bar and fernwick-cli's live line: the block being sent, its sector and
// the time left at the pace measured so far.

#include <chrono>
#include <optional>
#include <string>

#include "core/app_state.h"

namespace fernwick::core {

// The pace is measured over this much of the run before any time left is
// told: the first erase would otherwise count as part of the first blocks'
// time and the first figures would be several times too long.
inline constexpr std::chrono::seconds k_pace_measured_over{2};

// "0:45", "12:03", "1:02:09"; negative counts as 0.
std::string duration_text(int seconds);

// The seconds left at the pace of the blocks done since the run started,
// rounded up; nullopt while the pace is not yet known.
std::optional<int> seconds_left(const progress_state& p, std::chrono::steady_clock::time_point now);

// The blocks done as a whole percentage of the run's blocks (0 to 100).
int progress_percent(const progress_state& p);

// "Block 164 of 322, sector 3, about 0:45 left"; without the time left
// while it is not known. The block named is the one being sent.
std::string progress_text(const progress_state& p, std::chrono::steady_clock::time_point now);

}  // namespace fernwick::core
