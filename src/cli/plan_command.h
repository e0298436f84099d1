#pragma once
// "fernwick-cli plan": what a run of a hex file would do and how long it
// would take, worked out without a board from the same conversion and step
// order as the run.

#include <iosfwd>
#include <vector>

#include "programming/flash_exchange.h"
#include "programming/programming_run.h"
#include "station/file_preparation.h"

namespace fernwick::cli {

// The station and the boards it runs, as every command sees them.
using namespace fernwick::station;

// The chip's typical times, which the simulated board also takes for a real
// board's (./run --simulated-board).
inline constexpr int k_typical_erase_ms = programming::k_erase_ms;      // one sector
inline constexpr int k_typical_program_ms = programming::k_program_ms;  // one 64-byte block

struct planned_step {
    programming::run_step step;
    int blocks = 0;  // the blocks it sends after its erase
};

struct run_estimate {
    std::vector<planned_step> steps;  // in the run's order
    int erases = 0;
    int blocks = 0;               // all blocks sent, the saved code's included
    long long bytes_out = 0;      // to the chip, the bring-up's included
    long long bytes_back = 0;     // from the chip, the bring-up's included
    double bring_up_seconds = 0;  // its bytes on the line
    double line_seconds = 0;      // every byte both ways, the bring-up's included
    double chip_seconds = 0;      // erases and blocks at the typical times
    double check_seconds = 0;     // the wait for a late byte after each step
    int adapter_latency_ms = 0;   // a USB adapter's latency timer; 0: none
    double held_seconds = 0;      // answers held by the adapter, the bring-up's included
    double seconds = 0;           // from the zero byte to the run's end
};

// The steps and time of a run of a plan that make_plan did not refuse, made
// with the choices `c`, at `baud`, through an adapter whose latency timer
// runs `adapter_latency_ms`.
run_estimate estimate_run(const plan& p, const hex_choices& c, int baud, int adapter_latency_ms = 0);

// Prints the plan of the file and its estimate, with the bench's entry and
// exit sequences, and returns 0, or 2 with the reason on `err` when the file
// cannot be used.
int run_plan(const hex_choices& c, int baud, const core::bench_setup& bench, int adapter_latency_ms, std::ostream& out,
             std::ostream& err);

}  // namespace fernwick::cli
