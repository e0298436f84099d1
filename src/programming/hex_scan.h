#pragma once
// Which flash sectors an Intel-Hex file gives data to, and which of its
// bytes reach no flash.

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "programming/block_layout.h"
#include "programming/bsl_code.h"
#include "programming/hex_check.h"
#include "programming/hex_records.h"

namespace fernwick::programming {

using sector_flags = std::array<bool, 4>;

struct scan_result {
    std::optional<sector_flags> flags;
    std::vector<unplaced_range> unplaced;  // with the code at `bsl_target`
    std::string reason;                    // the file cannot be read: the system's reason
    std::optional<hex_fault> fault;        // the file is damaged: its first fault
};

// Reads the file once; no flags when it cannot be read or is damaged. A
// sector has data when some byte of the file lies at one of its addresses,
// also where the code goes.
scan_result scan_sectors(const std::string& path, int sector0_segment, int bsl_target = k_bsl_nowhere);

// The same of records read before: always with flags.
scan_result scan_records(const hex_records& hex, int sector0_segment, int bsl_target = k_bsl_nowhere);

}  // namespace fernwick::programming
