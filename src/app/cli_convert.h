#pragma once
// "fernwick-cli convert": writes a hex file's ".NEW" block file without a
// board, for checking a file before a production run.

#include <ostream>
#include <string>
#include <vector>

namespace fernwick::app {

// args: FILE [--sectors LIST] [--bsl-target 0|2|-99] [--sector0-segment 0|1]
// (without the word "convert"). LIST is comma-separated sector numbers,
// default 0,1,2,3. Prints the path written; returns 0, or 2 with a one-line
// reason on `err`.
int run_convert(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace fernwick::app
