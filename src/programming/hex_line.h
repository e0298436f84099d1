#pragma once
// Reading one line of an Intel-Hex file by character positions, as the
// sector scan and the conversion both do. Malformed lines are not refused:
// every field reads as whatever hex digits it starts with.

#include <array>
#include <optional>
#include <string_view>
#include <vector>

namespace fernwick::programming {

namespace record_type {
inline constexpr int data = 0x00;
inline constexpr int end_of_file = 0x01;
inline constexpr int extended_segment = 0x02;
inline constexpr int extended_linear = 0x04;
}  // namespace record_type

// Value of the hex digits (either case) at the start of `field`, up to the
// first character that is not one; 0 when there is none.
unsigned hex_field(std::string_view field);

struct hex_line {
    int length = 0;         // positions 2-3
    int offset = 0;         // positions 4-7
    int type = 0;           // positions 8-9
    std::string_view data;  // position 10 to the end of the line
};

// The fields of `line` (without its line end). Position 1, where the colon
// stands, is not looked at.
hex_line read_hex_line(std::string_view line);

// The segment that a type 02 or 04 line selects: the single digit at
// position 10 (segment base 1000h gives 1) or positions 12-13 (upper
// address word 0001h gives 1).
int selected_segment(const hex_line& line);

// Data byte `i` (from 0) as two characters for the block file: the two
// characters as they stand when both are hex digits, otherwise the byte
// that the field reading gives them, in upper case ("00" past the line end).
std::array<char, 2> data_byte_chars(std::string_view data, int i);

// The line of `text` that starts at `pos`, moving `pos` past its line end;
// nullopt at the end. A line ends at CR LF, LF or a lone CR.
std::optional<std::string_view> next_line(std::string_view text, std::size_t& pos);

}  // namespace fernwick::programming
