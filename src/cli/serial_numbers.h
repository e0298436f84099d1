#pragma once
// A serial number per board: where it goes in flash, how it is written, and
// the book that gives each board the next one. A number is kept only by a
// board that passed; a failed board's number goes back and is given next.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace fernwick::cli {

enum class serial_format { le, be, bcd, ascii };

// The operator's choice (--serial ADDR:BYTES[:FORMAT], --serial-start,
// --serial-step, --serial-list, --serial-over).
struct serial_choice {
    bool on = false;
    long address = 0;  // linear: segment * 10000h + offset
    int bytes = 0;
    serial_format format = serial_format::le;
    std::uint64_t start = 1;
    std::uint64_t step = 1;
    std::string list_file;   // one value per line (hex bytes); empty: numbers from start and step
    std::optional<int> over;  // 0xFF or 0x00: the file may give this byte where the number goes
};

// One board's number.
struct serial_value {
    std::uint64_t index = 0;          // its place: start + index * step, or the list's index-th value
    std::string text;                 // as the operator reads it: "1042", or the list's "00:1A:2B:3C:4D:5E"
    std::vector<std::uint8_t> bytes;  // as written into flash, lowest address first
};

// Gives the numbers out. Implementations: in memory for one process, or in
// the ledger, shared by several stations.
class serial_book {
public:
    virtual ~serial_book() = default;
    // The next number for a board: the lowest one given back, else the next
    // one not given yet. nullopt (with `why`) when the series is used up or
    // the book cannot be read.
    virtual std::optional<serial_value> take(std::string& why) = 0;
    // After the board: kept for good when it passed, else given back.
    // False (with `why`) when this could not be written down.
    virtual bool settle(const serial_value& value, bool passed, std::string& why) = 0;
};

}  // namespace fernwick::cli
