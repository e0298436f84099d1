#include "programming/hex_scan.h"

#include "programming/block_layout.h"
#include "programming/bsl_code.h"
#include "programming/hex_records.h"

namespace fernwick::programming {

scan_result scan_sectors(const std::string& path, int sector0_segment, int bsl_target)
{
    const auto read = read_hex_records(path);
    if (!read.hex) return {std::nullopt, read.reason, read.fault};
    const auto& hex = read.hex;
    // The same placement as the conversion, so that a sector has data
    // whenever the conversion puts bytes of the file into it. Data below
    // 0060h counts in every sector, as if no code were placed. Where the
    // code does go, the run that starts first behind it can differ from the
    // one the plain placement takes, and carry other bytes past 7FFFh.
    const auto plain = lay_out_blocks(*hex, sector0_segment, k_bsl_nowhere);
    sector_flags flags{};
    for (std::size_t s = 0; s < flags.size(); ++s) flags[s] = plain[s].has_hex_data;
    if (bsl_target == k_bsl_nowhere) return {flags, {}, {}};
    const auto with_code = lay_out_blocks(*hex, sector0_segment, bsl_target);
    for (std::size_t s = 0; s < flags.size(); ++s) flags[s] = flags[s] || with_code[s].has_hex_data;
    return {flags, {}, {}};
}

}  // namespace fernwick::programming
