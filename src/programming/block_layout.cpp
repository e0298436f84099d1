#include "programming/block_layout.h"

#include <algorithm>
#include <tuple>

#include "programming/bsl_code.h"
#include "programming/hex_line.h"

namespace fernwick::programming {

namespace {

constexpr long k_segment_size = 0x10000;

// The sector at the address under the mapping; -1 when no sector lies there.
int sector_at(int segment, long offset, int sector0_segment)
{
    if (offset < 0 || offset >= k_segment_size) return -1;
    const bool lower = offset < k_sector_size;
    if (segment == sector0_segment && lower) return 0;
    if (segment == 1 && !lower) return 1;
    if (segment == 2) return lower ? 2 : 3;
    return -1;
}

class layout_builder {
public:
    layout_builder(int sector0_segment, int bsl_target) : sector0_segment_(sector0_segment), bsl_target_(bsl_target)
    {
        for (int s = 0; s < 4; ++s) {
            auto& image = layout_.sectors[static_cast<std::size_t>(s)];
            image.range = sector_range(s, sector0_segment);
            image.blocks.resize(k_blocks_per_sector);
            placed_[static_cast<std::size_t>(s)].resize(k_sector_size);
        }
        if (bsl_target != 0 && bsl_target != 2) return;
        auto& blocks = layout_.sectors[static_cast<std::size_t>(bsl_target)].blocks;
        blocks[0] = bsl_code_1;
        blocks[1] = bsl_code_2_block;
    }

    void take(const hex_records& hex, const data_record& r)
    {
        if (r.after_end || r.segment == k_no_segment) {
            const auto why = r.after_end ? unplaced_reason::after_end : unplaced_reason::no_segment;
            note_unplaced(why, r, r.offset, r.offset + r.length - 1);
            return;
        }
        const std::string_view data = hex.data_of(r);
        const long end = r.offset + r.length;
        // The record in pieces that each lie in one sector, or in none, and
        // wholly under the code or not.
        for (long offset = r.offset; offset < end;) {
            const long piece_end = std::min(end, offset < k_bsl_code_end  ? k_bsl_code_end
                                                 : offset < k_sector_size ? k_sector_size
                                                                          : std::max(offset + 1, k_segment_size));
            const int sector = sector_at(r.segment, offset, sector0_segment_);
            if (sector < 0) {
                note_unplaced(unplaced_reason::no_sector, r, offset, piece_end - 1);
            } else {
                auto& image = layout_.sectors[static_cast<std::size_t>(sector)];
                image.has_hex_data = true;
                const long at = offset - image.range.first;
                if (sector == bsl_target_ && at < k_bsl_code_end) {
                    note_unplaced(unplaced_reason::under_code, r, offset, piece_end - 1);
                } else {
                    for (long o = offset; o < piece_end; ++o)
                        place(sector, o - image.range.first, data_byte_chars(data, static_cast<int>(o - r.offset)));
                }
            }
            offset = piece_end;
        }
    }

    hex_layout finish()
    {
        auto& ranges = layout_.unplaced;
        std::sort(ranges.begin(), ranges.end(), [](const unplaced_range& a, const unplaced_range& b) {
            return std::tuple(a.reason, a.segment, a.first) < std::tuple(b.reason, b.segment, b.first);
        });
        std::vector<unplaced_range> merged;
        for (const auto& r : ranges) {
            if (!merged.empty() && merged.back().reason == r.reason && merged.back().segment == r.segment &&
                r.first <= merged.back().last + 1) {
                auto& m = merged.back();
                m.last = std::max(m.last, r.last);
                m.first_line = std::min(m.first_line, r.first_line);
                m.last_line = std::max(m.last_line, r.last_line);
            } else {
                merged.push_back(r);
            }
        }
        ranges = std::move(merged);
        return std::move(layout_);
    }

private:
    void place(int sector, long at, std::array<char, 2> chars)
    {
        auto placed = placed_[static_cast<std::size_t>(sector)].begin() + at;
        if (*placed) return;  // given before: the same byte, or the file was refused
        *placed = true;
        auto& image = layout_.sectors[static_cast<std::size_t>(sector)];
        std::string& block = image.blocks[static_cast<std::size_t>(at / k_block_size)];
        if (block.empty()) block.assign(std::size_t{k_block_size} * 2, '0');
        const auto pos = static_cast<std::size_t>(at % k_block_size) * 2;
        block[pos] = chars[0];
        block[pos + 1] = chars[1];
        ++image.file_bytes;
    }

    // Bytes of one record come in rising offset: a neighbour extends the
    // range before, and ranges of several records are merged at the end.
    void note_unplaced(unplaced_reason why, const data_record& r, long first, long last)
    {
        auto& ranges = layout_.unplaced;
        if (!ranges.empty()) {
            auto& open = ranges.back();
            if (open.reason == why && open.segment == r.segment && open.last + 1 == first && open.last_line == r.line) {
                open.last = last;
                return;
            }
        }
        ranges.push_back({why, r.segment, first, last, r.line, r.line});
    }

    int sector0_segment_;
    int bsl_target_;
    hex_layout layout_;
    std::array<std::vector<bool>, 4> placed_;
};

}  // namespace

long hex_layout::unplaced_bytes() const
{
    long bytes = 0;
    for (const auto& r : unplaced) bytes += r.bytes();
    return bytes;
}

flash_sector sector_range(int sector, int sector0_segment)
{
    switch (sector) {
    case 0: return {sector0_segment, 0x0000, 0x8000};
    case 1: return {1, 0x8000, 0x10000};
    case 2: return {2, 0x0000, 0x8000};
    default: return {2, 0x8000, 0x10000};
    }
}

hex_layout lay_out_blocks(const hex_records& hex, int sector0_segment, int bsl_target)
{
    layout_builder builder(sector0_segment, bsl_target);
    for (const auto& r : hex.records) builder.take(hex, r);
    return builder.finish();
}

}  // namespace fernwick::programming
