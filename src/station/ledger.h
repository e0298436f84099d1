#pragma once
// The ledger: one SQLite database of every board programmed, which the
// stations of a host share, and the book of serial numbers kept in it, so
// that no two stations ever give one number.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "station/ledger_files.h"
#include "station/serial_numbers.h"

struct sqlite3;

namespace fernwick::station {

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
    // A job's board (empty otherwise; a ledger before version 3 has none).
    std::string product, job_sha256, operator_name, lot;
};

class ledger;

// The book of the choice's serial numbers: in the ledger when there is one,
// so that the stations sharing it never give one twice, else in memory.
// nullptr with `why` when the list cannot be read or not even the first
// number fits.
std::unique_ptr<serial_book> open_serial_book(const serial_choice& c, ledger* in, std::string& why);

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
    // Creates or opens the ledger at `path`, bringing one of version 1 or 2
    // to this version. nullptr with `why` (naming the file or its folder) for a
    // link, a file that is not a ledger (nothing is written into it), a
    // -wal or -shm file that is a link or no regular file, a read-only
    // medium, file or folder, a ledger of a newer version, or one that
    // cannot be opened.
    static std::unique_ptr<ledger> open(const std::string& path, std::string& why);
    // For reading: never creates a file or a table (a ledger of an older
    // version is read as it is); on a read-only medium a ledger without -wal is read as
    // it stands.
    static std::unique_ptr<ledger> open_to_read(const std::string& path, std::string& why);
    ~ledger();
    ledger(const ledger&) = delete;
    ledger& operator=(const ledger&) = delete;

    // Writes the row and, in the same transaction, settles the board's
    // number (taken from a book of this ledger in this process): kept for
    // good when the board passed, else given back. False with `why` when
    // the row is not in the ledger at its path (gone() among the reasons).
    bool record(const ledger_row& row, const serial_value* serial, std::string& why);

    // The book of one series. The ledger must outlive the book. nullptr with
    // `why` when the ledger cannot say whether a list changed.
    std::unique_ptr<serial_book> book(numbers_series series, std::string& why);

    // The rows in the order written; only those of `serial` when given.
    std::optional<std::vector<ledger_row>> rows(const std::optional<std::string>& serial, std::string& why);
    // The ledger's notes in the order written, each "TIME  HOST  NOTE": the
    // numbers skipped, the lists that changed.
    std::optional<std::vector<std::string>> notes(std::string& why);

    // True once the file at the ledger's path, or its -wal file, is no
    // longer the one opened (deleted, or another put in its place): what is
    // written would go nowhere. Checked anew at each call (a few lstat
    // calls; any thread), and before and after each transaction; from then
    // on every transaction fails with gone_text(), taking no number and
    // recording no board. A station asks it to stop taking boards and to
    // end with the status of records lost. Always false for a ledger opened
    // to read.
    bool gone() const;
    // "the ledger PATH was deleted or replaced while in use: ..."
    std::string gone_text() const;

private:
    class book_in_ledger;
    ledger(sqlite3* db, std::string path) : db_(db), path_(std::move(path)) {}
    static std::unique_ptr<ledger> open_file(const std::string& path, bool write, std::string& why);
    bool set_up(std::string& why);
    bool bring_from_version_1(std::string& why);
    bool bring_from_version_2(std::string& why);
    bool keep_version_1_numbers();
    // BEGIN IMMEDIATE, `work`, COMMIT; rolled back when `work` fails. Fails
    // without a word to SQLite once the ledger is gone, and when it went
    // during the transaction.
    bool transaction(const std::function<bool(std::string&)>& work, std::string& why);
    bool insert_row(const ledger_row& row, std::string& why);
    // The number held at `place` by this process: kept for good by the
    // board `board` (a row's id, or none), or given back.
    bool settle_number(const std::string& place, const serial_value& value, bool kept,
                       std::optional<std::int64_t> board, std::string& why);
    bool skip_unsettled(std::string& why);

    std::mutex mutex_;
    sqlite3* db_;
    const std::string path_;
    int version_ = 0;
    // The ledger's file and its -wal as opened for writing.
    std::optional<file_identity> file_, wal_;
    mutable std::atomic<bool> gone_{false};
};

}  // namespace fernwick::station
