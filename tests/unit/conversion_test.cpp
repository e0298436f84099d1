#include <gtest/gtest.h>

#include <algorithm>

#include "hex_test_files.h"
#include "programming/bsl_code.h"
#include "programming/conversion.h"

namespace {

using namespace fernwick::programming;
using namespace hex_test;

const std::string code_1(bsl_code_1), code_2(bsl_code_2_block);
const std::string aa = fill(16, 0xAA), bb = fill(16, 0xBB), cc = fill(16, 0xCC);
constexpr std::array<bool, 4> s0{true}, s2{false, false, true}, s3{false, false, false, true};
constexpr std::array<bool, 4> all{true, true, true, true};

struct row {
    const char* name;
    std::vector<std::string> hex;
    std::array<bool, 4> sectors;
    int bsl_target;
    int sector0_segment;
    std::vector<std::string> expected;
};

void expect_rows(const std::vector<row>& rows)
{
    temp_folder folder;
    for (const auto& r : rows) {
        const auto path = folder.file("app.hex", joined(r.hex));
        const auto result = convert_hex_file({path, r.sectors, r.bsl_target, r.sector0_segment});
        ASSERT_TRUE(result.ok()) << r.name;
        ASSERT_EQ(result.new_file_name, folder.path("app.NEW"));
        const auto lines = crlf_lines(read_file(result.new_file_name));
        EXPECT_EQ(lines, r.expected) << r.name;
        EXPECT_EQ(result.block_count, static_cast<int>(lines.size())) << r.name;
    }
}

// The worked example, the code blocks, records skipped whole below 0060h
// or below the end already taken, and empty records passed over.
TEST(conversion, places_records_and_the_code_in_blocks)
{
    expect_rows({
        {"worked example",
         {":020000040000FA", ":04010200112233444F", ":00000001FF"},
         s0,
         2,
         0,
         {block_line(0, 256, 0, block({{2, "11223344"}}))}},
        {"a chosen sector without data", {linear(2), data(0x10, "AA")}, {false, true, false, true}, 2, 0, {}},
        {"the code's sector without data",
         {end_record},
         s2,
         2,
         0,
         {block_line(2, 0, 2, code_1), block_line(2, 64, 2, code_2)}},
        {"the code in sector 0 in segment 1",
         {},
         s0,
         0,
         1,
         {block_line(0, 0, 1, code_1), block_line(0, 64, 1, code_2)}},
        {"data at 0060h-007Fh behind the code",
         {linear(2), data(0x62, "AABB")},
         s2,
         2,
         0,
         {block_line(2, 0, 2, code_1), block_line(2, 64, 2, block({{34, "AABB"}}, code_2))}},
        {"records starting below 0060h dropped whole",
         {linear(2), data(0x50, aa + aa), data(0x5F, "7788")},
         s2,
         2,
         0,
         {block_line(2, 0, 2, code_1), block_line(2, 64, 2, code_2)}},
        {"without the code data below 0060h is kept",
         {linear(2), data(0x10, "77")},
         s2,
         0,
         0,
         {block_line(2, 0, 2, block({{16, "77"}}))}},
        {"two runs share a block",
         {linear(2), data(0x00, "11"), data(0x10, "22")},
         s2,
         -99,
         0,
         {block_line(2, 0, 2, block({{0, "11"}, {16, "22"}}))}},
        {"data before the first address record",
         {data(0x00, "11"), linear(2), data(0x40, "22")},
         all,
         -99,
         0,
         {block_line(2, 64, 2, block({{0, "22"}}))}},
        {"records after the end record", {linear(2), end_record, data(0, "11")}, all, -99, 0, {}},
        {"characters as they stand, blanks after a record",
         {linear(2), ":03000000abCd0e77 \t"},
         s2,
         -99,
         0,
         {block_line(2, 0, 2, block({{0, "abCd0e"}}))}},
        {"partly overlapping",
         {linear(2), data(0x08, bb), data(0x00, aa)},
         s2,
         -99,
         0,
         {block_line(2, 0, 2, block({{0, aa}}))}},
        {"of two at one offset the first",
         {linear(2), data(0x20, "11"), data(0x20, "22")},
         s2,
         -99,
         0,
         {block_line(2, 0, 2, block({{32, "11"}}))}},
        {"the next line goes on with the run",
         {linear(2), data(0x10, cc), data(0x00, aa), data(0x10, bb)},
         s2,
         -99,
         0,
         {block_line(2, 0, 2, block({{0, aa}, {16, bb}}))}},
        {"another line starts a new run",
         {linear(2), data(0x10, cc), data(0, aa), data(0x40, "11"), data(0x10, bb)},
         s2,
         -99,
         0,
         {block_line(2, 0, 2, block({{0, aa}, {16, cc}})), block_line(2, 64, 2, block({{0, "11"}}))}},
        {"neither ending nor going on with a run",
         {linear(2), data(0x10, cc), data(0x00, aa), record(0, 0x10, ""), "", data(0x10, bb)},
         s2,
         -99,
         0,
         {block_line(2, 0, 2, block({{0, aa}, {16, bb}}))}},
        {"nor starting one", {linear(2), record(0, 0x100, ""), "", end_record}, s2, -99, 0, {}},
    });
}

TEST(conversion, runs_cross_blocks_and_bytes_past_a_sectors_end_go_to_the_sector_that_holds_them)
{
    const auto bytes = fill(32, 0x40, 1);
    const auto low = bytes.substr(0, 32), high = bytes.substr(32);
    expect_rows({
        {"a run over several blocks",
         {linear(2), data(0x3E, "0102"), data(0x40, fill(64, 3)), data(0x80, "04")},
         s2,
         -99,
         0,
         {block_line(2, 0, 2, block({{62, "0102"}})), block_line(2, 64, 2, fill(64, 3)),
          block_line(2, 128, 2, block({{0, "04"}}))}},
        {"sector 2 into sector 3, before its own records",
         {linear(2), data(0x7FF0, bytes), data(0x8008, fill(8, 0x77)), data(0x8010, "88")},
         all,
         -99,
         0,
         {block_line(2, 32704, 2, block({{48, low}})), block_line(3, 32768, 2, block({{0, high}, {16, "88"}}))}},
        {"sector 0 in segment 1 into sector 1",
         {linear(1), data(0x7FFE, "11223344")},
         all,
         -99,
         1,
         {block_line(0, 32704, 1, block({{62, "1122"}})), block_line(1, 32768, 1, block({{0, "3344"}}))}},
        {"segment 1 below 8000h as no sector into sector 1",
         {linear(1), data(0x7FFF, "1122")},
         all,
         -99,
         0,
         {block_line(1, 32768, 1, block({{0, "22"}}))}},
        {"segment 0 from 8000h is no sector",
         {linear(0), data(0x7FFE, "11223344")},
         all,
         -99,
         0,
         {block_line(0, 32704, 0, block({{62, "1122"}}))}},
        {"an address record ends the run before it",
         {linear(2), data(0x7FF0, aa), segment_base(1), data(0x8000, bb)},
         all,
         -99,
         0,
         {block_line(1, 32768, 1, block({{0, bb}})), block_line(2, 32704, 2, block({{48, aa}}))}},
        {"a run going on past 8000h, sector 2 not chosen",
         {linear(2), data(0x8000, "99"), data(0x7FFF, "11"), data(0x8000, "22")},
         s3,
         2,
         0,
         {block_line(3, 32768, 2, block({{0, "22"}}))}},
    });
}

TEST(conversion, the_new_name_replaces_the_extension_in_the_same_folder)
{
    const std::pair<const char*, const char*> rows[] = {
        {"C:\\WORK\\APP.HEX", "C:\\WORK\\APP.NEW"},
        {"/w/app", "/w/app.NEW"},
        {"/w/dir.d/app", "/w/dir.d/app.NEW"},
        {"/w/app.ihex", "/w/app.NEW"},
        {"/w/a.b.hex", "/w/a.b.NEW"},
        {"app.hex", "app.NEW"},
    };
    for (const auto& [hex, expected] : rows) EXPECT_EQ(new_file_name_for(hex), expected) << hex;
}

std::vector<std::string> lines_of(const conversion_result& r)
{
    return r.failure ? failure_lines(*r.failure) : std::vector<std::string>{};
}

// The names in the folder, to see that nothing was left or taken away.
std::vector<std::string> names_in(const temp_folder& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder.root)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

TEST(conversion, failures_say_what_failed_and_why_and_leave_no_file_behind)
{
    temp_folder folder;
    const std::string good = joined({linear(2), data(0, "11")});
    const auto own = folder.file("X.NEW", good);
    EXPECT_EQ(lines_of(convert_hex_file({own, all, 2, 0})).at(0),
              "     The Hex-file would be overwritten by its converted file : " + own);
    EXPECT_EQ(read_file(own), good);
    const auto linked = folder.file("linked.hex", good);
    fs::create_hard_link(linked, folder.path("linked.NEW"));
    EXPECT_FALSE(convert_hex_file({linked, all, 2, 0}).ok());
    EXPECT_EQ(read_file(linked), good);

    const auto missing = folder.path("missing.hex");
    EXPECT_EQ(
        lines_of(convert_hex_file({missing, all, 2, 0})),
        (std::vector<std::string>{"     The Hex-file cannot be read : " + missing, "     No such file or directory"}));
    fs::create_directory(folder.path("folder.hex"));
    EXPECT_EQ(lines_of(convert_hex_file({folder.path("folder.hex"), all, 2, 0})).at(1), "     Is a directory");

    const auto blocked = folder.file("blocked.hex", good);
    fs::create_directory(folder.path("blocked.NEW"));
    EXPECT_EQ(lines_of(convert_hex_file({blocked, all, 2, 0})),
              (std::vector<std::string>{"     The converted file cannot be written : " + folder.path("blocked.NEW"),
                                        "     Is a directory"}));
    EXPECT_EQ(names_in(folder), (std::vector<std::string>{"X.NEW", "blocked.NEW", "blocked.hex", "folder.hex",
                                                          "linked.NEW", "linked.hex"}));
}

// A link at any name beside the hex file that the conversion might write
// through: the hex file is never written and the link stays.
TEST(conversion, links_lying_in_wait_beside_the_hex_file_are_never_followed)
{
    temp_folder folder;
    const std::string good = joined({linear(2), data(0, "11")});
    const auto hex = folder.file("app.hex", good);
    for (const char* bait : {"app.NEW.tmp", "app.NEW.tmp-000000"}) fs::create_symlink(hex, folder.path(bait));
    const auto result = convert_hex_file({hex, all, -99, 0});
    ASSERT_TRUE(result.ok());
    EXPECT_EQ(read_file(hex), good);
    EXPECT_EQ(crlf_lines(read_file(folder.path("app.NEW"))),
              std::vector<std::string>{block_line(2, 0, 2, block({{0, "11"}}))});
    EXPECT_EQ(names_in(folder), (std::vector<std::string>{"app.NEW", "app.NEW.tmp", "app.NEW.tmp-000000", "app.hex"}));
}

// Nothing of a damaged file is converted: the first fault, with its line.
TEST(conversion, a_damaged_file_is_refused_naming_its_line)
{
    const auto line = [](const std::string& text) { return joined({linear(2), text}); };
    const std::pair<std::string, std::string> rows[] = {
        {line(":0100000011EF"), "     Line 2 has the checksum EFh, it should be EEh"},
        {line(":01000000G1EE"), "     Line 2 holds 'G' at column 10, where only hex digits belong"},
        {line(std::string(":01000000\0\0EE", 13)),
         "     Line 2 holds the byte 00h at column 10, where only hex digits belong"},
        {line(":02000000111"), "     Line 2 holds an odd number of hex digits"},
        {line(":020000001111"), "     Line 2 says 2 data bytes but holds 1"},
        {line(":0000"), "     Line 2 is too short for a record"},
        {line("0100000011EE"), "     Line 2 does not begin with ':' as a record does"},
        {line(":00000006FA"), "     Line 2 has the unknown record type 06h"},
        {line(":01000001FFFF"), "     Line 2 is a type 01h record, which holds 0 data bytes, not 1"},
        {line(data(0xFFFE, "11223344")), "     Line 2 runs past the end of its 64 KiB segment (offset FFFEh, 4 bytes)"},
        {joined({record(2, 0, "1800"), data(0, "11")}),
         "     Line 1 sets the segment base 1800h, which is not a multiple of 1000h"},
        {joined({record(4, 0, "0102")}),
         "     Line 1 sets the upper address 0102h, beyond what this flash can address"},
        {linear(2) + "\r\n" + data(0, "11") + "\r\n\r\n",
         "     Line 3 ends the file without an end record (type 01): the file may be cut short"},
        {"", "     The file holds no record at all"},
    };
    temp_folder folder;
    for (const auto& [text, fault] : rows) {
        const auto hex = folder.file("app.hex", text);
        const auto result = convert_hex_file({hex, all, 2, 0});
        EXPECT_EQ(lines_of(result), (std::vector<std::string>{"     The Hex-file is damaged : " + hex, fault}));
        EXPECT_FALSE(fs::exists(folder.path("app.NEW"))) << fault;
    }
}

}  // namespace
