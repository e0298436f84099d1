// Inputs the fuzz targets in fuzz/ broke an invariant with, or came close
// to, kept as cases of the scan and the conversion.

#include <gtest/gtest.h>

#include "hex_test_files.h"
#include "programming/conversion.h"
#include "programming/hex_scan.h"

namespace {

using namespace fernwick::programming;
using namespace hex_test;

constexpr sector_flags s2{false, false, true};

// Two chains of 16-byte records in one segment half, the one from `late`
// first in the file: it starts at 0060h and its last record spans the end
// of the other chain and goes on past 8000h; the other starts at `early`,
// below 0060h, and ends at 7FFFh - 15. Without the code the early chain is
// taken and the late one's bytes past 8000h are skipped with its last
// record; with the code in that half the early chain is dropped and the
// late one carries its bytes into the sector above.
std::vector<std::string> chains_behind_the_code(int segment)
{
    std::vector<std::string> lines = {linear(segment)};
    for (int offset = 0x60; offset < 0x7FE0; offset += 16) lines.push_back(data(offset, fill(16, 0xD0)));
    lines.push_back(data(0x7FE0, fill(48, 0xD1)));
    lines.push_back(data(0x50, fill(16, 0xC0)));
    for (int offset = 0x60; offset < 0x7FF0; offset += 16) lines.push_back(data(offset, fill(16, 0xC1)));
    return lines;
}

TEST(fuzz_regression, the_scan_marks_every_sector_the_conversion_fills)
{
    struct row {
        const char* name;
        std::vector<std::string> hex;
        int sector0_segment;
        int bsl_target;
        sector_flags expected;
    };
    const row rows[] = {
        {"code in sector 2: bytes carried into sector 3", chains_behind_the_code(2), 0, 2, {false, false, true, true}},
        {"no code: the early chain, nothing past 8000h", chains_behind_the_code(2), 0, k_bsl_nowhere, s2},
        {"code in sector 0 in segment 1: carried into sector 1", chains_behind_the_code(1), 1, 0, {true, true}},
        {"code in sector 2 leaves segment 1 alike", chains_behind_the_code(1), 1, 2, {true}},
    };
    temp_folder folder;
    for (const auto& r : rows) {
        const auto path = folder.file("app.hex", joined(r.hex));
        EXPECT_EQ(scan_sectors(path, r.sector0_segment, r.bsl_target).flags, r.expected) << r.name;
    }
}

TEST(fuzz_regression, bytes_carried_behind_the_code_are_converted_into_the_sector_above)
{
    temp_folder folder;
    const auto path = folder.file("app.hex", joined(chains_behind_the_code(2)));
    const auto result = convert_hex_file({path, {false, false, false, true}, 2, 0});
    ASSERT_TRUE(result.ok());
    EXPECT_EQ(crlf_lines(read_file(result.new_file_name)),
              std::vector<std::string>{block_line(3, 0x8000, 2, block({{0, fill(16, 0xD1)}}))});
}

}  // namespace
