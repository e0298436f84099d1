#include <sqlite3.h>

#include "station/file_ledger.h"

#include "station/ledger_sql.h"

namespace fernwick::station {

using namespace ledger_sql;

namespace {

constexpr int k_version = 4;
// "FWLG" in the database header: an SQLite file of someone else's is never
// taken for a ledger, nor written into.
constexpr int k_application_id = 0x46574C47;
// Stations of one host wait for one another's short transactions.
constexpr int k_busy_ms = 10000;

// The numbers, by their bytes (value) at their place: those kept for good,
// with the board that keeps them; those a station holds now; those a series
// skipped, kept by another; and what the lists were when last given from.
const char* const k_number_tables = R"(
CREATE TABLE kept(place TEXT NOT NULL, value TEXT NOT NULL, series TEXT NOT NULL, board INTEGER,
  PRIMARY KEY(place, value));
CREATE TABLE held(place TEXT NOT NULL, value TEXT NOT NULL, series TEXT NOT NULL, serial TEXT NOT NULL,
  host TEXT NOT NULL, pid INTEGER NOT NULL, time TEXT NOT NULL, PRIMARY KEY(place, value));
CREATE TABLE skipped(series TEXT NOT NULL, place TEXT NOT NULL, value TEXT NOT NULL, PRIMARY KEY(series, place, value));
CREATE TABLE lists(series TEXT PRIMARY KEY, digest TEXT NOT NULL, count INTEGER NOT NULL);
CREATE TABLE notes(id INTEGER PRIMARY KEY, time TEXT NOT NULL, host TEXT NOT NULL, note TEXT NOT NULL);
)";

// A job's boards: its product, the job file's SHA-256, the operator and the lot.
const char* const k_job_columns = R"(
ALTER TABLE boards ADD COLUMN product TEXT NOT NULL DEFAULT '';
ALTER TABLE boards ADD COLUMN job_sha256 TEXT NOT NULL DEFAULT '';
ALTER TABLE boards ADD COLUMN operator TEXT NOT NULL DEFAULT '';
ALTER TABLE boards ADD COLUMN lot TEXT NOT NULL DEFAULT '';
)";

const char* const k_schema = R"(
CREATE TABLE boards(id INTEGER PRIMARY KEY, time TEXT NOT NULL, host TEXT NOT NULL, fixture TEXT NOT NULL,
  port TEXT NOT NULL, adapter_serial TEXT NOT NULL, hex_file TEXT NOT NULL, hex_sha256 TEXT NOT NULL,
  series TEXT NOT NULL, serial TEXT, result TEXT NOT NULL, step TEXT NOT NULL, sector INTEGER, block INTEGER,
  received TEXT NOT NULL, attempts INTEGER NOT NULL, seconds REAL NOT NULL, version TEXT NOT NULL,
  product TEXT NOT NULL DEFAULT '', job_sha256 TEXT NOT NULL DEFAULT '', operator TEXT NOT NULL DEFAULT '',
  lot TEXT NOT NULL DEFAULT '', station TEXT NOT NULL DEFAULT '');
CREATE INDEX boards_by_serial ON boards(serial);
PRAGMA application_id = 1180126279;
)";

const char* const k_columns =
    "time, host, fixture, port, adapter_serial, hex_file, hex_sha256, series, serial, result, step, sector, block, "
    "received, attempts, seconds, version";
// Read from a ledger of version 3 on (the station from 4 on); an older one has none.
const char* const k_job_fields = ", product, job_sha256, operator, lot, station";
const char* const k_job_fields_3 = ", product, job_sha256, operator, lot, ''";
const char* const k_no_job_fields = ", '', '', '', '', ''";

// SQLite's URI for reading a file as it stands: '%', '?' and '#' escaped.
std::string unchanging(const std::string& path)
{
    std::string uri = "file:";
    for (const char c : path) uri += c == '%' ? "%25" : c == '?' ? "%3f" : c == '#' ? "%23" : std::string(1, c);
    return uri + "?immutable=1";
}

}  // namespace

std::unique_ptr<ledger> file_ledger::open(const std::string& path, const ledger_options& options, std::string& why)
{
    auto l = open_file(path, true, why);
    if (l) {
        l->host_ = options.host_name.empty() ? host_name() : options.host_name;
        l->station_ = std::to_string(process_id()) + " " + now();
    }
    return l;
}

std::unique_ptr<ledger> file_ledger::open_to_read(const std::string& path, std::string& why)
{
    return open_file(path, false, why);
}

