#include "cli/ledger.h"

#include <fcntl.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDateTime>
#include <cerrno>
#include <cstring>

namespace fernwick::cli {

namespace {

constexpr int k_version = 1;
// "FWLG" in the database header: an SQLite file of someone else's is never
// taken for a ledger, nor written into.
constexpr int k_application_id = 0x46574C47;
// Stations of one host wait for one another's short transactions.
constexpr int k_busy_ms = 10000;

// The numbers: a counter per series, the numbers given back (given again,
// lowest first), those kept for good, and those a station holds now.
const char* const k_schema = R"(
CREATE TABLE boards(id INTEGER PRIMARY KEY, time TEXT NOT NULL, host TEXT NOT NULL, fixture TEXT NOT NULL,
  port TEXT NOT NULL, adapter_serial TEXT NOT NULL, hex_file TEXT NOT NULL, hex_sha256 TEXT NOT NULL,
  series TEXT NOT NULL, serial TEXT, result TEXT NOT NULL, step TEXT NOT NULL, sector INTEGER, block INTEGER,
  received TEXT NOT NULL, attempts INTEGER NOT NULL, seconds REAL NOT NULL, version TEXT NOT NULL);
CREATE INDEX boards_by_serial ON boards(serial);
CREATE TABLE series(key TEXT PRIMARY KEY, next_index INTEGER NOT NULL);
CREATE TABLE given_back(series TEXT NOT NULL, idx INTEGER NOT NULL, PRIMARY KEY(series, idx));
CREATE TABLE used(series TEXT NOT NULL, idx INTEGER NOT NULL, PRIMARY KEY(series, idx));
CREATE TABLE reserved(series TEXT NOT NULL, idx INTEGER NOT NULL, serial TEXT NOT NULL, host TEXT NOT NULL,
  pid INTEGER NOT NULL, time TEXT NOT NULL, PRIMARY KEY(series, idx));
PRAGMA user_version = 1;
PRAGMA application_id = 1180126279;
)";

const char* const k_columns =
    "time, host, fixture, port, adapter_serial, hex_file, hex_sha256, series, serial, result, step, sector, block, "
    "received, attempts, seconds, version";

class statement {
public:
    statement(sqlite3* db, const char* sql) { sqlite3_prepare_v2(db, sql, -1, &s_, nullptr); }
    ~statement() { sqlite3_finalize(s_); }
    statement(const statement&) = delete;
    statement& operator=(const statement&) = delete;

    statement& bind(int i, const std::string& v)
    {
        sqlite3_bind_text(s_, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
        return *this;
    }
    statement& bind(int i, std::int64_t v)
    {
        sqlite3_bind_int64(s_, i, v);
        return *this;
    }
    template <typename T>
    statement& bind(int i, const std::optional<T>& v)
    {
        if (v) return bind(i, *v);
        sqlite3_bind_null(s_, i);
        return *this;
    }
    statement& bind(int i, int v) { return bind(i, static_cast<std::int64_t>(v)); }
    statement& bind(int i, double v)
    {
        sqlite3_bind_double(s_, i, v);
        return *this;
    }
    // SQLITE_ROW, SQLITE_DONE or an error; a statement that did not prepare
    // gives SQLITE_MISUSE.
    int step() { return sqlite3_step(s_); }
    bool done() { return step() == SQLITE_DONE; }
    std::int64_t integer(int c) { return sqlite3_column_int64(s_, c); }
    bool null(int c) { return sqlite3_column_type(s_, c) == SQLITE_NULL; }
    std::string text(int c)
    {
        const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(s_, c));
        return p ? std::string(p, static_cast<std::size_t>(sqlite3_column_bytes(s_, c))) : std::string();
    }
    double real(int c) { return sqlite3_column_double(s_, c); }

private:
    sqlite3_stmt* s_ = nullptr;
};

bool exec(sqlite3* db, const char* sql, std::string& why)
{
    if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK) return true;
    why = sqlite3_errmsg(db);
    return false;
}

std::string host_name()
{
    char name[256] = {};
    return ::gethostname(name, sizeof name - 1) == 0 ? name : "";
}

