// The hex line reading on any text: the line split, the fields of every
// line, the characters of its data bytes, and the records read from it.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_support.h"
#include "programming/hex_check.h"
#include "programming/hex_line.h"
#include "programming/hex_records.h"

namespace {

using namespace fernwick::programming;
using fernwick::fuzz::require;

// All lines of `text`, as next_line reads them.
std::vector<std::string_view> split_lines(std::string_view text)
{
    std::vector<std::string_view> lines;
    std::size_t pos = 0;
    while (const auto line = next_line(text, pos)) lines.push_back(*line);
    return lines;
}

bool is_hex_digit(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f'); }

// The lines with their line ends put back give the text again.
void check_split(std::string_view text)
{
    std::size_t at = 0;
    for (const std::string_view line : split_lines(text)) {
        require(line.find_first_of("\r\n") == std::string_view::npos, "a line holds no line end");
        require(line.data() == text.data() + at, "lines in the order of the text");
        at += line.size();
        // A line ends at CR LF, LF or a lone CR, or with the text.
        const bool cr = at < text.size() && text[at] == '\r';
        if (cr) ++at;
        if (at < text.size() && text[at] == '\n') ++at;
    }
    require(at == text.size(), "nothing of the text lost");
}

void check_line(std::string_view line)
{
    const hex_line fields = read_hex_line(line);
    require(fields.length >= 0 && fields.length <= 0xFF, "the length field is one byte");
    require(fields.offset >= 0 && fields.offset <= 0xFFFF, "the offset field is one word");
    require(fields.type >= 0 && fields.type <= 0xFF, "the type field is one byte");
    require(fields.data.data() >= line.data() && fields.data.data() + fields.data.size() <= line.data() + line.size(),
            "the data lie within the line");
    const int segment = selected_segment(fields);
    require(segment >= 0 && segment <= 0xFF, "a selected segment below 100h");
    for (int i = 0; i <= fields.length; ++i) {
        const auto chars = data_byte_chars(fields.data, i);
        require(is_hex_digit(chars[0]) && is_hex_digit(chars[1]), "a data byte is two hex digits");
    }
}

void check_records(const std::string& text)
{
    const hex_records hex = parse_hex_records(text);
    require(hex.text == without_byte_order_mark(text), "the records keep the text but a byte-order mark");
    const auto lines = static_cast<int>(split_lines(hex.text).size());
    int line = 0;
    bool ended = false;
    for (const data_record& r : hex.records) {
        require(r.length > 0 && r.length <= 0xFF, "a record with data");
        require(r.offset >= 0 && r.offset <= 0xFFFF, "a record's offset is one word");
        require(r.segment >= k_no_segment && r.segment <= 0xFF, "a record lies in a segment or in none");
        require(r.data_pos <= hex.text.size() && r.data_size <= hex.text.size() - r.data_pos,
                "a record's data in the text");
        require(r.line > line && r.line <= lines, "records on rising lines of the text");
        require(!ended || r.after_end, "once after the end record, always");
        line = r.line;
        ended = r.after_end;
    }
    if (const auto conflict = find_conflict(hex))
        require(conflict->line > 0 && conflict->line <= lines && conflict->what.starts_with("gives other bytes at "),
                "a conflict names a line of the file and the addresses");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    check_split(text);
    for (const std::string_view line : split_lines(text)) check_line(line);
    check_records(text);
    const auto fault = check_hex_text(text);
    require(!fault ||
                (fault->line >= 0 && fault->line <= static_cast<int>(split_lines(text).size()) && !fault->what.empty()),
            "a fault names a line of the file and what is wrong");
    require(!fault || !fault->not_intel_hex || fault->line == 0, "another kind of file is named as a whole");
    return 0;
}
