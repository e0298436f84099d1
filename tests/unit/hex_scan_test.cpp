#include <gtest/gtest.h>

#include "hex_test_files.h"
#include "programming/hex_scan.h"

namespace {

using namespace fernwick::programming;
using namespace hex_test;

constexpr sector_flags none{}, s0{true}, s01{true, true}, s2{false, false, true}, s23{false, false, true, true};

TEST(hex_scan, marks_every_sector_the_conversion_fills)
{
    struct row {
        const char* name;
        std::vector<std::string> lines;
        int sector0_segment;
        sector_flags expected;
        int bsl_target = k_bsl_nowhere;
        const char* line_end = "\r\n";
    };
    const std::string crossing = data(0x7FF0, fill(32, 0x11)), l1 = linear(1), l2 = linear(2);
    const row rows[] = {
        {"five-record example, LF", {l1, ":01800000AAD5", l2, ":01000000BB44"}, 0, {false, true, true}, -99, "\n"},
        {"lower case, lone CR", {":020000040002f8", ":01800000aad5"}, 0, {false, false, false, true}, -99, "\r"},
        {"segment 1 below 8000h, sector 0 in segment 0", {l1, data(0x100, "11")}, 0, none},
        {"segment 1 below 8000h, sector 0 in segment 1", {l1, data(0x100, "11")}, 1, s0},
        {"segment 0 from 8000h and segment 3", {linear(0), data(0x8000, "11"), linear(3), data(0, "22")}, 0, none},
        {"type 02 bases 1000h and 0000h",
         {segment_base(1), data(0x8000, "11"), segment_base(0), data(0, "22")},
         0,
         s01},
        {"only the start counts in segment 0", {linear(0), crossing}, 0, s0},
        {"past 7FFFh of segment 2 also sector 3", {l2, crossing}, 0, s23},
        {"past 7FFFh of sector 0 in segment 1 also sector 1", {l1, crossing}, 1, s01},
        {"flags are never cleared", {l2, data(0, "11"), l1, data(0x9000, "22"), l2}, 0, {false, true, true}},
        {"data below 0060h where the code goes", {l2, data(0x10, "11")}, 0, s2, 2},
    };
    temp_folder folder;
    for (const auto& r : rows) {
        const auto path = folder.file("scan.hex", joined(r.lines, r.line_end));
        EXPECT_EQ(scan_sectors(path, r.sector0_segment, r.bsl_target).flags, r.expected) << r.name;
    }
    EXPECT_EQ(scan_sectors(folder.path("missing.hex"), 0).reason, "No such file or directory");
    EXPECT_EQ(scan_sectors("/dev/null", 0).reason, "not a regular file");
}

}  // namespace
