#pragma once
// The ledger: one SQLite database of every board programmed, which the
// stations of a host share, and the book of serial numbers kept in it, so
// that no two stations ever give one number.

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "cli/serial_numbers.h"

struct sqlite3;

namespace fernwick::cli {

// One board's record.
struct ledger_row {
    std::string time;            // ISO 8601, UTC; record() takes the time now when empty
    std::string host;            // record() takes this host's name when empty
    std::string fixture;         // "board 1", or the fixture's name
    std::string port;            // the device path
    std::string adapter_serial;  // the USB serial number of the adapter; may be empty
    std::string hex_file;        // absolute
    std::string hex_sha256;
    std::optional<std::string> serial;
    std::string series;  // the number's series; record() fills it in
    std::string result;  // "passed", "failed", "stopped"; "unknown" for a number its station left unsettled
    std::string step;    // the failing step; empty when passed
    std::optional<int> sector, block;
    std::string received;  // the bytes received at the failure, as hex text
    int attempts = 1;
    double seconds = 0;
    std::string version = FERNWICK_VERSION;
};

class ledger;

// The book of the choice's serial numbers: in the ledger when there is one,
// so that the stations sharing it never give one twice, else in memory.
// nullptr with `why` when the list cannot be read or not even the first
// number fits.
std::unique_ptr<serial_book> open_serial_book(const serial_choice& c, ledger* in, std::string& why);

inline constexpr const char* k_unsettled_step = "the station ended before the board's result was recorded";

class ledger {
public:
    // Creates or opens the ledger at `path`. nullptr with `why` for a link, a
    // file that is not a ledger (nothing is written into it), a ledger of a
    // newer version, or one that cannot be opened.
    static std::unique_ptr<ledger> open(const std::string& path, std::string& why);
    // For reading: never creates a file or a table.
    static std::unique_ptr<ledger> open_to_read(const std::string& path, std::string& why);
    ~ledger();
    ledger(const ledger&) = delete;
    ledger& operator=(const ledger&) = delete;

    // Writes the row and, in the same transaction, settles the board's
    // number (taken from a book of this ledger in this process): kept for
    // good when the board passed, else given back. False with `why` when
    // nothing was written.
    bool record(const ledger_row& row, const serial_value* serial, std::string& why);

    // The book of one series (the caller's key, e.g. "numbers from 1000 step
    // 1 at 2FFF0h"); `value_at` gives the index-th number, nullopt when the
    // series has no more. The ledger must outlive the book.
    std::unique_ptr<serial_book> book(const std::string& series,
                                      std::function<std::optional<serial_value>(std::uint64_t)> value_at,
                                      std::string& why);

    // The rows in the order written; only those of `serial` when given.
    std::optional<std::vector<ledger_row>> rows(const std::optional<std::string>& serial, std::string& why);

private:
    class book_in_ledger;
    explicit ledger(sqlite3* db) : db_(db) {}
    static std::unique_ptr<ledger> open_file(const std::string& path, bool write, std::string& why);
    bool set_up(std::string& why);
    // BEGIN IMMEDIATE, `work`, COMMIT; rolled back when `work` fails.
    bool transaction(const std::function<bool(std::string&)>& work, std::string& why);
    bool insert_row(const ledger_row& row, std::string& why);
    bool settle_number(const std::string& series, std::uint64_t index, bool kept, std::string& why);
    bool skip_unsettled(std::string& why);

    std::mutex mutex_;
    sqlite3* db_;
};

}  // namespace fernwick::cli
