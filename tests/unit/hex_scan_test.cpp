#include <gtest/gtest.h>
#include <unistd.h>

#include "hex_test_files.h"
#include "programming/hex_scan.h"

namespace {

using namespace fernwick::programming;
using namespace hex_test;

constexpr sector_flags none{}, s0{true}, s2{false, false, true};

TEST(hex_scan, marks_the_sectors_that_get_data)
{
    struct row {
        const char* name;
        std::string text;
        int sector0_segment;
        sector_flags expected;
    };
    const std::string crossing = data(0x7FF0, fill(32, 0x11));
    const row rows[] = {
        {"five-record example",
         joined({linear(1), ":01800000AAD5", linear(2), ":01000000BB44", end_record}),
         0,
         {false, true, true, false}},
        {"data before any address record", joined({data(0, "11"), data(0x8000, "22")}), 0, none},
        {"segment 1 below 8000h, sector 0 in segment 0", joined({linear(1), data(0x100, "11")}), 0, none},
        {"segment 1 below 8000h, sector 0 in segment 1", joined({linear(1), data(0x100, "11")}), 1, s0},
        {"segment 0 from 8000h and segment 3", joined({linear(0), data(0x8000, "11"), linear(3), data(0, "22")}), 0,
         none},
        {"segment 0, sector 0 in segment 1", joined({linear(0), data(0, "11")}), 1, none},
        {"type 02 base 2000h, offset 8000h",
         joined({segment_base(2), data(0x8000, "11")}),
         0,
         {false, false, false, true}},
        {"type 04 word 0002h, offset 0", joined({linear(2), data(0, "11")}), 0, s2},
        {"type 02 bases 1000h and 0000h",
         joined({segment_base(1), data(0x8000, "11"), segment_base(0), data(0, "22")}),
         0,
         {true, true, false, false}},
        {"address records without data", joined({linear(2), linear(1)}), 0, none},
        {"only the start counts in segment 0", joined({linear(0), crossing}), 0, s0},
        {"past 7FFFh of segment 2 also sector 3", joined({linear(2), crossing}), 0, {false, false, true, true}},
        {"past 7FFFh of sector 0 in segment 1 also sector 1", joined({linear(1), crossing}), 1, {true, true}},
        {"lines after the end record", joined({linear(2), end_record, data(0, "11")}), 0, none},
        {"empty records and lines give no data", joined({linear(2), record(0, 0x10, ""), ""}), 0, none},
        {"lower case, lone CR", joined({":020000040002f8", ":01800000aad5"}, "\r"), 0, {false, false, false, true}},
        {"flags are never cleared",
         joined({linear(2), data(0, "11"), linear(1), data(0x9000, "22"), linear(2)}),
         0,
         {false, true, true, false}},
    };
    temp_folder folder;
    for (const auto& r : rows) {
        EXPECT_EQ(scan_sectors(folder.file("scan.hex", r.text), r.sector0_segment).flags, r.expected) << r.name;
    }
}

TEST(hex_scan, a_file_that_cannot_be_read_gives_no_result_but_the_reason)
{
    temp_folder folder;
    EXPECT_EQ(scan_sectors(folder.path("missing.hex"), 0).reason, "No such file or directory");
    EXPECT_EQ(scan_sectors(folder.path(""), 0).reason, "Is a directory");
    EXPECT_EQ(scan_sectors("/dev/null", 0).reason, "not a regular file");
    if (::geteuid() == 0) GTEST_SKIP() << "file permissions do not apply to this user";
    const auto locked = folder.file("locked.hex", joined({linear(2), data(0, "11")}));
    fs::permissions(locked, fs::perms::none);
    EXPECT_EQ(scan_sectors(locked, 0).reason, "Permission denied");
}

}  // namespace
