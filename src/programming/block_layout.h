#pragma once
// Where the hex file's data and the bootstrap loader code land in the four
// flash sectors, as 64-byte programming blocks.

#include <array>
#include <string>
#include <vector>

#include "programming/hex_records.h"

namespace fernwick::programming {

inline constexpr int k_block_size = 64;  // bytes per programming block
inline constexpr int k_sector_size = 0x8000;
inline constexpr int k_blocks_per_sector = k_sector_size / k_block_size;
inline constexpr int k_bsl_code_end = 0x60;  // the code fills offsets below this

// A sector as the hex file addresses it: a segment and the offsets
// first <= offset < end.
struct flash_sector {
    int segment = 0;
    int first = 0;
    int end = 0;
};

flash_sector sector_range(int sector, int sector0_segment);

struct sector_image {
    flash_sector range;
    // One entry per block of the sector, in rising address: empty where the
    // sector gets no block, else 128 hex characters.
    std::vector<std::string> blocks;
    bool has_hex_data = false;  // some byte of the hex file lands here

    int block_address(std::size_t index) const { return range.first + static_cast<int>(index) * k_block_size; }
};

// The blocks of all four sectors. A run is a record and the records that
// directly follow it in the file, each at the offset where the one before
// ends. Runs are taken in rising start offset; a record that starts below
// the end of what the sector already took is skipped whole. A run of the
// lower half of segment 1 or 2 that goes on past 8000h puts those bytes
// into the sector of the upper half, which takes them before its own
// records; other bytes past a sector's end are dropped.
// `bsl_target` (0, 2 or -99) names the sector that receives the code, whose
// own data below 0060h is then dropped.
std::array<sector_image, 4> lay_out_blocks(const hex_records& hex, int sector0_segment, int bsl_target);

}  // namespace fernwick::programming
