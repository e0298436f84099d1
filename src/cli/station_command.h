#pragma once
// fernwick-cli station: every board that arrives at a fixture is programmed
// once, until Ctrl-C, SIGTERM or --count boards passed.

#include "cli/options.h"

namespace fernwick::cli {

// Runs the station of the request. Returns the exit status: 0 every board
// that arrived passed, 1 one did not (or a record could not be written),
// 2 the file, the patterns or the files to write could not be used (no
// board was touched), 128 + the signal when stopped.
int run_station(const cli_request& r);

}  // namespace fernwick::cli
