#include "programming/block_record.h"

#include <charconv>

namespace fernwick::programming {

namespace {

// Reads the fields one after the other from the front of the line; every
// field but the last is followed by a comma.
class field_reader {
public:
    explicit field_reader(std::string_view line) : rest_(line) {}

    template <typename T>
    std::optional<T> number()
    {
        const auto comma = rest_.find(',');
        if (comma == std::string_view::npos) return std::nullopt;
        const std::string_view field = rest_.substr(0, comma);
        T value{};
        const auto [ptr, ec] = std::from_chars(field.data(), field.data() + field.size(), value);
        // from_chars would take a sign.
        if (field.empty() || field[0] < '0' || field[0] > '9') return std::nullopt;
        if (ec != std::errc{} || ptr != field.data() + field.size()) return std::nullopt;
        rest_.remove_prefix(comma + 1);
        return value;
    }

    std::optional<std::string> quoted(bool last)
    {
        if (rest_.empty() || rest_[0] != '"') return std::nullopt;
        const auto close = rest_.find('"', 1);
        if (close == std::string_view::npos) return std::nullopt;
        std::string text(rest_.substr(1, close - 1));
        rest_.remove_prefix(close + 1);
        if (last) {
            if (!rest_.empty()) return std::nullopt;
        } else {
            if (rest_.empty() || rest_[0] != ',') return std::nullopt;
            rest_.remove_prefix(1);
        }
        return text;
    }

private:
    std::string_view rest_;
};

std::string_view without_line_end(std::string_view line)
{
    if (!line.empty() && line.back() == '\n') line.remove_suffix(1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    return line;
}

}  // namespace

std::string format_block_record(const block_record& r)
{
    std::string line = std::to_string(r.sector) + ',' + std::to_string(r.address) + ',' + std::to_string(r.segment);
    line += ",\"";
    line += r.data;
    line += "\",\"";
    line += r.marker;
    line += '"';
    return line;
}

std::optional<block_record> read_block_record(std::string_view line)
{
    field_reader in(without_line_end(line));
    const auto sector = in.number<int>();
    if (!sector) return std::nullopt;
    const auto address = in.number<long>();
    if (!address) return std::nullopt;
    const auto segment = in.number<int>();
    if (!segment) return std::nullopt;
    auto data = in.quoted(false);
    if (!data) return std::nullopt;
    auto marker = in.quoted(true);
    if (!marker) return std::nullopt;
    return block_record{*sector, *address, *segment, std::move(*data), std::move(*marker)};
}

}  // namespace fernwick::programming
