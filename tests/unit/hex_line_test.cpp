#include <gtest/gtest.h>

#include <tuple>

#include "programming/hex_line.h"

namespace {

using namespace fernwick::programming;

TEST(hex_line, fields_are_read_by_position_up_to_the_first_non_hex_character)
{
    struct row {
        const char* line;
        int length, offset, type;
        const char* data;
    };
    const row rows[] = {
        {":04010200112233444F", 4, 0x0102, 0, "112233444F"},
        {":10ffe000aabb", 16, 0xFFE0, 0, "aabb"},
        {":020000040001F9", 2, 0, 4, "0001F9"},
        {":00000001FF", 0, 0, 1, "FF"},
        {"", 0, 0, 0, ""},                  // an empty line reads as an empty data record
        {":1", 1, 0, 0, ""},                // a short line: missing fields read 0
        {":1G12G4zz03", 1, 0x12, 0, "03"},  // each field stops at its first non-hex character
        {"x0A8000", 0x0A, 0x8000, 0, ""},   // position 1 is not looked at
    };
    for (const auto& r : rows) {
        const hex_line h = read_hex_line(r.line);
        EXPECT_EQ(std::tuple(h.length, h.offset, h.type, std::string(h.data)),
                  std::tuple(r.length, r.offset, r.type, std::string(r.data)))
            << r.line;
    }
}

TEST(hex_line, address_records_select_their_segment)
{
    const std::pair<const char*, int> rows[] = {
        {":020000021000EC", 1}, {":020000022000DC", 2}, {":020000020000FC", 0}, {":020000040001F9", 1},
        {":020000040002F8", 2}, {":020000040000FA", 0}, {":020000040a0b", 11},  {":02000004", 0},
    };
    for (const auto& [line, segment] : rows) EXPECT_EQ(selected_segment(read_hex_line(line)), segment) << line;
}

TEST(hex_line, data_bytes_keep_their_characters_or_read_as_the_field_rule_gives)
{
    struct row {
        const char* data;
        int byte;
        const char* chars;
    };
    // Hex digits as they stand in either case; "G1" has no leading digit;
    // one digit is left at the line end; then the line is past.
    const row rows[] = {{"aBc3G12", 0, "aB"}, {"aBc3G12", 1, "c3"}, {"aBc3G12", 2, "00"}, {"aBc3G12", 3, "02"},
                        {"aBc3G12", 4, "00"}, {"3x", 0, "03"},      {"F", 0, "0F"}};
    for (const auto& r : rows) {
        const auto chars = data_byte_chars(r.data, r.byte);
        EXPECT_EQ(std::string(chars.data(), 2), r.chars) << r.data << " byte " << r.byte;
    }
}

TEST(hex_line, lines_end_at_crlf_lf_or_a_lone_cr)
{
    const std::pair<const char*, std::vector<std::string_view>> rows[] = {
        {"a\r\nb\r\n", {"a", "b"}},     {"a\nb", {"a", "b"}},       {"a\rb\r", {"a", "b"}},
        {"a\r\n\r\nb", {"a", "", "b"}}, {"a\n\rb", {"a", "", "b"}}, {"", {}},
    };
    for (const auto& [text, lines] : rows) {
        std::vector<std::string_view> read;
        std::size_t pos = 0;
        while (const auto line = next_line(text, pos)) read.push_back(*line);
        EXPECT_EQ(read, lines) << text;
    }
}

}  // namespace
