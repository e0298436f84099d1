#include "programming/block_layout.h"

#include <algorithm>
#include <numeric>
#include <utility>

#include "programming/bsl_code.h"
#include "programming/hex_line.h"

namespace fernwick::programming {

namespace {

constexpr int k_segment_size = 0x10000;

using byte_chars = std::array<char, 2>;

// Places bytes into one half of a segment: into the sector image when the
// half is a sector, nowhere when it is none. Bytes past the half's end go to
// `carry_out`, the bytes for the upper half of the same segment, when that
// half is a sector.
class area_builder {
public:
    area_builder(flash_sector range, sector_image* image, std::vector<byte_chars>* carry_out)
        : range_(range), image_(image), carry_out_(carry_out)
    {
    }

    void put(int offset, byte_chars chars)
    {
        if (offset >= range_.end) {
            if (carry_out_ && offset < k_segment_size) carry_out_->push_back(chars);
            return;
        }
        if (!image_) return;
        std::string& block = block_at(offset);
        const auto at = static_cast<std::size_t>(offset % k_block_size) * 2;
        block[at] = chars[0];
        block[at + 1] = chars[1];
        image_->has_hex_data = true;
    }

    void put_code(int offset, std::string_view code) { block_at(offset).replace(0, code.size(), code); }

private:
    std::string& block_at(int offset)
    {
        const auto index = static_cast<std::size_t>((offset - range_.first) / k_block_size);
        std::string& block = image_->blocks[index];
        if (block.empty()) block.assign(std::size_t{k_block_size} * 2, '0');
        return block;
    }

    flash_sector range_;
    sector_image* image_;
    std::vector<byte_chars>* carry_out_;
};

class layout {
public:
    layout(const hex_records& hex, int sector0_segment, int bsl_target)
        : hex_(hex), sector0_segment_(sector0_segment), bsl_target_(bsl_target), by_offset_(hex.records.size())
    {
        // Lowest offset first; of equal offsets the one earlier in the file.
        std::iota(by_offset_.begin(), by_offset_.end(), std::size_t{0});
        std::stable_sort(by_offset_.begin(), by_offset_.end(), [&](std::size_t a, std::size_t b) {
            const auto& ra = hex_.records[a];
            const auto& rb = hex_.records[b];
            return std::pair{ra.segment, ra.offset} < std::pair{rb.segment, rb.offset};
        });
    }

    std::array<sector_image, 4> build()
    {
        std::array<sector_image, 4> images;
        for (int s = 0; s < 4; ++s) {
            images[static_cast<std::size_t>(s)].range = sector_range(s, sector0_segment_);
            images[static_cast<std::size_t>(s)].blocks.resize(k_blocks_per_sector);
        }
        // What runs of the lower halves of segments 1 and 2 carry past 8000h.
        std::vector<byte_chars> into_sector1;
        std::vector<byte_chars> into_sector3;
        const bool sector0_in_segment1 = sector0_segment_ == 1;
        // The lower half of segment 1 is sector 0 or no sector; either way a
        // run there that goes on past 8000h lands in sector 1.
        fill_area({1, 0x0000, 0x8000}, sector0_in_segment1 ? &images[0] : nullptr, {}, &into_sector1,
                  sector0_in_segment1 && bsl_target_ == 0);
        if (!sector0_in_segment1) fill_area(images[0].range, &images[0], {}, nullptr, bsl_target_ == 0);
        fill_area(images[1].range, &images[1], into_sector1, nullptr, false);
        fill_area(images[2].range, &images[2], {}, &into_sector3, bsl_target_ == 2);
        fill_area(images[3].range, &images[3], into_sector3, nullptr, false);
        return images;
    }

private:
    void fill_area(const flash_sector& range, sector_image* image, const std::vector<byte_chars>& carried_in,
                   std::vector<byte_chars>* carry_out, bool with_code)
    {
        area_builder builder(range, image, carry_out);
        int taken_end = range.first;
        if (with_code) {
            builder.put_code(0, bsl_code_1);
            builder.put_code(k_block_size, bsl_code_2_block);
            taken_end = k_bsl_code_end;
        }
        // Bytes carried in come first, from the first offset on.
        for (const byte_chars& chars : carried_in) builder.put(taken_end++, chars);

        const std::pair<int, int> from{range.segment, taken_end};
        auto it = std::lower_bound(by_offset_.begin(), by_offset_.end(), from, [&](std::size_t i, const auto& key) {
            return std::pair{hex_.records[i].segment, hex_.records[i].offset} < key;
        });
        for (; it != by_offset_.end(); ++it) {
            const auto& rec = hex_.records[*it];
            if (rec.segment != range.segment || rec.offset >= range.end) break;
            if (rec.offset < taken_end) continue;
            taken_end = take_run(*it, builder);
        }
    }

    // Places the record and every record that directly follows it in the
    // file at the next offset; returns the offset after the last byte.
    int take_run(std::size_t i, area_builder& builder) const
    {
        for (;;) {
            const data_record& rec = hex_.records[i];
            const std::string_view data = hex_.data_of(rec);
            for (int k = 0; k < rec.length; ++k) builder.put(rec.offset + k, data_byte_chars(data, k));
            const int end = rec.offset + rec.length;
            const bool continues = i + 1 < hex_.records.size() && hex_.records[i + 1].follows_data_line &&
                                   hex_.records[i + 1].offset == end;
            if (!continues) return end;
            ++i;
        }
    }

    const hex_records& hex_;
    int sector0_segment_;
    int bsl_target_;
    std::vector<std::size_t> by_offset_;
};

}  // namespace

flash_sector sector_range(int sector, int sector0_segment)
{
    switch (sector) {
    case 0: return {sector0_segment, 0x0000, 0x8000};
    case 1: return {1, 0x8000, 0x10000};
    case 2: return {2, 0x0000, 0x8000};
    default: return {2, 0x8000, 0x10000};
    }
}

std::array<sector_image, 4> lay_out_blocks(const hex_records& hex, int sector0_segment, int bsl_target)
{
    return layout(hex, sector0_segment, bsl_target).build();
}

}  // namespace fernwick::programming
