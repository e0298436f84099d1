#pragma once
// Whether an Intel-Hex file is sound before any of it goes to the flash: a
// damaged file (a bad checksum, a stray character, a cut line, no end
// record) would otherwise be programmed as whatever its characters read as.

#include <optional>
#include <string>
#include <string_view>

namespace fernwick::programming {

struct hex_fault {
    int line = 0;      // counted from 1, blank lines included; 0: the file as a whole
    std::string what;  // follows "Line N" or "The file", e.g. "has the checksum 3Fh, it should be 40h"
};

// The first fault of the file's records up to its end record; nullopt when
// every record is sound. Blank lines and the line ends CR LF, LF and CR are
// accepted; what follows the end record is not read.
std::optional<hex_fault> check_hex_text(std::string_view text);

}  // namespace fernwick::programming
