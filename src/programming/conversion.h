#pragma once
// Conversion of an Intel-Hex file into the ".NEW" file of 64-byte block
// records, with the bootstrap loader code placed.

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "programming/block_layout.h"
#include "programming/hex_check.h"
#include "programming/hex_records.h"

namespace fernwick::programming {

struct conversion_request {
    std::string hex_file_name;
    std::array<bool, 4> sectors{};  // sectors to erase and program
    int bsl_target = 2;             // 0, 2 or -99
    int sector0_segment = 0;        // 0 or 1
};

struct conversion_failure {
    enum class kind { would_overwrite, unreadable, damaged, not_intel_hex, unwritable };
    kind what = kind::unreadable;
    std::string path;    // the file concerned
    std::string reason;  // the system's reason, what is wrong with the line, or what the file looks like
    int line = 0;        // damaged: the line, counted from 1
};

// The failure of a hex file that cannot be read (the system's `reason`) or
// is not sound (`fault`).
conversion_failure file_failure(const std::string& path, const std::string& reason,
                                const std::optional<hex_fault>& fault);

// The lines of the error block that reports the failure.
std::vector<std::string> failure_lines(const conversion_failure& failure);
// The failure in one line for a terminal, e.g. "app.hex: line 7 has ...".
std::string failure_text(const conversion_failure& failure);

struct conversion_result {
    std::string new_file_name;
    std::optional<conversion_failure> failure;
    std::string block_text;  // the block records, CR LF after each
    int block_count = 0;
    std::vector<unplaced_range> unplaced;  // bytes of the file that reach no flash
    std::array<long, 4> sector_bytes{};    // bytes of the file placed in each sector, chosen or not
    bool ok() const { return !failure; }
};

// The chosen file's name with its extension replaced by ".NEW".
std::string new_file_name_for(const std::string& hex_file_name);

// Bytes that each board gets on its own (a serial number), at a linear
// address: placed as 00h before any byte of the file, so that their block is
// made and holds them whatever the file gives there.
struct reserved_bytes {
    long address = 0;
    int count = 0;
};

// The block records in memory; no file is written.
conversion_result convert_hex(const conversion_request& request, const std::optional<reserved_bytes>& reserved = {});

// convert_hex of records read before, whatever the file holds now.
conversion_result convert_hex_records(const conversion_request& request, hex_records hex,
                                      const std::optional<reserved_bytes>& reserved = {});

// convert_hex, and the block file written beside the hex file. The file
// appears whole or not at all, and the hex file is never written.
conversion_result convert_hex_file(const conversion_request& request);

// Writes the block file of a conversion already made, as convert_hex_file
// does; the result, or the failure to write it.
conversion_result write_block_file(conversion_result converted);

}  // namespace fernwick::programming