std::unique_ptr<file_ledger> file_ledger::open_file(const std::string& path, bool write, std::string& why)
{
    const auto files = check_ledger_files(path, write);
    if (files.fault) {
        why = path + ": " + *files.fault;
        return nullptr;
    }
    sqlite3* db = nullptr;
    const int flags = (write ? SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE : SQLITE_OPEN_READONLY) |
                      SQLITE_OPEN_NOFOLLOW | SQLITE_OPEN_NOMUTEX | (files.read_as_it_stands ? SQLITE_OPEN_URI : 0);
    const auto name = files.read_as_it_stands ? unchanging(path) : path;
    const int opened = sqlite3_open_v2(name.c_str(), &db, flags, nullptr);
    std::unique_ptr<file_ledger> l(new file_ledger(db, path));  // closes db on every way out
    if (opened != SQLITE_OK) {
        why = path + ": " + (db ? sqlite3_errmsg(db) : sqlite3_errstr(opened));
        return nullptr;
    }
    sqlite3_busy_timeout(db, k_busy_ms);
    std::string reason;
    if (!write) {
        statement id(db, "PRAGMA application_id");
        statement version(db, "PRAGMA user_version");
        // A database that cannot be read is not said to be another program's.
        if (id.step() != SQLITE_ROW || version.step() != SQLITE_ROW)
            reason = std::string("cannot be read: ") + sqlite3_errmsg(db);
        else if (id.integer(0) != k_application_id)
            reason = "not a ledger (an SQLite database of another program)";
        else if (version.integer(0) > k_version)
            reason = "a ledger of a newer fernwick-cli";
        l->version_ = static_cast<int>(version.integer(0));
    } else if (!l->set_up(reason) || !exec(db, "PRAGMA journal_mode = WAL", reason)) {
        if (reason.empty()) reason = sqlite3_errmsg(db);
    } else if (statement read(db, "SELECT count(*) FROM boards"); read.step() != SQLITE_ROW) {
        reason = sqlite3_errmsg(db);
    } else {
        // The -wal is there from the first reading in WAL mode while any
        // connection is open, ours included.
        l->file_ = identity_of(path);
        l->wal_ = identity_of(path + "-wal");
        if (!l->file_ || !l->wal_ || l->gone()) reason = l->gone_text();
    }
    if (reason.empty()) return l;
    why = path + ": " + reason;
    return nullptr;
}

// Creates the tables in an empty database, or checks that it is a ledger
// this program can write, bringing one of version 1 to this version; in one
// transaction, so that two stations opening a new ledger at once create it
// once.
bool file_ledger::set_up(std::string& why)
{
    return transaction(
        [this](std::string& reason) {
            std::int64_t application = 0, tables = 0;
            {
                // Done with before a table is dropped: a statement under way would lock it.
                statement id(db_, "PRAGMA application_id");
                statement version(db_, "PRAGMA user_version");
                statement count(db_, "SELECT count(*) FROM sqlite_schema");
                if (id.step() != SQLITE_ROW || version.step() != SQLITE_ROW || count.step() != SQLITE_ROW) return false;
                application = id.integer(0);
                version_ = static_cast<int>(version.integer(0));
                tables = count.integer(0);
            }
            if (application == 0 && version_ == 0 && tables == 0) {
                version_ = k_version;
                return exec(db_, k_schema, reason) && exec(db_, k_number_tables, reason) &&
                       exec(db_, "PRAGMA user_version = 4", reason);
            }
            if (application != k_application_id)
                reason = "not a ledger (an SQLite database of another program); it is left as it is";
            else if (version_ == 1)
                return bring_from_version_1(reason) && bring_from_version_2(reason) && bring_from_version_3(reason);
            else if (version_ == 2)
                return bring_from_version_2(reason) && bring_from_version_3(reason);
            else if (version_ == 3)
                return bring_from_version_3(reason);
            else if (version_ != k_version)
                reason = "a ledger of version " + std::to_string(version_) + ", this fernwick-cli writes " +
                         std::to_string(k_version);
            return reason.empty();
        },
        why);
}

// Version 1 booked a series' numbers by their index in it. Its numbers a
// board keeps, or may hold, are kept by their bytes at their place; those
// its stations hold now are held alike (an older station still running then
// fails to take or settle a number, and never gives one twice). Its number
// tables go.
bool file_ledger::bring_from_version_1(std::string& why)
{
    if (!exec(db_, k_number_tables, why) || !keep_version_1_numbers()) return false;
    version_ = 2;
    return exec(db_, "DROP TABLE series; DROP TABLE given_back; DROP TABLE used; DROP TABLE reserved;", why) &&
           add_note(db_, "brought from version 1 to version 2 by fernwick-cli " FERNWICK_VERSION
                         ": serial numbers are kept by their bytes at their place");
}

