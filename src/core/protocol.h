#pragma once
// The bytes of the serial protocol between the tool and the Mirel: the
// bootstrap loader's handshake, the resident program's commands and its
// status bytes. The tool and the simulated board both use these, so that
// the two can never disagree on a value.

#include <cstdint>

namespace fernwick::protocol {

inline constexpr std::uint8_t zero = 0x00;            // zero byte that starts the bootstrap loader
inline constexpr std::uint8_t identification = 0xD5;  // identification byte of the Mirel
inline constexpr std::uint8_t loader_ack = 0x22;      // first-level loader has started
inline constexpr std::uint8_t program_ack = 0x11;     // resident program has started
inline constexpr std::uint8_t reset_command = 0x00;   // software reset
inline constexpr std::uint8_t reset_ack = 0x12;       // software reset carried out
inline constexpr std::uint8_t erase_command = 0x20;   // erase sector, followed by 20h + n
inline constexpr std::uint8_t block_command = 0x33;   // program a 64-byte block
inline constexpr std::uint8_t status_command = 0x40;  // read flash status, followed by 40h + n
inline constexpr std::uint8_t done = 0x88;            // status: done
inline constexpr std::uint8_t command_error = 0x91;   // status: command error
inline constexpr std::uint8_t timeout_error = 0x92;   // status: time-out on the chip
inline constexpr std::uint8_t flag_error = 0x93;      // status: flag error
inline constexpr std::uint8_t operand_error = 0x94;   // status: operand error

}  // namespace fernwick::protocol
