#pragma once
// The two flash exchanges with the resident program, erase sector and
// program block, each answered by a checksum byte and a status byte, read by
// polling the command link with its receive notifications off.

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/app_state.h"

namespace fernwick::programming {

inline constexpr int k_answer_patience_ms = 10000;
// The chip's typical times, which bound how late the answer to a command
// written can still come.
inline constexpr int k_erase_ms = 300;  // one sector
inline constexpr int k_program_ms = 2;  // one 64-byte block
inline constexpr int k_settle_ms = 20;  // beyond them and the line time: an adapter's latency

// Waits on the command link until a byte is waiting; false when none came
// within 10 s or the device went away. The main window keeps showing
// progress meanwhile (it takes no input).
bool wait_for_byte(core::app_state& s);

// What went wrong in an exchange: the lines of its error block before the
// restart advice; the time-out wording belongs to the caller.
struct exchange_failure {
    bool time_out = false;
    std::vector<std::string> lines;
    core::byte_string received;  // the answer bytes that came, for the run record
    bool gone = false;           // the device went away
    // The chip's answer came whole, its checksum and a status byte: its
    // program waits for the next command.
    bool answered = false;
};
using exchange_result = std::optional<exchange_failure>;  // nullopt: done

// The command last written, as far as its answer is concerned.
struct written_command {
    std::uint8_t checksum = 0;  // the answer it must get
    std::size_t bytes = 0;      // on the line
    int chip_ms = 0;            // the chip's time for it
};

// Reads the answers of one procedure's exchanges a byte at a time: bytes that
// a link delivers together are taken in turn, as the chip sent them.
class answer_reader {
public:
    explicit answer_reader(core::app_state& s) : s_(s) {}
    std::optional<std::uint8_t> next();
    // Bytes no exchange waits for: the rest of the last read and whatever
    // is pending now or arrives within `settle_ms`. Empty when there are none.
    core::byte_string unclaimed(int settle_ms = 0);
    void written(const written_command& c);
    const written_command& last_written() const { return last_; }
    // The most milliseconds an answer of this procedure came after its line
    // time and the chip's time allowed: an adapter's latency, which the
    // check after the last exchange must wait out too.
    int most_late_ms() const { return most_late_ms_; }
    // That, or the link's answer delay measured over the run's blocks before
    // the last command, whichever is more: a procedure whose only answer
    // before its last is the erase's shows no latency of its own, as the
    // erase takes a time of its own.
    int latency_ms() const { return std::max(most_late_ms(), run_late_ms_); }

private:
    core::app_state& s_;
    core::byte_string waiting_;
    std::size_t taken_ = 0;
    written_command last_;
    bool first_awaited_ = false;
    int most_late_ms_ = 0;
    int run_late_ms_ = 0;
};

using block_bytes = std::array<std::uint8_t, 64>;

// The first 64 bytes of a block's hexadecimal text; nullopt when it holds
// fewer than 128 characters or a character that is not a hex digit.
std::optional<block_bytes> decode_block(std::string_view hex);

// Each exchange first makes sure that no byte is waiting: an answer that came
// twice would otherwise be taken for the next one.
exchange_result erase_sector(answer_reader& reader, core::app_state& s, int sector);
exchange_result program_block(answer_reader& reader, core::app_state& s, int segment, long address,
                              const block_bytes& bytes);

// After a procedure's last exchange, before it reports success: a failure when
// any byte comes that no exchange waited for, until the chip's own answer to
// the last command could have come (its line time both ways and the chip's
// time, counted from its write, the adapter's latency as latency_ms() has
// it, and k_settle_ms more), at least k_settle_ms.
// A copy of an earlier answer taken for the last one would otherwise hide
// the chip's own, which comes that late.
exchange_result settle(answer_reader& reader, core::app_state& s);

// After a failure the chip answered whole: the software reset (00h,
// confirmed by 12h) takes the chip from its program back to its bootstrap
// loader, so that a next attempt can bring it up with no hand on the board.
// False when the reset was not confirmed.
bool reset_after_failure(core::app_state& s);

// The message of a status byte other than 88h.
std::string status_message(std::uint8_t status);

// flash_error := -1 and the error block: the lines, where the bootstrap
// loader code lies now, an empty line, restart advice.
void report_flash_failure(core::app_state& s, std::vector<std::string> lines);

// The error block's line that says where the run left the bootstrap loader code.
std::string code_location_line(const core::code_location& code);

}  // namespace fernwick::programming
