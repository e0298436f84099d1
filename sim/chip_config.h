#pragma once
// How a simulated Mirel board behaves: its identification byte, the status
// registers of its flash sectors, its timing and the faults it shows.

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "core/protocol.h"

namespace fernwick::sim {

namespace wire = fernwick::protocol;

inline constexpr int k_sector_count = 4;
inline constexpr std::size_t k_block_size = 64;

// The exchanges of the resident program that faults can target.
enum class exchange_kind { status, erase, block, reset };
inline constexpr std::size_t k_exchange_kinds = 4;

// What goes wrong in the nth exchange of one kind (counted from 1 over the
// chip's whole life, board resets included, so that a fault stays where the
// test put it). Several entries for the same exchange combine.
struct exchange_fault {
    exchange_kind kind = exchange_kind::status;
    int nth = 1;
    bool wrong_checksum = false;         // checksum answered one too high
    std::optional<std::uint8_t> status;  // answered instead of 88h; the command is not carried out
    bool silence = false;                // no answer, the command is not carried out
    int delay_ms = 0;                    // before the first answer byte
    bool drop = false;                   // the board goes away instead of answering
    bool repeat = false;                 // the whole answer sent twice, as by a glitching UART
    int repeat_after_ms = 0;             // the copy this much later than right behind the answer
};

// How the chip's answer bytes are grouped into writes towards the host.
enum class answer_grouping {
    natural,  // every byte written when the chip produces it
    split,    // every byte alone, k_split_gap_ms after the previous one
    joined,   // the whole answer of one command in one write, when its last byte is ready
};

inline constexpr int k_split_gap_ms = 5;

struct chip_timing {
    int line_rate = 0;   // baud, 10 bits per byte in both directions; 0: bytes take no time
    int erase_ms = 0;    // one sector
    int program_ms = 0;  // one block
    // The host's USB adapter holds the bytes towards the host until its
    // latency timer, started by the first byte it holds, runs out, or until
    // k_adapter_packet bytes wait; 0: no adapter.
    int adapter_latency_ms = 0;
};

inline constexpr std::size_t k_adapter_packet = 62;

using status_register = std::array<std::uint8_t, 2>;

enum class modem_line { dtr, rts };

// How the board's reset and bootstrap-mode pin hang on the adapter's modem
// lines. Each pin is active while its line is at the level given (1:
// asserted); a board wired this way runs its own program until reset.
struct modem_wiring {
    modem_line reset = modem_line::rts;
    bool reset_level = true;
    std::optional<modem_line> boot = modem_line::dtr;  // nullopt: a jumper holds the pin active
    bool boot_level = true;
};

struct chip_config {
    std::optional<std::uint8_t> id_byte = wire::identification;   // nullopt: no answer to the zero byte
    bool echo_zero = false;                                       // the zero byte comes back before the answer
    std::optional<std::uint8_t> loader_ack = wire::loader_ack;    // nullopt: no acknowledge
    std::optional<std::uint8_t> program_ack = wire::program_ack;  // nullopt: no acknowledge
    // The four above hit only the first this many bring-ups (each begun by a
    // zero byte), so that a later one shows the board recovered; nullopt: all.
    std::optional<int> faulty_bring_ups;
    // Different for each sector, so that a reading shows which sector answered.
    std::array<status_register, k_sector_count> sector_status = {
        {{0x00, 0x10}, {0x01, 0x11}, {0x02, 0x12}, {0x03, 0x13}}};
    chip_timing timing;
    answer_grouping grouping = answer_grouping::natural;
    std::vector<exchange_fault> faults;
    // The board goes away right after the chip has received this host byte
    // (counted from 1 over the chip's whole life); nullopt: never.
    std::optional<std::uint64_t> drop_at_byte;
    // nullopt: the line has no modem lines, as a pseudo-terminal.
    std::optional<modem_wiring> wiring;
};

}  // namespace fernwick::sim
