#pragma once
// The signals that stop a run: the first asks every board to stop after the
// exchange under way, a second SIGINT quits at once, saying where each
// board's code lies.

#include <cstddef>
#include <string>

#include "station/board_session.h"

namespace fernwick::station {

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

}  // namespace fernwick::station
