#pragma once
// The command line of mirel-sim: the board's behaviour and the files it
// reads and writes. Pure: turns arguments into options or an error text.

#include <optional>
#include <string>
#include <vector>

#include "chip_config.h"

namespace fernwick::sim {

struct sim_options {
    chip_config chip;
    bool follow_line_rate = false;  // pace at the baud rate the host sets on the device

    std::string link_path;        // a symlink to the device, made and removed by the simulator
    std::string preload_path;     // flash image read at start
    std::string dump_path;        // flash image written at the end, and of each board taken out
    std::string trace_path;       // every byte in both directions, with its time
    std::string replay_path;      // a FERNWICK_TRACE file played back instead of the chip
    bool fixed_adapter = false;   // a board taken out leaves the device in place, silent
    bool reset_on_close = false;  // the adapter's DTR line resets the board when the host closes the port
    bool help = false;
    bool version = false;
};

struct parsed_options {
    std::optional<sim_options> options;
    std::string error;  // why the arguments were refused
};

// The arguments after the program name.
parsed_options parse_options(const std::vector<std::string>& args);
std::string usage_text();

}  // namespace fernwick::sim
