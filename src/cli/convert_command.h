#pragma once
// "fernwick-cli convert": writes a hex file's ".NEW" block file without a
// board, for checking a file before a production run.

#include <ostream>

#include "station/file_preparation.h"

namespace fernwick::cli {

// The station and the boards it runs, as every command sees them.
using namespace fernwick::station;

// The same choices and defaults as "program", so the file written is the one
// "program" would send. Prints the path written; returns 0, or 2 with a
// one-line reason on `err` when "program" would refuse the file too.
int run_convert(const hex_choices& choices, std::ostream& out, std::ostream& err);

}  // namespace fernwick::cli
