#pragma once
// One board's session of fernwick-cli: its own state, links, event loop and
// message log, from the reset step to the end of its command. A single run
// and each board of a production line run this same code, the latter each
// in a thread of its own.

#include <functional>
#include <iosfwd>
#include <memory>
#include <string>

#include "core/app_state.h"
#include "core/link_trace.h"
#include "station/board_outcome.h"
#include "station/file_preparation.h"

namespace fernwick::station {

struct board_job {
    std::string device;
    std::string command;  // status, reset or program
    int baud = 9600;
    hex_choices choices;                                  // program
    std::shared_ptr<const core::prepared_blocks> blocks;  // program: converted once for every board
    std::shared_ptr<core::trace_file> trace;              // none: no trace
    std::function<bool()> stop_requested;
    core::bench_setup bench;  // the entry and exit sequences, the wait for the board
    // Another attempt follows a failure: a chip whose program answered the
    // failed exchange whole is reset by software, back to its loader.
    bool reset_after_failure = false;
    // With a serial number: its place, for the plan of a later attempt, and
    // the step just before the run that stamps the board's number into
    // its blocks (false: the board is not run).
    serial_choice serial{};
    std::function<bool(core::app_state&)> before_run{};
    // A stop that holds only until a chip answers: a board that has answered
    // is under way, and finishes as every board under way does.
    std::function<bool()> stop_while_waiting{};
};

// Where a board stands, for the live view.
struct board_progress {
    std::string phase;  // "bring-up", "erase", "program", "save code", "checking", "ok", "failed", "stopped"
    core::progress_state progress;
    core::code_location code;  // told at once when it changes
    int attempt = 1, attempts_allowed = 1;
};

// Runs the job in the calling thread (which must be able to run a Qt event
// loop). `log` receives the message log as it grows, then the command's
// own lines (the sector status, the sectors chosen); `notes` the remarks on
// the file (locked boxes, the warning); `watch` is told where the board stands
// a few times a second. The outcome's exit_status is 0, 1, or 2 when the file
// could not be used after all.
board_outcome run_board(const board_job& job, std::ostream& log, std::ostream& notes,
                        const std::function<void(const board_progress&)>& watch);

}  // namespace fernwick::station
