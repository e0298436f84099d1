#pragma once
// The data records of an Intel-Hex file, read once into memory, with the
// segment each one lies in and the line it stands on.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "programming/hex_check.h"

namespace fernwick::programming {

inline constexpr int k_no_segment = -1;  // before the file's first address record

struct data_record {
    int segment = k_no_segment;
    int offset = 0;
    int length = 0;
    std::size_t data_pos = 0;  // its data characters within hex_records::text
    std::size_t data_size = 0;
    int line = 0;            // counted from 1, blank lines included
    bool after_end = false;  // after the file's first end record
};

struct hex_records {
    std::string text;
    // In file order: the data records of length above 0, those after the end
    // record included (they reach no flash, but the operator must hear of them).
    std::vector<data_record> records;

    std::string_view data_of(const data_record& r) const
    {
        return std::string_view(text).substr(r.data_pos, r.data_size);
    }
};

// Reads the records as they stand, without judging them.
hex_records parse_hex_records(std::string text);

// The first place where two records give different bytes for one address:
// the later line, naming the earlier one and the addresses. nullopt when
// every address is given at most once, or always with the same byte.
std::optional<hex_fault> find_conflict(const hex_records& hex);

// "02'8000h": a segment and an offset as the operator reads flash addresses.
std::string flash_address(int segment, int offset);

// A hex file read for programming: its records only when it can be read and
// every record is sound.
struct hex_read {
    std::optional<hex_records> hex;
    std::string reason;              // unreadable: the system's reason
    std::optional<hex_fault> fault;  // damaged: its first fault
};
hex_read read_hex_records(const std::string& path);
// The same for a file's text already read.
hex_read hex_records_of(std::string text);

}  // namespace fernwick::programming
