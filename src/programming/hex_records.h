#pragma once
// The data records of an Intel-Hex file, read once into memory, with the
// segment each one lies in and whether it directly follows the previous one.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "programming/hex_check.h"

namespace fernwick::programming {

struct data_record {
    int segment = 0;
    int offset = 0;
    int length = 0;
    std::size_t data_pos = 0;  // its data characters within hex_records::text
    std::size_t data_size = 0;
    // The line before it is the previous data record (data lines of length 0
    // passed over), so the two can form one run.
    bool follows_data_line = false;
};

struct hex_records {
    std::string text;
    // In file order: the data records of length above 0 that lie in a
    // segment and stand before the end-of-file record.
    std::vector<data_record> records;

    std::string_view data_of(const data_record& r) const
    {
        return std::string_view(text).substr(r.data_pos, r.data_size);
    }
};

// Reads the records as they stand, without judging them.
hex_records parse_hex_records(std::string text);

// A hex file read for programming: its records only when it can be read and
// every record is sound.
struct hex_read {
    std::optional<hex_records> hex;
    std::string reason;              // unreadable: the system's reason
    std::optional<hex_fault> fault;  // damaged: its first fault
};
hex_read read_hex_records(const std::string& path);

}  // namespace fernwick::programming
