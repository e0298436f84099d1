#pragma once
// "fernwick-cli convert": writes a hex file's ".NEW" block file without a
// board, for checking a file before a production run.

#include <ostream>
#include <string>
#include <vector>

namespace fernwick::app {

// args: FILE and the options of "program" (without the word "convert"): the
// same choices and defaults, so the file written is the one "program" would
// send. Prints the path written; returns 0, or 2 with a one-line reason on
// `err` when "program" would refuse the file too.
int run_convert(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace fernwick::app
