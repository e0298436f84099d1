#pragma once
// "fernwick-cli ledger FILE": what the ledger of programmed boards holds,
// read without writing: the totals and the yield, every row as JSON Lines or
// CSV, or the rows of one serial number.

#include <iosfwd>
#include <optional>
#include <string>

namespace CLI {
class App;
}

namespace fernwick::cli {

struct ledger_request {
    std::string file;
    bool json = false;
    bool csv = false;
    std::optional<std::string> serial;
    std::string by;  // "lot" or "operator": the totals of each too
};

// The ledger command with its own --help, on the program's command line.
void add_ledger_command(CLI::App& app, ledger_request& r);

// Prints what the request asks for. 0; 1 when no row has the serial number
// asked for; 2 when the file is no ledger or cannot be read (nothing is
// created or written).
int run_ledger(const ledger_request& r, std::ostream& out, std::ostream& err);

}  // namespace fernwick::cli
