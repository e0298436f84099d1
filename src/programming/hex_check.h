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
    // Not a damaged Intel-Hex file but another kind of file; `what` then says
    // which, e.g. "it looks like Motorola S-records".
    bool not_intel_hex = false;
};

// The first fault of the file's records; nullopt when every record is sound.
// Blank lines, a UTF-8 byte-order mark and the line ends CR LF, LF and CR are
// accepted. After the end record only lines that begin with ':' are
// records (two files joined); any other text there is not read.
std::optional<hex_fault> check_hex_text(std::string_view text);

// The text without a UTF-8 byte-order mark at its start.
std::string_view without_byte_order_mark(std::string_view text);

}  // namespace fernwick::programming
