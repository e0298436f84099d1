#pragma once
// The simulated board in process: a chip model on a manual clock, reached
// through serial links, with manual UI timers. Scenario tests hand its
// platform to app_state and drive time with run_for / pump.

#include <memory>

#include "chip_model.h"
#include "core/app_state.h"

namespace fernwick::sim {

class board_core;

// Events never nest: receive notifications and timer ticks run only inside
// run_for and pump, never inside the call that caused them. A receive
// notification comes once per write of the chip, while the link is open
// with threshold 1 and bytes are pending; its handler reads what is pending.
// The polled exchanges' wait_for_data moves the clock on by itself, without
// notifications or ticks, as a blocked UI thread would.
class sim_board {
public:
    explicit sim_board(chip_config config = {});
    ~sim_board();
    sim_board(const sim_board&) = delete;
    sim_board& operator=(const sim_board&) = delete;

    // Links: COM 1 reaches the chip, only one link may have it open at a
    // time, COM 2 is a missing device. Timers run on the manual clock.
    core::platform platform();

    // Moves the clock on by ms, delivering every notification and tick in
    // time order as it falls due.
    void run_for(int ms);
    // Delivers what is due now, without moving the clock.
    void pump();
    int now_ms() const;

    chip_model& chip();
    // Every byte the host has written to the chip.
    const core::byte_string& received() const;

private:
    std::shared_ptr<board_core> core_;
};

}  // namespace fernwick::sim
