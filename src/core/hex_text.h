#pragma once
// Bytes as hexadecimal text and back: the one place that knows the digits,
// for the log, the hex file, the block file, the trace and the report.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace fernwick::core {

// The value of a hex digit of either case; -1 for any other character.
// A table: hex files of a megabyte are read digit by digit several times.
inline constexpr auto k_hex_digit_values = [] {
    std::array<signed char, 256> values{};
    for (int c = 0; c < 256; ++c) {
        values[static_cast<std::size_t>(c)] = static_cast<signed char>(c >= '0' && c <= '9'   ? c - '0'
                                                                       : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                                       : c >= 'a' && c <= 'f' ? c - 'a' + 10
                                                                                              : -1);
    }
    return values;
}();

constexpr int hex_digit_value(char c) { return k_hex_digit_values[static_cast<unsigned char>(c)]; }

// The upper-case digit of the low four bits.
constexpr char hex_digit(unsigned value) { return "0123456789ABCDEF"[value & 0xF]; }

// Two upper-case digits: "0A".
inline std::string hex2(std::uint8_t b) { return {hex_digit(b >> 4), hex_digit(b)}; }

// Each byte as two upper-case digits, separated by blanks: "33 91".
inline std::string hex_bytes(std::string_view bytes)
{
    std::string text;
    text.reserve(bytes.size() * 3);
    for (const char c : bytes) {
        if (!text.empty()) text += ' ';
        text += hex2(static_cast<std::uint8_t>(c));
    }
    return text;
}

}  // namespace fernwick::core
