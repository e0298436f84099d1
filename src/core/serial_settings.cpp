#include "core/serial_link.h"

#include <algorithm>
#include <charconv>
#include <numeric>
#include <vector>

namespace fernwick::core {
namespace {

std::vector<std::string_view> split(std::string_view text, char sep)
{
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    for (;;) {
        const auto end = text.find(sep, start);
        parts.push_back(text.substr(start, end - start));
        if (end == std::string_view::npos) return parts;
        start = end + 1;
    }
}

std::optional<int> to_int(std::string_view field)
{
    int value = 0;
    const auto* end = field.data() + field.size();
    const auto [ptr, ec] = std::from_chars(field.data(), end, value);
    if (field.empty() || ec != std::errc{} || ptr != end) return std::nullopt;
    return value;
}

}  // namespace

std::optional<line_settings> parse_settings(std::string_view text)
{
    const auto parts = split(text, ',');
    if (parts.size() != 4 || parts[1].size() != 1) return std::nullopt;
    const auto baud = to_int(parts[0]);
    const auto data_bits = to_int(parts[2]);
    const auto stop_bits = to_int(parts[3]);
    const char parity = parts[1][0];
    const std::string_view parities = "noems";
    if (!baud || *baud <= 0 || !data_bits || *data_bits < 5 || *data_bits > 8 || !stop_bits ||
        (*stop_bits != 1 && *stop_bits != 2) || parities.find(parity) == std::string_view::npos)
        return std::nullopt;
    return line_settings{*baud, parity, *data_bits, *stop_bits};
}

int line_time_ms(std::size_t n, int baud)
{
    if (baud <= 0) return 0;
    const long long bits = static_cast<long long>(n) * 10;
    return static_cast<int>((bits * 1000 + baud - 1) / baud);
}

// An answer cannot come before it was due on a real line; a board that
// takes the bytes faster than the line (a simulated one) is simply on time.
void serial_link::answer_taken(double due_ms)
{
    if (delays_ms_.size() < k_delays_counted) delays_ms_.push_back(std::max(ms_since_write() - due_ms, 0.0));
}

std::optional<double> serial_link::answer_delay_ms() const
{
    if (delays_ms_.empty()) return std::nullopt;
    auto sorted = delays_ms_;
    std::sort(sorted.begin(), sorted.end());
    sorted.resize(sorted.size() - sorted.size() / 2);
    return std::accumulate(sorted.begin(), sorted.end(), 0.0) / static_cast<double>(sorted.size());
}

}  // namespace fernwick::core
