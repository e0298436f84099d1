#pragma once
// fernwick-cli's command line: the commands with their own --help, and the
// port options accepted before or after the command.

#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "cli/ledger_command.h"
#include "station/file_preparation.h"
#include "station/ledger.h"
#include "station/serial_numbers.h"

namespace fernwick::cli {

// The station and the boards it runs, as every command sees them.
using namespace fernwick::station;

inline constexpr int k_usage_error = 2;

struct cli_request {
    std::string command;  // status, reset, program, station, convert, plan, ledger, "job make" or "job show"
    // The boards, in the order given: the device behind each --com, or each
    // --device (never both); COM 1 when neither is given.
    std::vector<int> com;
    std::vector<std::string> devices;
    int baud = 9600;
    hex_choices choices;             // program, convert, plan
    std::string log_dir;             // program: each board's message log
    std::string report;              // program: JSON Lines appended per board
    core::bench_setup bench;         // status, reset, program; plan shows the sequences
    int adapter_latency_ms = 0;      // plan: a USB adapter's latency timer
    int retries = 0;                 // program: attempts after a failed one
    std::vector<std::string> ports;  // station: the patterns of its fixtures' ports
    int count = 0;                   // station: end after this many passed boards; 0: never
    std::string ledger_file;         // station, program: every board kept in this ledger
    ledger_options keeping;          // station, program: how
    ledger_request ledger;           // ledger
    serial_choice serial;            // program, station: a serial number per board
    std::string job_file;            // station --job, job make, job show
    std::string product;             // job make
    std::string operator_name, lot;  // station --job: who runs it, and the boards' lot
};

// Reads the command line (without the program name). nullopt when the
// program is to end at once with `status`: after --help (0), or a usage
// error (2) said on `err`.
std::optional<cli_request> parse_command_line(const std::vector<std::string>& args, std::ostream& out,
                                              std::ostream& err, int& status);

// The devices of the request's boards: COM n's device for each --com, or
// the --device paths.
std::vector<std::string> board_devices(const cli_request& r);

}  // namespace fernwick::cli
