#pragma once
// Bytes as hexadecimal text and back: the one place that knows the digits,
// for the log, the hex file, the block file, the trace and the report.

#include <cstdint>
#include <string>
#include <string_view>

namespace fernwick::core {

// The value of a hex digit of either case; -1 for any other character.
constexpr int hex_digit_value(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

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
