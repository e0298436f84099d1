#pragma once
// fernwick-cli job make and job show, and the job a station --job runs.

#include <iosfwd>
#include <optional>

#include "cli/options.h"
#include "station/station_setup.h"

namespace fernwick::cli {

// Checks FILE and every choice as station would (2 and the reason when they
// fail) and writes the job; 0 once it is written.
int run_job_make(const cli_request& r, std::ostream& out, std::ostream& err);

// The job in words: 0; 2 with the reason when it cannot be used.
int run_job_show(const cli_request& r, std::ostream& out, std::ostream& err);

// The setup of `station --job`: the job's, with the bench's ports where it
// names none, and who runs it; nullopt with the reason said on `err`.
std::optional<station_setup> job_setup(const cli_request& r, std::ostream& err);

}  // namespace fernwick::cli
