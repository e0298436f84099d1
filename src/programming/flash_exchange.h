#pragma once
// The two flash exchanges with the resident program, erase sector and
// program block, each answered by a checksum byte and a status byte, read by
// polling the command link with its receive notifications off.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/app_state.h"

namespace fernwick::programming {

inline constexpr int k_max_empty_polls = 10000;

// Polls the command link until a byte is waiting; false after 10000 polls
// found none. Each poll waits at most about 1 ms, and the main window keeps
// showing progress meanwhile (it takes no input).
bool wait_for_byte(core::app_state& s);

// What went wrong in an exchange; the time-out wording belongs to the caller.
struct exchange_failure {
    bool time_out = false;
    std::string message;
};
using exchange_result = std::optional<exchange_failure>;  // nullopt: done

// Reads the answers of one procedure's exchanges a byte at a time: bytes that
// a link delivers together are taken in turn, as the chip sent them.
class answer_reader {
public:
    explicit answer_reader(core::app_state& s) : s_(s) {}
    std::optional<std::uint8_t> next();

private:
    core::app_state& s_;
    core::byte_string waiting_;
    std::size_t taken_ = 0;
};

using block_bytes = std::array<std::uint8_t, 64>;

// The first 64 bytes of a block's hexadecimal text; nullopt when it holds
// fewer than 128 characters or a character that is not a hex digit.
std::optional<block_bytes> decode_block(std::string_view hex);

exchange_result erase_sector(answer_reader& reader, core::app_state& s, int sector);
exchange_result program_block(answer_reader& reader, core::app_state& s, int segment, long address,
                              const block_bytes& bytes);

// The message of a status byte other than 88h.
std::string status_message(std::uint8_t status);

// flash_error := -1 and the error block: message, empty line, restart advice.
void report_flash_failure(core::app_state& s, const std::string& message);

}  // namespace fernwick::programming
