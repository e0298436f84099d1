#include "programming/hex_scan.h"

#include "programming/block_layout.h"
#include "programming/bsl_code.h"
#include "programming/hex_records.h"

namespace fernwick::programming {

std::optional<sector_flags> scan_sectors(const std::string& path, int sector0_segment)
{
    const auto hex = read_hex_records(path);
    if (!hex) return std::nullopt;
    // The same placement as the conversion, so that a sector has data
    // exactly when the conversion puts bytes of the file into it. The code's
    // place is not chosen for good yet, so data below 0060h counts here in
    // every sector.
    const auto images = lay_out_blocks(*hex, sector0_segment, k_bsl_nowhere);
    sector_flags flags{};
    for (std::size_t s = 0; s < flags.size(); ++s) flags[s] = images[s].has_hex_data;
    return flags;
}

}  // namespace fernwick::programming
