#pragma once
// fernwick-cli station: every board that arrives at a fixture is programmed
// once, until Ctrl-C, SIGTERM or --count boards passed.

#include "cli/options.h"
#include "station/station_setup.h"

namespace fernwick::cli {

// The station and the boards it runs, as every command sees them.
using namespace fernwick::station;

// Runs the station of the request. Returns the exit status: 0 every board
// that arrived passed, 1 one did not (or a record could not be written),
// 2 the file, the patterns or the files to write could not be used (no
// board was touched), 128 + the signal when stopped.
int run_station(const cli_request& r);

// The request's choices as a station runs them.
station_setup setup_of(const cli_request& r);

}  // namespace fernwick::cli
