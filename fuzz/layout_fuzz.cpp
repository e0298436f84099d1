// The block layout on text, without files: for both segments of sector 0,
// without the code and with the code where the first byte puts it, and the
// block records the conversion would write of it.

#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "layout_checks.h"
#include "programming/block_record.h"
#include "programming/hex_records.h"

namespace {

using namespace fernwick::programming;
using fernwick::fuzz::images;
using fernwick::fuzz::require;

// Every block, as a record of the block file, reads back to its fields.
void check_records_read_back(const images& layout)
{
    for (int s = 0; s < 4; ++s) {
        const auto& image = layout[static_cast<std::size_t>(s)];
        for (std::size_t b = 0; b < image.blocks.size(); ++b) {
            if (image.blocks[b].empty()) continue;
            const block_record written{s, image.block_address(b), image.range.segment, image.blocks[b],
                                       std::string(k_end_of_block)};
            const auto read = read_block_record(format_block_record(written));
            require(read.has_value(), "a written block record reads back");
            require(read->sector == written.sector && read->address == written.address &&
                        read->segment == written.segment && read->data == written.data &&
                        read->marker == written.marker,
                    "a block record reads back to its fields");
            fernwick::fuzz::check_block_record(*read, layout);
        }
    }
}

// Where sector 0 lies changes nothing in the other sectors without the code.
void check_upper_sectors_alike(const images& segment0, const images& segment1)
{
    for (std::size_t s = 1; s < 4; ++s) {
        require(segment0[s].has_hex_data == segment1[s].has_hex_data, "sectors 1-3 have data alike for both segments");
        require(segment0[s].blocks == segment1[s].blocks, "sectors 1-3 laid out alike for both segments");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const auto choice = fernwick::fuzz::read_choice(data, size);
    const hex_records hex = parse_hex_records(choice.hex_text);
    const bool conflict_free = !find_conflict(hex);
    std::array<images, 2> plain;
    for (const int segment : {0, 1}) {
        const auto without_code = lay_out_blocks(hex, segment, k_bsl_nowhere);
        plain[static_cast<std::size_t>(segment)] = without_code.sectors;
        fernwick::fuzz::check_images(without_code.sectors, segment, k_bsl_nowhere);
        fernwick::fuzz::check_every_byte_told(hex, without_code, segment, k_bsl_nowhere, conflict_free);
        const auto converted = lay_out_blocks(hex, segment, choice.bsl_target);
        fernwick::fuzz::check_images(converted.sectors, segment, choice.bsl_target);
        fernwick::fuzz::check_every_byte_told(hex, converted, segment, choice.bsl_target, conflict_free);
        check_records_read_back(converted.sectors);
    }
    check_upper_sectors_alike(plain[0], plain[1]);
    return 0;
}
