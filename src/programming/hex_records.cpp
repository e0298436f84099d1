#include "programming/hex_records.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <numeric>

#include "core/hex_text.h"
#include "programming/hex_line.h"
#include "programming/text_file.h"

namespace fernwick::programming {

namespace {

constexpr long k_segment_size = 0x10000;

long linear_start(const data_record& r) { return r.segment * k_segment_size + r.offset; }

int byte_value(std::string_view data, int i)
{
    const auto chars = data_byte_chars(data, i);
    return core::hex_digit_value(chars[0]) * 16 + core::hex_digit_value(chars[1]);
}

// A byte some record gave, kept while a later record may still reach it.
struct given_byte {
    long address = -1;
    int value = 0;
    int line = 0;
};

std::string conflict_text(const data_record& r, int first, int last, int other_line)
{
    const std::string from = flash_address(r.segment, r.offset + first);
    const std::string range = first == last ? from : from + "-" + flash_address(r.segment, r.offset + last);
    return "gives other bytes at " + range + " than line " + std::to_string(other_line);
}

}  // namespace

hex_records parse_hex_records(std::string text)
{
    text.erase(0, text.size() - without_byte_order_mark(text).size());
    hex_records hex{std::move(text), {}};
    const std::string_view all(hex.text);
    int segment = k_no_segment;
    bool ended = false;
    int number = 0;
    // Line by line without a list of them: a huge file of short lines would
    // otherwise cost more memory for the list than for its text.
    std::size_t pos = 0;
    while (const auto next = next_line(all, pos)) {
        ++number;
        const std::string_view line = *next;
        if (ended && !line.starts_with(':')) continue;
        const hex_line fields = read_hex_line(line);
        if (fields.type == record_type::end_of_file) {
            // A second file joined behind gives its own segments.
            ended = true;
            segment = k_no_segment;
            continue;
        }
        if (fields.type == record_type::extended_segment || fields.type == record_type::extended_linear) {
            segment = selected_segment(fields);
        }
        // An empty record gives no byte.
        if (fields.type != record_type::data || fields.length == 0) continue;
        const auto at = static_cast<std::size_t>(fields.data.data() - all.data());
        hex.records.push_back({segment, fields.offset, fields.length, at, fields.data.size(), number, ended});
    }
    return hex;
}

std::optional<hex_fault> find_conflict(const hex_records& hex)
{
    std::vector<std::size_t> order;
    for (std::size_t i = 0; i < hex.records.size(); ++i)
        if (hex.records[i].segment != k_no_segment && !hex.records[i].after_end) order.push_back(i);
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        return linear_start(hex.records[a]) < linear_start(hex.records[b]);
    });
    // Records taken in rising start address and at most 255 bytes long: every
    // byte a later record can reach lies within 256 addresses of its start.
    std::array<given_byte, 256> window{};
    for (const std::size_t i : order) {
        const data_record& r = hex.records[i];
        const std::string_view data = hex.data_of(r);
        for (int k = 0; k < r.length; ++k) {
            const long address = linear_start(r) + k;
            given_byte& slot = window[static_cast<std::size_t>(address % 256)];
            const int value = byte_value(data, k);
            if (slot.address != address) {
                slot = {address, value, r.line};
                continue;
            }
            if (slot.value == value) continue;
            const int other = slot.line;
            int last = k;
            while (last + 1 < r.length) {
                const given_byte& next = window[static_cast<std::size_t>((address + last + 1 - k) % 256)];
                if (next.address != address + last + 1 - k || next.line != other ||
                    next.value == byte_value(data, last + 1))
                    break;
                ++last;
            }
            return hex_fault{std::max(r.line, other), conflict_text(r, k, last, std::min(r.line, other))};
        }
    }
    return std::nullopt;
}

std::string flash_address(int segment, int offset)
{
    char text[16];
    std::snprintf(text, sizeof text, "%02X'%04Xh", static_cast<unsigned>(segment) & 0xFFu,
                  static_cast<unsigned>(offset));
    return text;
}

hex_read read_hex_records(const std::string& path)
{
    auto file = read_text_file(path);
    if (!file.text) return {std::nullopt, std::move(file.reason), std::nullopt};
    return hex_records_of(std::move(*file.text));
}

hex_read hex_records_of(std::string text)
{
    if (auto fault = check_hex_text(text)) return {std::nullopt, {}, std::move(fault)};
    auto hex = parse_hex_records(std::move(text));
    if (auto fault = find_conflict(hex)) return {std::nullopt, {}, std::move(fault)};
    return {std::move(hex), {}, std::nullopt};
}

}  // namespace fernwick::programming
