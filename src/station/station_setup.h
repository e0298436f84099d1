#pragma once
// Every choice a station runs with: the command line's options or a job's.

#include <string>
#include <vector>

#include "core/app_state.h"
#include "station/file_preparation.h"
#include "station/ledger.h"
#include "station/serial_numbers.h"

namespace fernwick::station {

struct station_setup {
    std::vector<std::string> ports;  // the patterns of its fixtures' ports
    int baud = 9600;
    hex_choices choices;
    core::bench_setup bench;  // the entry and exit sequences
    int retries = 0;          // attempts after a failed one
    std::string report;       // JSON Lines appended per board
    std::string log_dir;      // one message log per fixture
    std::string ledger_file;  // every board kept in this ledger: a file, or a server's connection string
    ledger_options keeping;
    int count = 0;         // end after this many passed boards; 0: never
    serial_choice serial;  // a serial number per board
    // A job's run: the hex file must have this SHA-256 at the start and
    // before every board (empty: any sound file, a new one taken as it
    // comes), and every record carries the rest.
    std::string hex_sha256;
    std::string product;
    std::string job_sha256;  // of the job file's bytes
    std::string operator_name;
    std::string lot;
};

}  // namespace fernwick::station
