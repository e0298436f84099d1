#pragma once
// fernwick-cli program: the operator's programming flow without windows.

#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "core/app_state.h"

namespace fernwick::app {

struct program_options {
    std::string hex_file;
    std::optional<std::vector<int>> sectors;  // boxes set to exactly these
    std::int16_t bsl_now = 2;
    std::int16_t bsl_target = 2;
    std::int16_t sector0_segment = 0;
};

// Reads the arguments after the word "program"; nullopt with `why` set on a
// usage error.
std::optional<program_options> parse_program_options(const std::vector<std::string>& args, std::string& why);

// In the command phase: Load Hex-File, the location choices, OK, the boxes,
// Program Flash. Returns the exit status: 0 programmed, 1 an exchange with
// the chip failed, 2 the file could not be used.
int run_programming_flow(core::app_state& s, const program_options& o, std::ostream& out, std::ostream& err);

}  // namespace fernwick::app
