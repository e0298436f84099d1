#pragma once
// The ledger of every board programmed and the book of serial numbers kept
// in it, so that no two stations ever give one number: an SQLite file that
// the stations of one host share, or a PostgreSQL server that the stations
// of many hosts share.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "station/serial_numbers.h"

namespace fernwick::station {

// One board's record.
struct ledger_row {
    std::string time;            // ISO 8601, UTC; record() takes the time now when empty
    std::string host;            // record() takes the ledger's host name when empty
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
    // A job's board (empty otherwise; a ledger before version 3 has none).
    std::string product, job_sha256, operator_name, lot;
    std::string station = {};  // the station process that wrote it: "PID START"; record() fills it in
};

class ledger;

// The book of the choice's serial numbers: in the ledger when there is one,
// so that the stations sharing it never give one twice, else in memory.
// nullptr with `why` when the list cannot be read or not even the first
// number fits.
std::unique_ptr<serial_book> open_serial_book(const serial_choice& c, ledger* in, std::string& why);

// How a station keeps its ledger, beside where it is.
struct ledger_options {
    std::string host_name;  // the host the rows name; empty: the system's host name
    // A server's ledger: the local file where records wait while the server
    // cannot be reached (empty: one of this user's, named after the server),
    // and the serial numbers a station holds reserved ahead of its boards.
    std::string spool;
    int serial_lease = 0;
};

// True for a PostgreSQL connection URI (postgresql://, postgres://) or a
// libpq "key=value" string; anything else is a path.
bool is_server_ledger(const std::string& target);

// What a server's ledger says of itself while a station runs: empty while
// all is well, else "ledger server unreachable since 10:42, 3 records
// waiting".
struct ledger_health {
    std::string trouble;
    int waiting = 0;  // records in the spool, not yet in the ledger
    std::string spool;
};

// One series of numbers as the ledger books it.
struct numbers_series {
    std::string name;   // the caller's key, e.g. "numbers from 1000 step 1 as le at 02'FFF0h-02'FFF3h"
    std::string place;  // where the numbers go and how long they are: "02'FFF0h-02'FFF3h"
    // The index-th number, nullopt when the series has no more.
    std::function<std::optional<serial_value>(std::uint64_t)> value_at;
    // A list's name and a digest of its values: a list whose values are not
    // those this ledger last gave from under the series' name is said to
    // have changed. Empty for numbers counted.
    std::string list_name, list_digest;
    std::uint64_t list_values = 0;
};

inline constexpr const char* k_unsettled_step = "the station ended before the board's result was recorded";

// A ledger's numbers are kept by their bytes at their place: a number a
// board passed with (or may hold, its station having ended before its
// result) is never given again at that place, by whatever series; a series
// skips it, says so with the number it gives next, and notes it in the
// ledger once. A series gives its lowest number that no board keeps and no
// station holds.
class ledger {
public:
    // The SQLite file at a path, or the server of a connection string (see
    // is_server_ledger): nullptr with `why` when it cannot be kept.
    static std::unique_ptr<ledger> open(const std::string& target, const ledger_options& options, std::string& why);
    static std::unique_ptr<ledger> open(const std::string& target, std::string& why) { return open(target, {}, why); }
    // For reading: never creates a file, a table or a spool.
    static std::unique_ptr<ledger> open_to_read(const std::string& target, std::string& why);
    virtual ~ledger() = default;
    ledger() = default;
    ledger(const ledger&) = delete;
    ledger& operator=(const ledger&) = delete;

    // Writes the row and, in the same transaction, settles the board's
    // number (taken from a book of this ledger in this process): kept for
    // good when the board passed, else given back. False with `why` when
    // the row is nowhere safe (gone() among the reasons); a server's row
    // that waits in its spool is safe.
    virtual bool record(const ledger_row& row, const serial_value* serial, std::string& why) = 0;

    // The book of one series. The ledger must outlive the book. nullptr with
    // `why` when the ledger cannot say whether a list changed.
    virtual std::unique_ptr<serial_book> book(numbers_series series, std::string& why) = 0;

    // The rows in the order written; only those of `serial` when given.
    virtual std::optional<std::vector<ledger_row>> rows(const std::optional<std::string>& serial, std::string& why) = 0;
    // The ledger's notes in the order written, each "TIME  HOST  NOTE": the
    // numbers skipped, the lists that changed.
    virtual std::optional<std::vector<std::string>> notes(std::string& why) = 0;

    // True once what is written would go nowhere: a file deleted or
    // replaced, a server's ledger made anew. From then on every
    // transaction fails with gone_text(), taking no number and recording
    // no board. A station asks it to stop taking boards and to end with the
    // status of records lost. Any thread.
    virtual bool gone() const = 0;
    virtual std::string gone_text() const = 0;

    // How the output names it: the file's path, or "the ledger server HOST/DB".
    virtual std::string name() const = 0;
    // A server's trouble and its spool; always well for a file.
    virtual ledger_health health() const { return {}; }
    // What happened to a server's ledger since last asked, each a line for
    // the operator: the server lost, back, records forwarded.
    virtual std::vector<std::string> news() { return {}; }
    // At the station's end: the numbers reserved ahead go back. What the
    // operator must know of records still waiting (empty when none wait).
    virtual std::string finish() { return {}; }
};

}  // namespace fernwick::station
