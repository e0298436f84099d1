#pragma once
// The chip's built-in bootstrap loader and the first-level loader it runs:
// zero byte, identification byte, 32 loader bytes, then the main program.

#include <cstdint>

#include "chip_config.h"
#include "core/serial_link.h"
#include "reaction.h"

namespace fernwick::sim {

// The identification byte D5h as the host reads it from a loader that
// timed the seven low bits of 40h (a flash status reading's first byte) for
// the nine of the zero byte: sent at 9/7 of the host's rate, its bits sampled
// by the host give FBh. Any first byte but the zero byte gets this one here.
inline constexpr std::uint8_t k_wrong_rate_identification = 0xFB;

enum class chip_phase {
    awaiting_zero,      // bootstrap loader after a board reset
    receiving_loader,   // bootstrap loader taking the 32-byte first-level loader
    receiving_program,  // first-level loader taking the main program
    resident,           // the resident program serves commands
    halted,             // runs code that is not ours, or has a wrong rate: deaf until a board reset
};

class bootstrap_loader {
public:
    explicit bootstrap_loader(const chip_config& config);

    void reset();
    // Out of reset without the bootstrap-mode pin: the chip runs its own program.
    void run_own_program() { phase_ = chip_phase::halted; }
    reaction feed(std::uint8_t byte);
    chip_phase phase() const { return phase_; }
    // How many more bytes the loader takes before it can react to one: 0
    // when it reacts to none (halted or resident).
    std::size_t bytes_to_reaction() const;

private:
    reaction take_zero(std::uint8_t byte);
    reaction take_loader_byte(std::uint8_t byte);
    reaction take_program_byte(std::uint8_t byte);
    // Whether the bring-up under way shows the configured faults.
    bool faulty() const;

    const chip_config& config_;
    chip_phase phase_ = chip_phase::awaiting_zero;
    core::byte_string code_;        // the loader or program received so far
    std::size_t program_size_ = 0;  // what the first-level loader counts
    int bring_ups_ = 0;             // zero bytes taken since the chip started; kept over resets
};

}  // namespace fernwick::sim