std::string now() { return QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs).toStdString(); }

// Why `path` is no ledger to open, before SQLite touches it: a link, no
// regular file, or a file that is not empty and not an SQLite database (a
// hex file given in the wrong place). nullopt when it may be opened; a
// missing file only when `create`.
std::optional<std::string> unfit(const std::string& path, bool create)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0 && errno == ENOENT && create) return std::nullopt;
    if (fd < 0)
        return errno == ELOOP ? "a link; a ledger is not written through one" : std::string(std::strerror(errno));
    struct stat info {};
    char header[16] = {};
    std::optional<std::string> why;
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode))
        why = "not a regular file";
    else if (info.st_size > 0 && (::read(fd, header, sizeof header) != sizeof header ||
                                  std::memcmp(header, "SQLite format 3", sizeof header) != 0))
        why = "not a ledger (no SQLite database); it is left as it is";
    ::close(fd);
    return why;
}

}  // namespace

class ledger::book_in_ledger : public serial_book {
public:
    book_in_ledger(ledger& l, std::string series, std::function<std::optional<serial_value>(std::uint64_t)> value_at)
        : ledger_(l), series_(std::move(series)), value_at_(std::move(value_at))
    {
    }

    std::optional<serial_value> take(std::string& why) override
    {
        std::optional<serial_value> value;
        const std::lock_guard lock(ledger_.mutex_);
        const bool ok = ledger_.transaction(
            [&](std::string& reason) {
                if (!ledger_.skip_unsettled(reason)) return false;
                statement pool(ledger_.db_, "SELECT min(idx) FROM given_back WHERE series = ?");
                pool.bind(1, series_);
                if (pool.step() != SQLITE_ROW) return false;
                std::int64_t index = pool.integer(0);
                if (pool.null(0)) {
                    statement next(ledger_.db_, "SELECT next_index FROM series WHERE key = ?");
                    next.bind(1, series_);
                    const int got = next.step();
                    if (got != SQLITE_ROW && got != SQLITE_DONE) return false;
                    index = got == SQLITE_ROW ? next.integer(0) : 0;
                    if (!statement(ledger_.db_, "INSERT OR REPLACE INTO series VALUES (?, ?)")
                             .bind(1, series_)
                             .bind(2, index + 1)
                             .done())
                        return false;
                } else if (!statement(ledger_.db_, "DELETE FROM given_back WHERE series = ? AND idx = ?")
                                .bind(1, series_)
                                .bind(2, index)
                                .done()) {
                    return false;
                }
                value = value_at_(static_cast<std::uint64_t>(index));
                if (!value) {
                    reason = "the serial numbers of " + series_ + " are used up";
                    return false;
                }
                return statement(ledger_.db_, "INSERT INTO reserved VALUES (?, ?, ?, ?, ?, ?)")
                    .bind(1, series_)
                    .bind(2, index)
                    .bind(3, value->text)
                    .bind(4, host_name())
                    .bind(5, static_cast<std::int64_t>(::getpid()))
                    .bind(6, now())
                    .done();
            },
            why);
        if (!ok) return std::nullopt;
        return value;
    }

    bool settle(const serial_value& value, bool passed, std::string& why) override
    {
        const std::lock_guard lock(ledger_.mutex_);
        return ledger_.transaction(
            [&](std::string& reason) { return ledger_.settle_number(series_, value.index, passed, reason); }, why);
    }

private:
    ledger& ledger_;
    std::string series_;
    std::function<std::optional<serial_value>(std::uint64_t)> value_at_;
};

std::unique_ptr<ledger> ledger::open(const std::string& path, std::string& why) { return open_file(path, true, why); }

std::unique_ptr<ledger> ledger::open_to_read(const std::string& path, std::string& why)
{
    return open_file(path, false, why);
}

