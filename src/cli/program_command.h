#pragma once
// fernwick-cli's runs on boards: one board, or a production line of several
// side by side, each in a thread of its own with its own session, sharing
// only the blocks converted once before any board is touched.

#include "cli/board_session.h"
#include "cli/options.h"

namespace fernwick::cli {

// status, reset or program on every board of the request; prints the log,
// the live progress, the table and the report. Returns the exit status: 0
// every board succeeded, 1 one failed, 2 the file or the files to write
// could not be used (no board was touched), 128 + the signal when stopped.
int run_on_boards(const cli_request& r);

// Installs the handlers of SIGINT, SIGTERM, SIGHUP and SIGQUIT: the first
// signal asks every board to stop after the exchange under way, a second
// SIGINT ends the program.
void stop_on_signals();

// Where a board's code lies while it erases and saves, said by a second
// Ctrl-C that quits at once; forgotten once the board's own lines say how it
// ended.
void tell_code(std::size_t board, const std::string& device, const board_progress& b, const std::string& report);
void forget_code(std::size_t board);

// The signal that asked for a stop; 0 while none has.
int stop_signal();

// The first stop signal also writes a byte to `fd`, so that an event loop
// learns of it at once without looking every so often; -1: none.
void wake_on_stop(int fd);

}  // namespace fernwick::cli
