#include "layout_checks.h"

#include <optional>
#include <set>
#include <string>
#include <tuple>

#include "core/hex_text.h"
#include "fuzz_support.h"
#include "programming/bsl_code.h"
#include "programming/hex_line.h"

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

// The sector at a segment and offset; -1 for none.
int sector_at(int segment, long offset, int sector0_segment)
{
    for (int s = 0; s < 4; ++s) {
        const auto r = programming::sector_range(s, sector0_segment);
        if (segment == r.segment && offset >= r.first && offset < r.end) return s;
    }
    return -1;
}

using reason = programming::unplaced_reason;

// Where a record's byte belongs: the reason it reaches no flash, or none.
std::optional<reason> told_reason(const programming::data_record& r, long offset, int sector0_segment, int bsl_target)
{
    if (r.after_end) return reason::after_end;
    if (r.segment == programming::k_no_segment) return reason::no_segment;
    const int sector = sector_at(r.segment, offset, sector0_segment);
    if (sector < 0) return reason::no_sector;
    if (sector == bsl_target && offset < programming::k_bsl_code_end) return reason::under_code;
    return std::nullopt;
}

int block_byte(const programming::sector_image& image, long offset)
{
    const auto& block = image.blocks[static_cast<std::size_t>((offset - image.range.first) / k_block_size)];
    const auto at = static_cast<std::size_t>((offset - image.range.first) % k_block_size) * 2;
    return core::hex_digit_value(block[at]) * 16 + core::hex_digit_value(block[at + 1]);
}

}  // namespace

void check_every_byte_told(const programming::hex_records& hex, const programming::hex_layout& layout,
                           int sector0_segment, int bsl_target, bool conflict_free)
{
    // Each byte once: by its reason and segment, or placed by its segment.
    std::set<std::tuple<int, int, long>> bytes;
    for (const auto& r : hex.records) {
        const auto data = hex.data_of(r);
        for (int k = 0; k < r.length; ++k) {
            const long offset = r.offset + k;
            const auto why = told_reason(r, offset, sector0_segment, bsl_target);
            bytes.insert({why ? static_cast<int>(*why) : -1, r.segment, offset});
            if (why) {
                bool in_one = false;
                for (const auto& u : layout.unplaced) {
                    const bool here = u.reason == *why && u.segment == r.segment && offset >= u.first &&
                                      offset <= u.last && r.line >= u.first_line && r.line <= u.last_line;
                    require(!(here && in_one), "a byte in one range only");
                    in_one = in_one || here;
                }
                require(in_one, "a byte that reaches no flash lies in a range with its reason");
                continue;
            }
            const auto chars = programming::data_byte_chars(data, k);
            const int value = core::hex_digit_value(chars[0]) * 16 + core::hex_digit_value(chars[1]);
            const auto& image = layout.sectors[static_cast<std::size_t>(sector_at(r.segment, offset, sector0_segment))];
            require(!conflict_free || block_byte(image, offset) == value, "a placed byte holds its value");
        }
    }
    long counted = layout.unplaced_bytes();
    for (const auto& image : layout.sectors) counted += image.file_bytes;
    require(counted == static_cast<long>(bytes.size()), "every byte of the file counted once");
    for (std::size_t i = 0; i < layout.unplaced.size(); ++i) {
        const auto& u = layout.unplaced[i];
        require(u.first <= u.last && u.first_line <= u.last_line, "a range in order");
        if (i == 0) continue;
        const auto& before = layout.unplaced[i - 1];
        require(std::tuple(before.reason, before.segment, before.last + 1) < std::tuple(u.reason, u.segment, u.first),
                "ranges in order and apart");
    }
}

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
