#pragma once
// Which flash sectors an Intel-Hex file gives data to.

#include <array>
#include <optional>
#include <string>

#include "programming/bsl_code.h"

namespace fernwick::programming {

using sector_flags = std::array<bool, 4>;

// Reads the file once; nullopt when it cannot be read. A sector has data
// when the conversion with the code at `bsl_target` puts bytes of the file
// into it: records with data that start in it, and bytes that a run carries
// past 7FFFh of the segment half below.
std::optional<sector_flags> scan_sectors(const std::string& path, int sector0_segment,
                                         int bsl_target = k_bsl_nowhere);

}  // namespace fernwick::programming
