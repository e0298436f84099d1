#pragma once
// Entry and exit sequences: the steps that set an adapter's modem lines to
// reset a board into its bootstrap mode and out of it again, the named
// wirings of a bench, and how long a bring-up waits for a board.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/serial_link.h"

namespace fernwick::core {

// Sets the lines it names; one that names neither waits.
struct modem_step {
    modem_lines lines;
    int wait_ms = 0;
};

struct modem_sequence {
    std::string wiring;  // the named wiring it comes from; empty when given as steps
    std::vector<modem_step> steps;
    // Where the windows took it from, for the way out when a port refuses it:
    // "--entry" or "--exit", or the settings file's path; empty where not said.
    std::string given_in;

    bool empty() const { return steps.empty(); }
    int wait_ms() const;  // all its waits
};

// "dtr=1,rts=0,wait=100,both=1,0", prefixed by the wiring's name where it
// has one: "reset-rts-boot-dtr (both=1,1,wait=100,rts=0,wait=50)".
std::string sequence_text(const modem_sequence& s);

// A named wiring, or steps separated by commas: dtr=0|1, rts=0|1 (1 sets the
// line), both=DTR,RTS (both lines at once) and wait=MS. nullopt with `why`
// naming the step at fault by its position. A wiring gives its exit steps
// when `exit` is set.
std::optional<modem_sequence> parse_modem_sequence(std::string_view text, bool exit, std::string& why);

// The wirings' names, for the help: "reset-rts-boot-dtr, ...".
std::string wiring_names();

struct bench_setup {
    modem_sequence entry;  // before every zero byte
    modem_sequence exit;   // after a run that succeeded
    int wait_ms =
        0;  // how long the bring-up repeats while the chip says nothing; 0: once, below 0: until it answers or a stop
    int repeat_ms = 0;  // how often it repeats then; 0: after the reply time-out
    int waited_ms = 0;  // of it, gone by since OK
};

}  // namespace fernwick::core