std::unique_ptr<ledger> ledger::open_file(const std::string& path, bool write, std::string& why)
{
    if (const auto reason = unfit(path, write)) {
        why = path + ": " + *reason;
        return nullptr;
    }
    sqlite3* db = nullptr;
    const int flags = (write ? SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE : SQLITE_OPEN_READONLY) |
                      SQLITE_OPEN_NOFOLLOW | SQLITE_OPEN_NOMUTEX;
    const int opened = sqlite3_open_v2(path.c_str(), &db, flags, nullptr);
    std::unique_ptr<ledger> l(new ledger(db));  // closes db on every way out
    if (opened != SQLITE_OK) {
        why = path + ": " + (db ? sqlite3_errmsg(db) : sqlite3_errstr(opened));
        return nullptr;
    }
    sqlite3_busy_timeout(db, k_busy_ms);
    std::string reason;
    if (!write) {
        statement id(db, "PRAGMA application_id");
        statement version(db, "PRAGMA user_version");
        if (id.step() != SQLITE_ROW || id.integer(0) != k_application_id)
            reason = "not a ledger (an SQLite database of another program)";
        else if (version.step() != SQLITE_ROW || version.integer(0) > k_version)
            reason = "a ledger of a newer fernwick-cli";
    } else if (!l->set_up(reason) || !exec(db, "PRAGMA journal_mode = WAL", reason)) {
        if (reason.empty()) reason = sqlite3_errmsg(db);
    }
    if (reason.empty()) return l;
    why = path + ": " + reason;
    return nullptr;
}

// Creates the tables in an empty database, or checks that it is a ledger
// this program can write; in one transaction, so that two stations opening a
// new ledger at once create it once.
bool ledger::set_up(std::string& why)
{
    return transaction(
        [this](std::string& reason) {
            statement id(db_, "PRAGMA application_id");
            statement version(db_, "PRAGMA user_version");
            statement tables(db_, "SELECT count(*) FROM sqlite_schema");
            if (id.step() != SQLITE_ROW || version.step() != SQLITE_ROW || tables.step() != SQLITE_ROW) return false;
            if (id.integer(0) == 0 && version.integer(0) == 0 && tables.integer(0) == 0)
                return exec(db_, k_schema, reason);
            if (id.integer(0) != k_application_id)
                reason = "not a ledger (an SQLite database of another program); it is left as it is";
            else if (version.integer(0) != k_version)
                reason = "a ledger of version " + std::to_string(version.integer(0)) + ", this fernwick-cli writes " +
                         std::to_string(k_version);
            return reason.empty();
        },
        why);
}

ledger::~ledger() { sqlite3_close_v2(db_); }

bool ledger::transaction(const std::function<bool(std::string&)>& work, std::string& why)
{
    if (!exec(db_, "BEGIN IMMEDIATE", why)) return false;
    std::string reason;
    if (work(reason) && exec(db_, "COMMIT", reason)) return true;
    why = reason.empty() ? sqlite3_errmsg(db_) : reason;
    std::string ignored;
    exec(db_, "ROLLBACK", ignored);
    return false;
}

bool ledger::insert_row(const ledger_row& r, std::string& why)
{
    const auto sql = std::string("INSERT INTO boards (") + k_columns +
                     ") VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)";
    statement s(db_, sql.c_str());
    s.bind(1, r.time).bind(2, r.host).bind(3, r.fixture).bind(4, r.port).bind(5, r.adapter_serial);
    s.bind(6, r.hex_file).bind(7, r.hex_sha256).bind(8, r.series).bind(9, r.serial).bind(10, r.result);
    s.bind(11, r.step).bind(12, r.sector).bind(13, r.block).bind(14, r.received).bind(15, r.attempts);
    s.bind(16, r.seconds).bind(17, r.version);
    if (s.done()) return true;
    why = sqlite3_errmsg(db_);
    return false;
}

