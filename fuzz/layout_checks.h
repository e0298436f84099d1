#pragma once
// Invariants of the block layout that the layout and conversion fuzz
// targets check on every input.

#include <array>

#include "programming/block_layout.h"
#include "programming/block_record.h"
#include "programming/hex_scan.h"

namespace fernwick::fuzz {

using images = std::array<programming::sector_image, 4>;

// Every sector has its range and 512 block places, each empty or 128 hex
// digits; with the code in sector 0 or 2 the code's bytes stand unchanged.
void check_images(const images& layout, int sector0_segment, int bsl_target);

// The sectors that the scan marks, for both segments of sector 0, hold every
// sector into which the conversion puts data of the file.
void check_scan_covers(const programming::sector_flags& scanned, const images& converted);

// Every byte of the file is told: placed in a block with its own value (when
// no two records give one address different bytes), or in exactly one range
// of bytes that reach no flash, with the reason that fits its address; the
// ranges are ordered, apart, and name lines of records that give them.
void check_every_byte_told(const programming::hex_records& hex, const programming::hex_layout& layout,
                           int sector0_segment, int bsl_target, bool conflict_free);

// A block record of the block file: in its sector's range and segment, on a
// block boundary, 128 hex digits, marked sound, and the very block the
// layout made there.
void check_block_record(const programming::block_record& record, const images& layout);

}  // namespace fernwick::fuzz
