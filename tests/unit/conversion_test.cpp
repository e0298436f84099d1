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
constexpr std::array<bool, 4> s0{true}, s2{false, false, true}, s3{false, false, false, true},
    all{true, true, true, true};

// A block record: 00h, or `chars`, with the pieces at their byte positions.
std::string at(int sector, int address, int segment, const std::vector<std::pair<int, std::string>>& pieces,
               std::string chars = std::string(128, '0'))
{
    for (const auto& [offset, bytes] : pieces) chars.replace(static_cast<std::size_t>(offset) * 2, bytes.size(), bytes);
    return std::to_string(sector) + "," + std::to_string(address) + "," + std::to_string(segment) + ",\"" + chars +
           "\",\"EOB\"";
}

const std::string code_a = at(2, 0, 2, {}, code_1), code_b = at(2, 64, 2, {}, code_2);

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

// Where the records land: every byte at its address, the code blocks in
// place of the file's bytes below 0060h, bytes given twice placed once, and
// the bytes that reach no flash counted.
TEST(conversion, places_records_and_the_code_in_blocks)
{
    struct row {
        const char* name;
        std::vector<std::string> hex;
        std::vector<std::string> expected;
        std::array<bool, 4> sectors = s2;
        int bsl_target = -99, sector0_segment = 0;
        // The ranges that reach no flash: n before any address record, e after the end
        // record, x in no sector, c under the code, each with its bytes.
        std::string unplaced = "";
    };
    const auto run = fill(32, 0x40, 1), l1 = linear(1), l2 = linear(2);
    const row rows[] = {
        {"worked example", {":020000040000FA", ":04010200112233444F"}, {at(0, 256, 0, {{2, "11223344"}})}, s0},
        {"the code alone", {}, {code_a, code_b}, s2, 2},
        {"the code in sector 0 in segment 1", {}, {at(0, 0, 1, {}, code_1), at(0, 64, 1, {}, code_2)}, s0, 0, 1},
        {"behind the code", {l2, data(0x62, "AABB")}, {code_a, at(2, 64, 2, {{34, "AABB"}}, code_2)}, s2, 2},
        {"below 0060h left out, from 0060h on placed",
         {l2, data(0x50, aa + aa)},
         {code_a, at(2, 64, 2, {{32, aa}}, code_2)},
         s2,
         2,
         0,
         "c16"},
        {"no code: below 0060h kept", {l2, data(0x10, "77")}, {at(2, 0, 2, {{16, "77"}})}, s2, 0},
        {"chosen but empty", {l2, data(0x10, "AA")}, {}, {false, true, false, true}, 2, 0, "c1"},
        {"before any address record and after the end record",
         {data(0, "11"), l2, data(0x40, "22"), end_record, "\x1A; not a record", l2, data(0, "3344")},
         {at(2, 64, 2, {{0, "22"}})},
         all,
         -99,
         0,
         "n1e2"},
        {"characters as they stand", {l2, ":03000000abCd0e77 \t"}, {at(2, 0, 2, {{0, "abCd0e"}})}},
        {"a byte-order mark before the first record", {"\xEF\xBB\xBF" + l2, data(0, "11")}, {at(2, 0, 2, {{0, "11"}})}},
        {"given twice alike: the bytes only the second gives are placed",
         {l2, data(0x08, fill(16, 0xAA)), record(0, 0x10, ""), "", data(0, aa)},
         {at(2, 0, 2, {{0, fill(24, 0xAA)}})}},
        {"a run over several blocks",
         {l2, data(0x3E, "0102"), data(0x40, fill(64, 3)), data(0x80, "04")},
         {at(2, 0, 2, {{62, "0102"}}), at(2, 64, 2, {{0, fill(64, 3)}}), at(2, 128, 2, {{0, "04"}})}},
        {"sector 2 into sector 3",
         {l2, data(0x7FF0, run), data(0x8010, "88")},
         {at(2, 32704, 2, {{48, run.substr(0, 32)}}), at(3, 32768, 2, {{0, run.substr(32)}, {16, "88"}})},
         all},
        {"sector 0 in segment 1 into sector 1",
         {l1, data(0x7FFE, "11223344")},
         {at(0, 32704, 1, {{62, "1122"}}), at(1, 32768, 1, {{0, "3344"}})},
         all,
         -99,
         1},
        {"segment 1 below 8000h is no sector",
         {l1, data(0x7FFF, "1122")},
         {at(1, 32768, 1, {{0, "22"}})},
         all,
         -99,
         0,
         "x1"},
        {"segment 0 from 8000h is no sector",
         {linear(0), data(0x7FFF, "1122")},
         {at(0, 32704, 0, {{63, "11"}})},
         all,
         -99,
         0,
         "x1"},
        {"a record ending at FFFFh", {segment_base(1), data(0xFFFE, "1122")}, {at(1, 65472, 1, {{62, "1122"}})}, all},
        {"an address record ends the run before it",
         {l2, data(0x7FF0, aa), segment_base(1), data(0x8000, bb)},
         {at(1, 32768, 1, {{0, bb}}), at(2, 32704, 2, {{48, aa}})},
         all},
        {"past 8000h, sector 2 not chosen", {l2, data(0x7FFF, "1122")}, {at(3, 32768, 2, {{0, "22"}})}, s3, 2},
    };
    temp_folder folder;
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        const auto result =
            convert_hex_file({folder.file("app.hex", joined(r.hex)), r.sectors, r.bsl_target, r.sector0_segment});
        ASSERT_TRUE(result.ok());
        ASSERT_EQ(result.new_file_name, folder.path("app.NEW"));
        const auto lines = crlf_lines(read_file(result.new_file_name));
        EXPECT_EQ(lines, r.expected);
        EXPECT_EQ(result.block_count, static_cast<int>(lines.size()));
        std::string unplaced;
        for (const auto& u : result.unplaced)
            unplaced += "nexc"[static_cast<int>(u.reason)] + std::to_string(u.bytes());
        EXPECT_EQ(unplaced, r.unplaced);
    }
}

