#pragma once
// Conversion of an Intel-Hex file into the ".NEW" file of 64-byte block
// records, with the bootstrap loader code placed.

#include <array>
#include <string>
#include <vector>

namespace fernwick::programming {

struct conversion_request {
    std::string hex_file_name;
    std::array<bool, 4> sectors{};  // sectors to erase and program
    int bsl_target = 2;             // 0, 2 or -99
    int sector0_segment = 0;        // 0 or 1
};

struct conversion_result {
    std::string new_file_name;
    // Empty on success; otherwise the log lines that say what failed.
    std::vector<std::string> error_lines;
    int block_count = 0;
    bool ok() const { return error_lines.empty(); }
};

// The chosen file's name with its extension replaced by ".NEW".
std::string new_file_name_for(const std::string& hex_file_name);

// Writes the block file beside the hex file. The file appears whole or not
// at all, and never replaces the hex file itself.
conversion_result convert_hex_file(const conversion_request& request);

}  // namespace fernwick::programming
