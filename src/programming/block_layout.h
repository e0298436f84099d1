#pragma once
// Where the hex file's data and the bootstrap loader code land in the four
// flash sectors, as 64-byte programming blocks, and which bytes of the file
// reach no flash at all.

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
    bool has_hex_data = false;  // some byte of the hex file lies in the sector, under the code too
    long file_bytes = 0;        // bytes of the hex file placed into its blocks

    int block_address(std::size_t index) const { return range.first + static_cast<int>(index) * k_block_size; }
};

// Why bytes of the file reach no flash.
enum class unplaced_reason {
    no_segment,  // before the first address record: the file gives no segment
    after_end,   // after the end record
    no_sector,   // at an address no sector has under the chosen mapping
    under_code,  // at 0000h-005Fh of the sector that receives the bootstrap code
};

// Consecutive addresses whose bytes reach no flash for one reason.
struct unplaced_range {
    unplaced_reason reason = unplaced_reason::no_sector;
    int segment = k_no_segment;
    long first = 0;  // offsets in the segment, both included
    long last = 0;
    int first_line = 0;  // the file's lines that give them
    int last_line = 0;

    long bytes() const { return last - first + 1; }
};

struct hex_layout {
    std::array<sector_image, 4> sectors;
    std::vector<unplaced_range> unplaced;  // by reason, then segment and offset

    long unplaced_bytes() const;
};

// Every byte of the file goes to its own address, in the sector that holds
// it under the mapping (`sector0_segment`), except at 0000h-005Fh of the
// sector that `bsl_target` (0, 2 or -99) names, which receives the code. A
// byte that several records give is placed once, as the first of them
// gives it. A block holds 00h where the file gives no byte.
hex_layout lay_out_blocks(const hex_records& hex, int sector0_segment, int bsl_target);

}  // namespace fernwick::programming
