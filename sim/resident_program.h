#pragma once
// The resident program that the bring-up leaves in the chip's RAM: it reads
// the flash status, erases sectors, programs 64-byte blocks and resets.

#include <cstdint>
#include <vector>

#include "chip_config.h"
#include "fault_plan.h"
#include "flash_memory.h"
#include "reaction.h"

namespace fernwick::sim {

class resident_program {
public:
    resident_program(const chip_config& config, flash_memory& flash, fault_plan& faults);

    // Takes one byte of a command; the reaction is empty until a command is complete.
    reaction feed(std::uint8_t byte);
    // A fresh start of the program: no command half received.
    void restart() { command_.clear(); }
    // How many more bytes it takes before it can react to one, `next`
    // being the first of them.
    std::size_t bytes_to_reaction(std::uint8_t next) const;

private:
    reaction start_command(std::uint8_t byte);
    reaction reset_chip();
    reaction read_status(std::uint8_t sector_byte);
    reaction erase(std::uint8_t sector_byte);
    reaction program_block();

    const chip_config& config_;
    flash_memory& flash_;
    fault_plan& faults_;
    std::vector<std::uint8_t> command_;  // the bytes of the command being received
};

// 256 minus the sum of the bytes modulo 256, sent as 00h when that is 256.
std::uint8_t checksum_of(const std::vector<std::uint8_t>& bytes);

}  // namespace fernwick::sim