// Version 2 kept no job: its boards' rows get the job's columns, empty.
bool file_ledger::bring_from_version_2(std::string& why)
{
    if (!exec(db_, k_job_columns, why) || !exec(db_, "PRAGMA user_version = 3", why)) return false;
    version_ = 3;
    return add_note(db_, "brought from version 2 to version 3 by fernwick-cli " FERNWICK_VERSION
                         ": a job's boards keep its product, the job's SHA-256, the operator and the lot");
}

// Version 3 did not say which station process wrote a row.
bool file_ledger::bring_from_version_3(std::string& why)
{
    if (!exec(db_, "ALTER TABLE boards ADD COLUMN station TEXT NOT NULL DEFAULT ''; PRAGMA user_version = 4", why))
        return false;
    version_ = k_version;
    return add_note(db_, "brought from version 3 to version 4 by fernwick-cli " FERNWICK_VERSION
                         ": each board's row names the station process that wrote it");
}

bool file_ledger::keep_version_1_numbers()
{
    statement boards(db_, "SELECT id, series, serial FROM boards WHERE serial IS NOT NULL ORDER BY id");
    statement keep(db_, "INSERT OR IGNORE INTO kept VALUES (?, ?, ?, ?)");
    int got;
    while ((got = boards.step()) == SQLITE_ROW) {
        const auto series = boards.text(1), serial = boards.text(2);
        const auto number = recorded_number(series, serial).value_or(std::pair(series, serial));
        keep.reset();
        if (!keep.bind(1, number.first).bind(2, number.second).bind(3, series).bind(4, boards.integer(0)).done())
            return false;
        if (sqlite3_changes(db_) > 0) continue;
        // Given twice before: said, since nothing can take it back from the boards.
        statement first(db_, "SELECT board FROM kept WHERE place = ? AND value = ?");
        if (first.bind(1, number.first).bind(2, number.second).step() != SQLITE_ROW ||
            !add_note(db_, "serial number " + serial + " at " + number.first + " is kept by two boards, rows " +
                               std::to_string(first.integer(0)) + " and " + std::to_string(boards.integer(0)) +
                               " (given twice before the ledger was brought to version 2)"))
            return false;
    }
    if (got != SQLITE_DONE) return false;
    statement reserved(db_, "SELECT series, serial, host, pid, time FROM reserved");
    statement hold(db_, "INSERT OR IGNORE INTO held VALUES (?, ?, ?, ?, ?, ?, ?)");
    while ((got = reserved.step()) == SQLITE_ROW) {
        const auto series = reserved.text(0), serial = reserved.text(1);
        const auto number = recorded_number(series, serial).value_or(std::pair(series, serial));
        hold.reset();
        hold.bind(1, number.first).bind(2, number.second).bind(3, series).bind(4, serial);
        if (!hold.bind(5, reserved.text(2)).bind(6, reserved.integer(3)).bind(7, reserved.text(4)).done()) return false;
    }
    return got == SQLITE_DONE;
}

file_ledger::~file_ledger() { sqlite3_close_v2(db_); }

bool file_ledger::gone() const
{
    if (!file_) return false;
    if (!gone_ && (identity_of(path_) != file_ || identity_of(path_ + "-wal") != wal_)) gone_ = true;
    return gone_;
}

std::string file_ledger::gone_text() const
{
    return "the ledger " + path_ +
           " was deleted or replaced while in use: no board is recorded from now on (a ledger made anew there would "
           "not know the serial numbers given)";
}

