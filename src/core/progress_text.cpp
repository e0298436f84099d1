#include "core/progress_text.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace fernwick::core {

std::string duration_text(int seconds)
{
    seconds = std::max(seconds, 0);
    const int hours = seconds / 3600;
    const int minutes = seconds / 60 % 60;
    char text[32];
    if (hours > 0)
        std::snprintf(text, sizeof text, "%d:%02d:%02d", hours, minutes, seconds % 60);
    else
        std::snprintf(text, sizeof text, "%d:%02d", minutes, seconds % 60);
    return text;
}

std::optional<int> seconds_left(const progress_state& p, std::chrono::steady_clock::time_point now)
{
    const auto elapsed = now - p.started;
    if (p.blocks_done <= 0 || elapsed < k_pace_measured_over) return std::nullopt;
    const int left = std::max(p.blocks_total - p.blocks_done, 0);
    const double per_block = std::chrono::duration<double>(elapsed).count() / p.blocks_done;
    // Rounded up: "0:00 left" only once every block is sent.
    return static_cast<int>(std::ceil(per_block * left));
}

int progress_percent(const progress_state& p)
{
    if (p.blocks_total <= 0) return 0;
    return std::clamp(static_cast<int>(100LL * p.blocks_done / p.blocks_total), 0, 100);
}

std::string progress_text(const progress_state& p, std::chrono::steady_clock::time_point now)
{
    const int block = std::clamp(p.blocks_done + 1, 0, std::max(p.blocks_total, 0));
    std::string text = "Block " + std::to_string(block) + " of " + std::to_string(p.blocks_total) + ", sector " +
                       std::to_string(p.sector);
    if (const auto left = seconds_left(p, now)) text += ", about " + duration_text(*left) + " left";
    return text;
}

}  // namespace fernwick::core
