#pragma once
// A serial number per board: where it goes in flash, how it is written, and
// the book that gives each board the next one. A number is kept only by a
// board that passed; a failed board's number goes back and is given next.

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "core/app_state.h"
#include "programming/hex_records.h"

namespace CLI {
class App;
}

namespace fernwick::station {

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
    std::string list_file;    // one value per line (hex bytes); empty: numbers from start and step
    std::optional<int> over;  // 0xFF or 0x00: the file may give this byte where the number goes
};

// One board's number.
struct serial_value {
    std::uint64_t index = 0;          // its place: start + index * step, or the list's index-th value
    std::string text;                 // as the operator reads it: "1042", or the list's "00:1A:2B:3C:4D:5E"
    std::vector<std::uint8_t> bytes;  // as written into flash, lowest address first
    // What the operator is told with it: the numbers skipped for it (kept by
    // boards already), a list that changed.
    std::vector<std::string> notes = {};
    // A server's ledger: its hold on the number, which settles it with the board's row.
    std::string hold = {};
};

// Gives the numbers out. Implementations: in memory for one process, or in
// the ledger, shared by several stations.
class serial_book {
public:
    // Told what a board waits for while the book cannot give a number now
    // but may soon (its server out of reach); false to give up.
    using waiting = std::function<bool(const std::string&)>;

    virtual ~serial_book() = default;
    // The next number for a board: the lowest one given back, else the next
    // one not given yet; in a ledger, the lowest that no board keeps at its
    // place and no station holds. nullopt (with `why`) when the series is
    // used up or the book cannot be read.
    virtual std::optional<serial_value> take(std::string& why, const waiting& wait) = 0;
    std::optional<serial_value> take(std::string& why) { return take(why, {}); }
    // After the board: kept for good when it passed, else given back.
    // False (with `why`) when this could not be written down.
    virtual bool settle(const serial_value& value, bool passed, std::string& why) = 0;
};

using serial_list = std::vector<std::vector<std::uint8_t>>;

// --serial and the options that go with it, on `command`; after the parse
// the choice is complete, and an option that needs --serial, or one that
// --serial-list excludes, is a usage error (checked in the command's
// parse_complete_callback, which this sets).
void add_serial_options(CLI::App& command, serial_choice& c);

// --serial's ADDR:BYTES[:FORMAT] into `c`, as the option reads it; the
// reason when it is not one.
std::string read_serial_place(const std::string& text, serial_choice& c);

// "le", "be", "bcd" or "ascii", as --serial writes the format.
std::string serial_format_name(serial_format f);

// "02'FFF0h-02'FFF3h": where the number goes.
std::string serial_place_text(const serial_choice& c);

// "00:1A:2B": bytes as a list gives them, and as a ledger keeps a number.
std::string serial_bytes_text(const std::vector<std::uint8_t>& bytes);

// A number as a ledger of version 1 recorded it, by its series' name
// ("numbers from 1000 step 1 as le at 02'FFF0h-02'FFF3h", "list FILE at
// 02'FFF0h-02'FFF1h") and its text: its place and its bytes' text. nullopt
// for a name this program never wrote.
std::optional<std::pair<std::string, std::string>> recorded_number(const std::string& series, const std::string& text);

// The values of --serial-list: one a line as hex bytes (00:1A:2B, 00-1A-2B or
// 001A2B), blank lines and # comments skipped, each of c.bytes bytes, none
// twice. nullopt with `why` (the file and its line) otherwise.
std::optional<serial_list> read_serial_list(const serial_choice& c, std::string& why);

// The index-th number: start + index * step written in the format, or the
// list's index-th value. nullopt when the series is used up there (the
// number no longer fits in its bytes, or the list has no more).
std::optional<serial_value> serial_number_at(const serial_choice& c, const serial_list& list, std::uint64_t index);

// Why the number cannot go where the choice puts it, for the run that
// programs `sectors`: not wholly in one programmed sector, under the
// bootstrap loader code of `bsl_target`, or over bytes the file gives (other
// than c.over). nullopt when it can.
std::optional<std::string> serial_place_fault(const serial_choice& c, const std::array<bool, 4>& sectors,
                                              int bsl_target, int sector0_segment, const programming::hex_records& hex);

// A copy of the blocks with the number's bytes in the records that hold its
// place; nullptr when a byte's record is missing.
std::shared_ptr<const core::prepared_blocks> stamp(const core::prepared_blocks& blocks, long address,
                                                   const serial_value& value);

// The book of one process, shared by its boards' threads.
class memory_book : public serial_book {
public:
    memory_book(serial_choice c, serial_list list);
    using serial_book::take;
    std::optional<serial_value> take(std::string& why, const waiting& wait) override;
    bool settle(const serial_value& value, bool passed, std::string& why) override;

private:
    const serial_choice choice_;
    const serial_list list_;
    std::mutex mutex_;
    std::uint64_t next_ = 0;
    std::set<std::uint64_t> given_back_;
};

// Why the book has no number for a board at `index`: "the serial numbers are
// used up: ..." or "the serial list FILE is used up ...".
std::string used_up_text(const serial_choice& c, const serial_list& list, std::uint64_t index);

// Just before a board's run: its number (taken once, the same over its
// attempts, its notes then said in the board's log) stamped into the blocks
// it sends. False, with the reason in the board's log and its run failed at
// the step "serial number", when the book gives none.
bool stamp_board(core::app_state& s, serial_book& book, long address, std::optional<serial_value>& number,
                 const serial_book::waiting& wait = {});

}  // namespace fernwick::station
