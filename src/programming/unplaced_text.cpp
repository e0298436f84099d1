#include "programming/unplaced_text.h"

#include <cstdio>

#include "programming/hex_records.h"

namespace fernwick::programming {

namespace {

constexpr long k_kib = 1024;

std::string offset_text(long offset)
{
    char text[16];
    std::snprintf(text, sizeof text, "%04lXh", static_cast<unsigned long>(offset));
    return text;
}

std::string where(const unplaced_range& r)
{
    if (r.segment == k_no_segment) {
        const std::string from = offset_text(r.first);
        return "offset " + (r.bytes() == 1 ? from : from + "-" + offset_text(r.last));
    }
    const std::string from = flash_address(r.segment, static_cast<int>(r.first));
    return r.bytes() == 1 ? from : from + "-" + flash_address(r.segment, static_cast<int>(r.last));
}

std::string why(const unplaced_range& r, int sector0_segment)
{
    switch (r.reason) {
    case unplaced_reason::no_segment: return "before any address record (type 02 or 04): the file gives no segment";
    case unplaced_reason::after_end: return "after the end record";
    case unplaced_reason::no_sector:
        return "in no flash sector with sector 0 mapped to segment " + std::to_string(sector0_segment);
    case unplaced_reason::under_code:
        return std::string("under the bootstrap loader code of sector ") + (r.segment == 2 ? "2" : "0");
    }
    return {};
}

}  // namespace

std::string amount_text(long bytes)
{
    if (bytes < k_kib) return std::to_string(bytes) + (bytes == 1 ? " byte" : " bytes");
    if (bytes % k_kib == 0 || bytes >= 10 * k_kib) return std::to_string((bytes + k_kib / 2) / k_kib) + " KiB";
    char text[32];
    std::snprintf(text, sizeof text, "%.1f KiB", static_cast<double>(bytes) / k_kib);
    return text;
}

std::string unplaced_line(const unplaced_range& r, int sector0_segment)
{
    const std::string lines = r.first_line == r.last_line
                                  ? "line " + std::to_string(r.first_line)
                                  : "lines " + std::to_string(r.first_line) + "-" + std::to_string(r.last_line);
    return where(r) + " (" + lines + ", " + amount_text(r.bytes()) + "): " + why(r, sector0_segment);
}

std::vector<std::string> unplaced_lines(const std::vector<unplaced_range>& ranges, int sector0_segment)
{
    std::vector<std::string> lines;
    long rest = 0;
    for (std::size_t i = 0; i < ranges.size(); ++i) {
        if (i < k_listed_ranges)
            lines.push_back(unplaced_line(ranges[i], sector0_segment));
        else
            rest += ranges[i].bytes();
    }
    if (ranges.size() > k_listed_ranges)
        lines.push_back("and " + std::to_string(ranges.size() - k_listed_ranges) + " more ranges, " +
                        amount_text(rest));
    return lines;
}

}  // namespace fernwick::programming
