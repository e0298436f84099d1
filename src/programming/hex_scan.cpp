#include "programming/hex_scan.h"

#include "programming/hex_records.h"

namespace fernwick::programming {

scan_result scan_sectors(const std::string& path, int sector0_segment, int bsl_target)
{
    const auto read = read_hex_records(path);
    if (!read.hex) return {std::nullopt, {}, read.reason, read.fault};
    return scan_records(*read.hex, sector0_segment, bsl_target);
}

scan_result scan_records(const hex_records& hex, int sector0_segment, int bsl_target)
{
    auto layout = lay_out_blocks(hex, sector0_segment, bsl_target);
    sector_flags flags{};
    for (std::size_t s = 0; s < flags.size(); ++s) flags[s] = layout.sectors[s].has_hex_data;
    return {flags, std::move(layout.unplaced), {}, {}};
}

}  // namespace fernwick::programming
