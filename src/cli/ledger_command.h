#pragma once
// "fernwick-cli ledger FILE": what the ledger of programmed boards holds,
// read without writing: the totals and the yield, every row as JSON Lines or
// CSV, or the rows of one serial number.

#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

namespace CLI {
class App;
}

namespace fernwick::cli {

struct ledger_request {
    std::string file;                // a file's path or a server's connection string
    std::vector<std::string> words;  // as given: LEDGER, or init LEDGER
    bool json = false;
    bool csv = false;
    std::optional<std::string> serial;
    std::string by;                          // "lot" or "operator": the totals of each too
    std::string since;                       // only the rows from this time on (ISO 8601, UTC as the rows keep it)
    std::optional<std::string> lot;          // only the rows of this lot
    bool init = false;                       // ledger init: make a server's ledger
    std::optional<int> reservation_seconds;  // ledger init: how long a station's hold lasts unrenewed
};

// The ledger command with its own --help, on the program's command line.
void add_ledger_command(CLI::App& app, ledger_request& r);

// Makes a server's ledger (ledger init): 0, or 2 with the reason.
int run_ledger_init(const ledger_request& r, std::ostream& out, std::ostream& err);

// Prints what the request asks for. 0; 1 when no row has the serial number
// asked for; 2 when the file is no ledger or cannot be read (nothing is
// created or written).
int run_ledger(const ledger_request& r, std::ostream& out, std::ostream& err);

}  // namespace fernwick::cli