// The messages of files that cannot be read or would be overwritten are
// pinned by the scenario tests.
TEST(conversion, a_failed_write_leaves_no_file_behind_and_links_beside_the_hex_file_are_never_followed)
{
    temp_folder folder;
    const std::string good = joined({linear(2), data(0, "11")});
    const auto linked = folder.file("linked.hex", good), blocked = folder.file("blocked.hex", good);
    fs::create_hard_link(linked, folder.path("linked.NEW"));
    EXPECT_FALSE(convert_hex_file({linked, all, 2, 0}).ok());
    fs::create_directory(folder.path("blocked.NEW"));
    EXPECT_EQ(lines_of(convert_hex_file({blocked, all, 2, 0})),
              (std::vector<std::string>{"     The converted file cannot be written : " + folder.path("blocked.NEW"),
                                        "     Is a directory"}));
    // Links at any name the conversion might write through.
    const auto hex = folder.file("app.hex", good);
    for (const char* bait : {"app.NEW.tmp", "app.NEW.tmp-000000"}) fs::create_symlink(hex, folder.path(bait));
    fs::create_symlink(linked, folder.path("app.NEW"));
    ASSERT_TRUE(convert_hex_file({hex, all, -99, 0}).ok());
    EXPECT_EQ(read_file(hex) + read_file(linked), good + good);
    EXPECT_EQ(names_in(folder), (std::vector<std::string>{"app.NEW", "app.NEW.tmp", "app.NEW.tmp-000000", "app.hex",
                                                          "blocked.NEW", "blocked.hex", "linked.NEW", "linked.hex"}));
}

// Nothing of a damaged file is converted: the first fault, with its line;
// a file of another kind is named as such.
TEST(conversion, a_damaged_file_is_refused_naming_its_line)
{
    const auto line = [](const std::string& text) { return joined({linear(2), text}); };
    const std::string not_hex = "The file is not an Intel-Hex file";
    struct row {
        std::string text, fault, headline;
    };
    const row rows[] = {
        {line(":0100000011EF"), "Line 2 has the checksum EFh, it should be EEh"},
        {line(":01000000G1EE"), "Line 2 holds 'G' at column 10, where only hex digits belong"},
        {line(std::string(":01000000\0\0EE", 13)),
         "Line 2 holds the byte 00h at column 10, where only hex digits belong"},
        {line(":02000000111"), "Line 2 holds an odd number of hex digits"},
        {line(":020000001111"), "Line 2 says 2 data bytes but holds 1"},
        {line(":0000"), "Line 2 is too short for a record"},
        {line("0100000011EE"), "Line 2 does not begin with ':' as a record does"},
        {line(":00000006FA"), "Line 2 has the unknown record type 06h"},
        {line(":01000001FFFF"), "Line 2 is a type 01h record, which holds 0 data bytes, not 1"},
        {line(data(0xFFFE, "112233")), "Line 2 runs past the end of its 64 KiB segment (offset FFFEh, 3 bytes)"},
        {joined({record(2, 0, "1800")}), "Line 1 sets the segment base 1800h, which is not a multiple of 1000h"},
        {joined({record(4, 0, "0102")}), "Line 1 sets the upper address 0102h, beyond what this flash can address"},
        // Compared by address, not in file order: line 3 lies 200h past line 2.
        {joined({linear(2), data(0x14, bb), data(0x214, "11"), data(0x10, cc)}),
         "Line 4 gives other bytes at 02'0014h-02'001Fh than line 2"},
        {joined({linear(2), data(0, "11"), end_record, ":0100000011EF"}),
         "Line 4 has the checksum EFh, it should be EEh"},
        {linear(2) + "\r\n" + data(0, "11") + "\r\n\r\n",
         "Line 3 ends the file without an end record (type 01): the file may be cut short"},
        {"", "The file holds no record at all"},
        {"S00600004844521B\nS1130000285F245F2212226A000424290008237C2A\n", "It looks like Motorola S-records", not_hex},
        {std::string("\x7F"
                     "ELF\2\1\1\0",
                     8),
         "It looks like an ELF program file (objcopy -O ihex makes one of it)", not_hex},
        {std::string("\x12\x00\x33:", 4) + end_record, "It looks like binary data", not_hex},
        {"int main() {}\n", "It holds no Intel-Hex record (a line that begins with ':')", not_hex},
        // Intel-Hex with a comment before its records and a DOS ^Z behind, or with indented records
        {"; made by the assembler\n" + joined({linear(2), data(0, "11"), end_record}) + "\x1A",
         "Line 1 does not begin with ':' as a record does"},
        {"  " + linear(2) + "\n", "Line 1 does not begin with ':' as a record does"},
    };
    temp_folder folder;
    for (const auto& [text, fault, headline] : rows) {
        const auto hex = folder.file("app.hex", text);
        const auto said = headline.empty() ? "The Hex-file is damaged" : headline;
        EXPECT_EQ(lines_of(convert_hex_file({hex, all, 2, 0})),
                  (std::vector<std::string>{"     " + said + " : " + hex, "     " + fault}));
        EXPECT_FALSE(fs::exists(folder.path("app.NEW"))) << fault;
    }
}

}  // namespace
