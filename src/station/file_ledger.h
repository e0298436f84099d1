#pragma once
// The ledger in one SQLite file, shared by the stations of one host.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "station/ledger.h"
#include "station/ledger_files.h"

struct sqlite3;

namespace fernwick::station {

// The ledger's rows and numbers in SQLite, WAL, BEGIN IMMEDIATE for every
// change; the held numbers of a station on this host that ended are found
// by its process being gone.
class file_ledger : public ledger {
public:
    // Creates or opens the ledger at `path`, bringing one of an older
    // version to this version. nullptr with `why` (naming the file or its
    // folder) for a link, a file that is not a ledger (nothing is written
    // into it), a -wal or -shm file that is a link or no regular file, a
    // read-only medium, file or folder, a ledger of a newer version, or one
    // that cannot be opened.
    static std::unique_ptr<ledger> open(const std::string& path, const ledger_options& options, std::string& why);
    // For reading: never creates a file or a table (a ledger of an older
    // version is read as it is); on a read-only medium a ledger without -wal
    // is read as it stands.
    static std::unique_ptr<ledger> open_to_read(const std::string& path, std::string& why);
    ~file_ledger() override;

    bool record(const ledger_row& row, const serial_value* serial, std::string& why) override;
    std::unique_ptr<serial_book> book(numbers_series series, std::string& why) override;
    std::optional<std::vector<ledger_row>> rows(const std::optional<std::string>& serial, std::string& why) override;
    std::optional<std::vector<std::string>> notes(std::string& why) override;
    // The file at the ledger's path, or its -wal file, is no longer the one
    // opened (deleted, or another put in its place). Checked anew at each
    // call (a few lstat calls), and before and after each transaction.
    // Always false for a ledger opened to read.
    bool gone() const override;
    // "the ledger PATH was deleted or replaced while in use: ..."
    std::string gone_text() const override;
    std::string name() const override { return path_; }

private:
    class book_in_ledger;
    file_ledger(sqlite3* db, std::string path) : db_(db), path_(std::move(path)) {}
    static std::unique_ptr<file_ledger> open_file(const std::string& path, bool write, std::string& why);
    bool set_up(std::string& why);
    bool bring_from_version_1(std::string& why);
    bool bring_from_version_2(std::string& why);
    bool bring_from_version_3(std::string& why);
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
    std::string host_;     // the rows' host
    std::string station_;  // "PID START"
    // The ledger's file and its -wal as opened for writing.
    std::optional<file_identity> file_, wal_;
    mutable std::atomic<bool> gone_{false};
};

}  // namespace fernwick::station
