#pragma once
// fernwick-cli's runs on boards: one board, or a production line of several
// side by side, each in a thread of its own with its own session, sharing
// only the blocks converted once before any board is touched.

#include "cli/options.h"
#include "station/board_session.h"
#include "station/stop_signals.h"

namespace fernwick::cli {

// The station and the boards it runs, as every command sees them.
using namespace fernwick::station;

// status, reset or program on every board of the request; prints the log,
// the live progress, the table and the report. Returns the exit status: 0
// every board succeeded, 1 one failed, 2 the file or the files to write
// could not be used (no board was touched), 128 + the signal when stopped.
int run_on_boards(const cli_request& r);

}  // namespace fernwick::cli
