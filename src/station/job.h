#pragma once
// A job: every choice of a station fixed once by the engineer, in a small
// JSON file that operators run for a shift and cannot change.

#include <optional>
#include <string>
#include <vector>

#include "station/station_setup.h"

namespace fernwick::station {

inline constexpr int k_job_format = 1;

struct job {
    std::string product;
    std::string hex_file;  // as written in the job: relative to its folder when beside it
    // Every choice; setup.choices.hex_file is the path to open, setup.hex_sha256
    // the file's SHA-256, setup.job_sha256 the job file's. The ports may be
    // empty: a bench gives its own.
    station_setup setup;
    std::string path;  // the job file read or written
};

// Reads and checks a job file; nullopt and the reason when it cannot be used.
std::optional<job> read_job(const std::string& path, std::string& why);

// Writes the job; the reason when it cannot be written.
std::optional<std::string> write_job(const std::string& path, const job& j);

// Why a name kept with every board's record (the product, the operator, the
// lot) cannot be kept: it is read back in a line of the report, a row of the
// ledger and a tile, so it is one line of readable text. Empty when it can.
std::string record_name_fault(const std::string& name);

// Why the ports given beside a job cannot go with it: a job that names its
// ports takes none, one that names none needs some. Empty when they fit.
std::string ports_beside_job_fault(const job& j, const std::vector<std::string>& ports);

// The job in words, one choice a line, for `fernwick-cli job show`.
std::string job_words(const job& j);

}  // namespace fernwick::station