// Only the station holding a number settles it: one whose reservation was
// recorded as unsettled stays skipped, and a number kept never comes back.
bool ledger::settle_number(const std::string& series, std::uint64_t index, bool kept, std::string& why)
{
    statement held(db_, "DELETE FROM reserved WHERE series = ? AND idx = ? AND host = ? AND pid = ?");
    held.bind(1, series).bind(2, static_cast<std::int64_t>(index)).bind(3, host_name());
    if (!held.bind(4, static_cast<std::int64_t>(::getpid())).done()) return false;
    if (sqlite3_changes(db_) != 1) {
        why = "serial number " + std::to_string(index) + " of " + series + " is not held by this station";
        return false;
    }
    statement put(db_, kept ? "INSERT INTO used VALUES (?, ?)" : "INSERT INTO given_back VALUES (?, ?)");
    return put.bind(1, series).bind(2, static_cast<std::int64_t>(index)).done();
}

// A station that ended while it held numbers may have written them into a
// board already: they are skipped, never given again, and the skip is
// recorded.
bool ledger::skip_unsettled(std::string& why)
{
    const auto host = host_name();
    statement held(db_, "SELECT series, idx, serial, pid FROM reserved WHERE host = ?");
    held.bind(1, host);
    std::vector<std::pair<std::string, std::int64_t>> gone;
    int got;
    while ((got = held.step()) == SQLITE_ROW) {
        const auto pid = static_cast<pid_t>(held.integer(3));
        if (::kill(pid, 0) == 0 || errno != ESRCH) continue;
        ledger_row row;
        row.time = now();
        row.host = host;
        row.serial = held.text(2);
        row.series = held.text(0);
        row.result = "unknown";
        row.step = k_unsettled_step;
        row.attempts = 0;
        if (!insert_row(row, why)) return false;
        gone.emplace_back(row.series, held.integer(1));
    }
    if (got != SQLITE_DONE) return false;
    for (const auto& [series, index] : gone) {
        statement drop(db_, "DELETE FROM reserved WHERE series = ? AND idx = ?");
        statement use(db_, "INSERT INTO used VALUES (?, ?)");
        if (!drop.bind(1, series).bind(2, index).done() || !use.bind(1, series).bind(2, index).done()) return false;
    }
    return true;
}

bool ledger::record(const ledger_row& row, const serial_value* serial, std::string& why)
{
    const std::lock_guard lock(mutex_);
    return transaction(
        [&](std::string& reason) {
            ledger_row r = row;
            if (r.time.empty()) r.time = now();
            if (r.host.empty()) r.host = host_name();
            if (serial) {
                // The number's series, from this station's reservation of it.
                statement held(db_,
                               "SELECT series FROM reserved WHERE idx = ? AND serial = ? AND host = ? AND pid = ?");
                held.bind(1, static_cast<std::int64_t>(serial->index)).bind(2, serial->text).bind(3, host_name());
                held.bind(4, static_cast<std::int64_t>(::getpid()));
                if (held.step() != SQLITE_ROW) {
                    reason = "serial number " + serial->text + " is not held by this station";
                    return false;
                }
                r.series = held.text(0);
                if (held.step() != SQLITE_DONE) {
                    reason = "serial number " + serial->text + " is held in two series";
                    return false;
                }
                // Only a board that passed holds its number: any other gave it back.
                r.serial = r.result == "passed" ? std::optional(serial->text) : std::nullopt;
                if (!settle_number(r.series, serial->index, r.result == "passed", reason)) return false;
            }
            return insert_row(r, reason);
        },
        why);
}

std::unique_ptr<serial_book> ledger::book(const std::string& series,
                                          std::function<std::optional<serial_value>(std::uint64_t)> value_at,
                                          std::string& why)
{
    if (series.empty() || !value_at) {
        why = "a serial number series needs a name and its numbers";
        return nullptr;
    }
    return std::make_unique<book_in_ledger>(*this, series, std::move(value_at));
}

std::optional<std::vector<ledger_row>> ledger::rows(const std::optional<std::string>& serial, std::string& why)
{
    const std::lock_guard lock(mutex_);
    const auto sql =
        std::string("SELECT ") + k_columns + " FROM boards" + (serial ? " WHERE serial = ?" : "") + " ORDER BY id";
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
                     .version = s.text(16)};
        rows.push_back(std::move(r));
    }
    if (got == SQLITE_DONE) return rows;
    why = sqlite3_errmsg(db_);
    return std::nullopt;
}

}  // namespace fernwick::cli
