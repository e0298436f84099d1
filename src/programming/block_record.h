#pragma once
// One line of the ".NEW" block file:
//   sector,address,segment,"<128 hex characters>","EOB"
// numbers in decimal without sign, leading zeros or blanks.

#include <optional>
#include <string>
#include <string_view>

namespace fernwick::programming {

inline constexpr std::string_view k_end_of_block = "EOB";  // marker of a sound record

struct block_record {
    int sector = 0;
    long address = 0;  // offset of the block's first byte in its segment
    int segment = 0;
    std::string data;    // without its quotes
    std::string marker;  // without its quotes
};

// The line without its line end.
std::string format_block_record(const block_record& record);

// The five fields of `line` (a trailing CR or CR LF is allowed). nullopt when
// a number field holds anything but decimal digits or does not fit, a text
// field is not quoted, a field is missing or something follows the last.
// The marker is not checked here.
std::optional<block_record> read_block_record(std::string_view line);

}  // namespace fernwick::programming
