#pragma once
// A count or a time on the command line as decimal digits alone.

#include <CLI/CLI.hpp>
#include <algorithm>
#include <string>

namespace fernwick::cli {

// CLI11's range check would call "1.5" or "1e3" a value out of range, and
// its conversion reads "010" as octal 8 and "0x10" as 16: the digits are
// checked here and handed on without leading zeros. For ->transform().
inline CLI::Validator whole_number(int lowest, int highest)
{
    return CLI::Validator(
        [lowest, highest](std::string& v) {
            const bool digits = !v.empty() && v.size() <= 9 &&
                                std::all_of(v.begin(), v.end(), [](char c) { return c >= '0' && c <= '9'; });
            if (!digits || std::stoi(v) < lowest || std::stoi(v) > highest)
                return "takes a whole number from " + std::to_string(lowest) + " to " + std::to_string(highest);
            v = std::to_string(std::stoi(v));
            return std::string();
        },
        "");
}

}  // namespace fernwick::cli
