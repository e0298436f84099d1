#include "layout_checks.h"

#include <string>

#include "fuzz_support.h"
#include "programming/bsl_code.h"

namespace fernwick::fuzz {

namespace {

using programming::k_block_size;

bool all_hex_digits(std::string_view text)
{
    return text.find_first_not_of("0123456789ABCDEFabcdef") == std::string_view::npos;
}

bool same_range(const programming::flash_sector& a, const programming::flash_sector& b)
{
    return a.segment == b.segment && a.first == b.first && a.end == b.end;
}

}  // namespace

void check_images(const images& layout, int sector0_segment, int bsl_target)
{
    for (int s = 0; s < 4; ++s) {
        const auto& image = layout[static_cast<std::size_t>(s)];
        require(same_range(image.range, programming::sector_range(s, sector0_segment)), "a sector's range");
        require(image.blocks.size() == programming::k_blocks_per_sector, "the number of block places");
        bool any_block = false;
        for (const auto& block : image.blocks) {
            if (block.empty()) continue;
            any_block = true;
            require(block.size() == std::size_t{k_block_size} * 2, "a block of 128 characters");
            require(all_hex_digits(block), "a block of hex digits only");
        }
        require(any_block || !image.has_hex_data, "a sector with data but no block");
    }
    if (bsl_target != 0 && bsl_target != 2) return;
    const auto& code_sector = layout[static_cast<std::size_t>(bsl_target)];
    require(code_sector.blocks[0] == programming::bsl_code_1, "the code's first block");
    require(code_sector.blocks[1].substr(0, programming::bsl_code_2.size()) == programming::bsl_code_2,
            "the code's second block");
}

void check_scan_covers(const programming::sector_flags& scanned, const images& converted)
{
    for (std::size_t s = 0; s < 4; ++s) {
        require(scanned[s] || !converted[s].has_hex_data, "a sector with converted data that the scan missed");
    }
}

void check_block_record(const programming::block_record& record, const images& layout)
{
    require(record.sector >= 0 && record.sector < 4, "a sector number");
    const auto& image = layout[static_cast<std::size_t>(record.sector)];
    require(record.segment == image.range.segment, "the segment of the record's sector");
    require(record.address >= image.range.first && record.address < image.range.end, "an address in the sector");
    require(record.address % k_block_size == 0, "an address on a block boundary");
    require(record.marker == programming::k_end_of_block, "the end-of-block marker");
    require(record.data.size() == std::size_t{k_block_size} * 2, "a record of 128 characters");
    const auto index = static_cast<std::size_t>((record.address - image.range.first) / k_block_size);
    require(record.data == image.blocks[index], "the block the layout made");
}

}  // namespace fernwick::fuzz
