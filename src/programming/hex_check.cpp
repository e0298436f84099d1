#include "programming/hex_check.h"

#include <algorithm>
#include <cstdio>
#include <utility>
#include <vector>

#include "core/hex_text.h"
#include "programming/hex_line.h"

namespace fernwick::programming {

namespace {

constexpr std::size_t k_head_bytes = 4;  // length, offset (2), type
constexpr int k_segment_size = 0x10000;
constexpr int k_segment_step = 0x1000;   // a type 02 base that is a whole segment
constexpr int k_highest_upper = 0x00FF;  // a type 04 upper word within reach

std::string hex_text(unsigned value, int digits)
{
    char text[16];
    std::snprintf(text, sizeof text, "%0*Xh", digits, value);
    return text;
}

// What a character looks like in a message: printable ones as they are.
std::string shown(char c)
{
    const auto b = static_cast<unsigned char>(c);
    if (b > 0x20 && b < 0x7F) return std::string("'") + c + "'";
    return "the byte " + hex_text(b, 2);
}

bool blank(std::string_view line) { return line.find_first_not_of(" \t") == std::string_view::npos; }

// The bytes of a record line after its colon; a fault text when they are not
// hex digit pairs. Blanks at the end of a line are harmless and dropped.
std::optional<std::string> record_bytes(std::string_view line, std::vector<unsigned>& bytes)
{
    if (line[0] != ':') return "does not begin with ':' as a record does";
    line.remove_suffix(line.size() - 1 - line.find_last_not_of(" \t"));
    for (std::size_t i = 1; i < line.size(); ++i)
        if (core::hex_digit_value(line[i]) < 0)
            return "holds " + shown(line[i]) + " at column " + std::to_string(i + 1) + ", where only hex digits belong";
    if (line.size() % 2 == 0) return "holds an odd number of hex digits";
    bytes.clear();
    for (std::size_t i = 1; i + 1 < line.size(); i += 2)
        bytes.push_back(
            static_cast<unsigned>(core::hex_digit_value(line[i]) * 16 + core::hex_digit_value(line[i + 1])));
    if (bytes.size() < k_head_bytes + 1) return "is too short for a record";
    return std::nullopt;
}

std::optional<std::string> length_and_checksum(const std::vector<unsigned>& bytes)
{
    const std::size_t length = bytes[0];
    const std::size_t held = bytes.size() - k_head_bytes - 1;
    if (held != length) return "says " + std::to_string(length) + " data bytes but holds " + std::to_string(held);
    unsigned sum = 0;
    for (std::size_t i = 0; i + 1 < bytes.size(); ++i) sum += bytes[i];
    const unsigned expected = (0x100 - sum % 0x100) % 0x100;
    if (bytes.back() != expected)
        return "has the checksum " + hex_text(bytes.back(), 2) + ", it should be " + hex_text(expected, 2);
    return std::nullopt;
}

// The record's own rules: its type, the length that type has, and where its
// address lands.
std::optional<std::string> record_rules(const std::vector<unsigned>& bytes)
{
    const unsigned length = bytes[0];
    const unsigned offset = bytes[1] * 256 + bytes[2];
    const unsigned type = bytes[3];
    const unsigned value = length == 2 ? bytes[4] * 256 + bytes[5] : 0;
    const auto wrong_length = [&](unsigned wanted) {
        return "is a type " + hex_text(type, 2) + " record, which holds " + std::to_string(wanted) +
               " data bytes, not " + std::to_string(length);
    };
    switch (type) {
    case record_type::data:
        if (offset + length > k_segment_size)
            return "runs past the end of its 64 KiB segment (offset " + hex_text(offset, 4) + ", " +
                   std::to_string(length) + " bytes)";
        return std::nullopt;
    case record_type::end_of_file: return length == 0 ? std::nullopt : std::optional(wrong_length(0));
    case record_type::extended_segment:
        if (length != 2) return wrong_length(2);
        if (value % k_segment_step != 0)
            return "sets the segment base " + hex_text(value, 4) + ", which is not a multiple of 1000h";
        return std::nullopt;
    case record_type::extended_linear:
        if (length != 2) return wrong_length(2);
        if (value > k_highest_upper)
            return "sets the upper address " + hex_text(value, 4) + ", beyond what this flash can address";
        return std::nullopt;
    case 0x03:  // start segment address: where execution begins, nothing to program
    case 0x05:  // start linear address: likewise
        return length == 4 ? std::nullopt : std::optional(wrong_length(4));
    default: return "has the unknown record type " + hex_text(type, 2);
    }
}

bool all_hex_digits(std::string_view text)
{
    return std::all_of(text.begin(), text.end(), [](char c) { return core::hex_digit_value(c) >= 0; });
}

// A line that is a record, perhaps behind blanks: an indented record is a
// damaged Intel-Hex file, not another kind of file.
bool has_record_line(std::string_view text)
{
    std::size_t pos = 0;
    while (const auto line = next_line(text, pos)) {
        const auto start = line->find_first_not_of(" \t");
        if (start != std::string_view::npos && (*line)[start] == ':') return true;
    }
    return false;
}

// A file whose first line is no record may be another kind of file that was
// chosen by mistake: saying which helps more than calling it damaged.
std::optional<std::string> foreign_kind(std::string_view text, std::string_view first_line)
{
    if (text.starts_with("\x7F"
                         "ELF"))
        return "it looks like an ELF program file (objcopy -O ihex makes one of it)";
    const std::string_view head = text.substr(0, 512);
    const bool control = std::any_of(head.begin(), head.end(), [](char c) {
        const auto b = static_cast<unsigned char>(c);
        // ^Z ends many a text file written on DOS.
        return b < 0x20 && b != '\r' && b != '\n' && b != '\t' && b != 0x1A;
    });
    if (control) return "it looks like binary data";
    first_line.remove_suffix(first_line.size() - 1 - first_line.find_last_not_of(" \t"));
    if (first_line.size() >= 4 && first_line[0] == 'S' && first_line[1] >= '0' && first_line[1] <= '9' &&
        all_hex_digits(first_line.substr(2)))
        return "it looks like Motorola S-records";
    if (!has_record_line(text)) return "it holds no Intel-Hex record (a line that begins with ':')";
    return std::nullopt;
}

}  // namespace

std::string_view without_byte_order_mark(std::string_view text)
{
    constexpr std::string_view mark = "\xEF\xBB\xBF";
    if (text.starts_with(mark)) text.remove_prefix(mark.size());
    return text;
}

std::optional<hex_fault> check_hex_text(std::string_view text)
{
    text = without_byte_order_mark(text);
    std::vector<unsigned> bytes;
    std::size_t pos = 0;
    int number = 0;
    bool first = true;
    bool ended = false;
    while (const auto line = next_line(text, pos)) {
        ++number;
        if (blank(*line)) continue;
        // After the end record a record still counts (files joined with
        // cat); a ^Z or a comment there is not read.
        if (ended && (*line)[0] != ':') continue;
        if (std::exchange(first, false) && (*line)[0] != ':')
            if (auto kind = foreign_kind(text, *line)) return hex_fault{0, std::move(*kind), true};
        auto fault = record_bytes(*line, bytes);
        if (!fault) fault = length_and_checksum(bytes);
        if (!fault) fault = record_rules(bytes);
        if (fault) return hex_fault{number, std::move(*fault)};
        if (bytes[3] == record_type::end_of_file) ended = true;
    }
    if (ended) return std::nullopt;
    if (number == 0) return hex_fault{0, "holds no record at all"};
    return hex_fault{number, "ends the file without an end record (type 01): the file may be cut short"};
}

}  // namespace fernwick::programming
