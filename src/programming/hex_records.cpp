#include "programming/hex_records.h"

#include "programming/hex_line.h"
#include "programming/text_file.h"

namespace fernwick::programming {

namespace {

constexpr int k_no_segment = -1;  // before the first address record

}  // namespace

hex_records parse_hex_records(std::string text)
{
    hex_records hex{std::move(text), {}};
    const std::string_view all(hex.text);
    int segment = k_no_segment;
    bool after_data = false;
    // Line by line without a list of them: a huge file of short lines would
    // otherwise cost more memory for the list than for its text.
    std::size_t pos = 0;
    while (const auto next = next_line(all, pos)) {
        const std::string_view line = *next;
        const hex_line fields = read_hex_line(line);
        if (fields.type == record_type::end_of_file) break;
        if (fields.type == record_type::extended_segment || fields.type == record_type::extended_linear) {
            segment = selected_segment(fields);
        }
        if (fields.type != record_type::data) {
            after_data = false;
            continue;
        }
        // An empty record gives no byte and is passed over: it neither
        // starts a run nor ends one.
        if (fields.length == 0) continue;
        if (segment == k_no_segment) continue;
        const auto pos = static_cast<std::size_t>(fields.data.data() - all.data());
        hex.records.push_back({segment, fields.offset, fields.length, pos, fields.data.size(), after_data});
        after_data = true;
    }
    return hex;
}

hex_read read_hex_records(const std::string& path)
{
    auto file = read_text_file(path);
    if (!file.text) return {std::nullopt, std::move(file.reason), std::nullopt};
    if (auto fault = check_hex_text(*file.text)) return {std::nullopt, {}, std::move(fault)};
    return {parse_hex_records(std::move(*file.text)), {}, std::nullopt};
}

}  // namespace fernwick::programming
