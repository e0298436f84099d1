#pragma once
// The words that tell the operator which bytes of the hex file reach no
// flash, and why: the same in the log and on the command line.

#include <cstddef>
#include <string>
#include <vector>

#include "programming/block_layout.h"

namespace fernwick::programming {

inline constexpr std::size_t k_listed_ranges = 20;  // more are summed up in one line

// "02'0000h-02'001Fh (line 3, 32 bytes): under the bootstrap loader code of sector 2"
std::string unplaced_line(const unplaced_range& r, int sector0_segment);

// One line per range, at most k_listed_ranges of them, then one line for the rest.
std::vector<std::string> unplaced_lines(const std::vector<unplaced_range>& ranges, int sector0_segment);

// "1 byte", "32 bytes", "12 KiB", "1.5 KiB".
std::string amount_text(long bytes);

}  // namespace fernwick::programming