bool file_ledger::transaction(const std::function<bool(std::string&)>& work, std::string& why)
{
    if (gone()) {
        why = gone_text();
        return false;
    }
    if (!exec(db_, "BEGIN IMMEDIATE", why)) return false;
    std::string reason;
    if (work(reason) && exec(db_, "COMMIT", reason)) {
        // The ledger is one file: what was committed goes into it at once, so
        // that a copy, or the file moved without its -wal, holds every row.
        // Through the open file, not its path; a reader in the way only
        // delays it to the next transaction.
        sqlite3_wal_checkpoint_v2(db_, nullptr, SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
        // Written into a file no longer at the path: as good as not written.
        if (!gone()) return true;
        why = gone_text();
        return false;
    }
    why = reason.empty() ? sqlite3_errmsg(db_) : reason;
    std::string ignored;
    exec(db_, "ROLLBACK", ignored);
    return false;
}

bool file_ledger::insert_row(const ledger_row& r, std::string& why)
{
    const auto sql = std::string("INSERT INTO boards (") + k_columns + k_job_fields +
                     ") VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)";
    statement s(db_, sql.c_str());
    s.bind(1, r.time).bind(2, r.host).bind(3, r.fixture).bind(4, r.port).bind(5, r.adapter_serial);
    s.bind(6, r.hex_file).bind(7, r.hex_sha256).bind(8, r.series).bind(9, r.serial).bind(10, r.result);
    s.bind(11, r.step).bind(12, r.sector).bind(13, r.block).bind(14, r.received).bind(15, r.attempts);
    s.bind(16, r.seconds).bind(17, r.version).bind(18, r.product).bind(19, r.job_sha256);
    s.bind(20, r.operator_name).bind(21, r.lot).bind(22, r.station);
    if (s.done()) return true;
    why = sqlite3_errmsg(db_);
    return false;
}

bool file_ledger::record(const ledger_row& row, const serial_value* serial, std::string& why)
{
    const std::lock_guard lock(mutex_);
    return transaction(
        [&](std::string& reason) {
            ledger_row r = row;
            if (r.time.empty()) r.time = now();
            if (r.host.empty()) r.host = host_;
            r.station = station_;
            if (!serial) return insert_row(r, reason);
            // The number's place and series, from this station's hold on it.
            statement held(db_,
                           "SELECT place, series FROM held WHERE value = ? AND serial = ? AND host = ? AND pid = ?");
            held.bind(1, serial_bytes_text(serial->bytes)).bind(2, serial->text).bind(3, host_name());
            if (held.bind(4, process_id()).step() != SQLITE_ROW) {
                reason = "serial number " + serial->text + " is not held by this station";
                return false;
            }
            const auto place = held.text(0);
            r.series = held.text(1);
            if (held.step() != SQLITE_DONE) {
                reason = "serial number " + serial->text + " is held at two places";
                return false;
            }
            // Only a board that passed holds its number: any other gave it back.
            const bool passed = r.result == "passed";
            r.serial = passed ? std::optional(serial->text) : std::nullopt;
            return insert_row(r, reason) &&
                   settle_number(place, *serial, passed, sqlite3_last_insert_rowid(db_), reason);
        },
        why);
}

std::optional<std::vector<ledger_row>> file_ledger::rows(const std::optional<std::string>& serial, std::string& why)
{
    const std::lock_guard lock(mutex_);
    const auto sql = std::string("SELECT ") + k_columns +
                     (version_ >= 4   ? k_job_fields
                      : version_ == 3 ? k_job_fields_3
                                      : k_no_job_fields) +
                     " FROM boards" + (serial ? " WHERE serial = ?" : "") + " ORDER BY id";
    statement s(db_, sql.c_str());
    if (serial) s.bind(1, *serial);
    std::vector<ledger_row> rows;
    int got;
    while ((got = s.step()) == SQLITE_ROW) {
        ledger_row r{.time = s.text(0),
                     .host = s.text(1),
                     .fixture = s.text(2),
                     .port = s.text(3),
                     .adapter_serial = s.text(4),
                     .hex_file = s.text(5),
                     .hex_sha256 = s.text(6),
                     .serial = s.null(8) ? std::nullopt : std::optional(s.text(8)),
                     .series = s.text(7),
                     .result = s.text(9),
                     .step = s.text(10),
                     .sector = s.null(11) ? std::nullopt : std::optional(static_cast<int>(s.integer(11))),
                     .block = s.null(12) ? std::nullopt : std::optional(static_cast<int>(s.integer(12))),
                     .received = s.text(13),
                     .attempts = static_cast<int>(s.integer(14)),
                     .seconds = s.real(15),
                     .version = s.text(16),
                     .product = s.text(17),
                     .job_sha256 = s.text(18),
                     .operator_name = s.text(19),
                     .lot = s.text(20)};
        r.station = s.text(21);
        rows.push_back(std::move(r));
    }
    if (got == SQLITE_DONE) return rows;
    why = sqlite3_errmsg(db_);
    return std::nullopt;
}

std::optional<std::vector<std::string>> file_ledger::notes(std::string& why)
{
    const std::lock_guard lock(mutex_);
    std::vector<std::string> notes;
    if (version_ < 2) return notes;  // version 1 kept none
    statement s(db_, "SELECT time, host, note FROM notes ORDER BY id");
    int got;
    while ((got = s.step()) == SQLITE_ROW) notes.push_back(s.text(0) + "  " + s.text(1) + "  " + s.text(2));
    if (got == SQLITE_DONE) return notes;
    why = sqlite3_errmsg(db_);
    return std::nullopt;
}

}  // namespace fernwick::station
