#include "programming/hex_line.h"

#include <algorithm>

#include "core/hex_text.h"

namespace fernwick::programming {

namespace {

// Positions counted from 1, as the record layout is given; past the end of
// the line a field is empty (and still points into the line).
std::string_view field_at(std::string_view line, std::size_t position, std::size_t width)
{
    if (position > line.size()) return line.substr(line.size());
    return line.substr(position - 1, width);
}

}  // namespace

unsigned hex_field(std::string_view field)
{
    unsigned value = 0;
    for (char c : field) {
        const int d = core::hex_digit_value(c);
        if (d < 0) break;
        value = value * 16 + static_cast<unsigned>(d);
    }
    return value;
}

hex_line read_hex_line(std::string_view line)
{
    hex_line r;
    r.length = static_cast<int>(hex_field(field_at(line, 2, 2)));
    r.offset = static_cast<int>(hex_field(field_at(line, 4, 4)));
    r.type = static_cast<int>(hex_field(field_at(line, 8, 2)));
    r.data = field_at(line, 10, std::string_view::npos);
    return r;
}

int selected_segment(const hex_line& line)
{
    if (line.type == record_type::extended_segment) {
        return static_cast<int>(hex_field(line.data.substr(0, 1)));
    }
    return static_cast<int>(hex_field(line.data.substr(std::min<std::size_t>(2, line.data.size()), 2)));
}

std::array<char, 2> data_byte_chars(std::string_view data, int i)
{
    const auto at = static_cast<std::size_t>(i) * 2;
    const std::string_view pair = at < data.size() ? data.substr(at, 2) : std::string_view{};
    if (pair.size() == 2 && core::hex_digit_value(pair[0]) >= 0 && core::hex_digit_value(pair[1]) >= 0) {
        return {pair[0], pair[1]};
    }
    const unsigned value = hex_field(pair);
    return {core::hex_digit(value >> 4), core::hex_digit(value)};
}

std::optional<std::string_view> next_line(std::string_view text, std::size_t& pos)
{
    if (pos >= text.size()) return std::nullopt;
    const std::size_t start = pos;
    // A plain scan: find_first_of tests every character against the set
    // with a call of its own, which a file of a megabyte feels.
    std::size_t end = start;
    while (end < text.size() && text[end] != '\r' && text[end] != '\n') ++end;
    pos = end + 1;
    if (end < text.size() && text[end] == '\r' && pos < text.size() && text[pos] == '\n') ++pos;
    return text.substr(start, end - start);
}

}  // namespace fernwick::programming
