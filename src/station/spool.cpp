#include "station/spool.h"

#include <sqlite3.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "station/ledger_files.h"
#include "station/ledger_sql.h"

namespace fernwick::station {

using namespace ledger_sql;

namespace {

// "FWSP": a spool is never taken for a ledger, nor another program's file for a spool.
constexpr int k_application_id = 0x46575350;

const char* const k_schema = R"(
CREATE TABLE IF NOT EXISTS spooled(id INTEGER PRIMARY KEY, ledger TEXT NOT NULL, attempt TEXT NOT NULL UNIQUE,
  hold TEXT NOT NULL,
  passed INTEGER NOT NULL, row TEXT NOT NULL, refused TEXT NOT NULL DEFAULT '');
PRAGMA application_id = 1180128080;
)";

// The checks of a ledger's files, said of the spool they were made on.
std::string of_the_spool(std::string fault)
{
    for (const auto& [word, spools] : {std::pair{"a ledger", "a spool"}, std::pair{"the ledger", "the spool"}})
        for (auto at = fault.find(word); at != std::string::npos; at = fault.find(word, at + 1))
            fault.replace(at, std::strlen(word), spools);
    return fault;
}

}  // namespace

std::string default_spool_path(const std::string& where)
{
    std::string name;
    for (const char c : where) name += std::isalnum(static_cast<unsigned char>(c)) || c == '.' ? c : '-';
    const char* state = std::getenv("XDG_STATE_HOME");
    const char* home = std::getenv("HOME");
    const std::filesystem::path folder = state && *state ? std::filesystem::path(state) / "fernwick"
                                         : home && *home ? std::filesystem::path(home) / ".local/state/fernwick"
                                                         : std::filesystem::path("/tmp/fernwick");
    return (folder / ("spool-" + name + ".sqlite")).string();
}

std::unique_ptr<spool> spool::open(const std::string& path, const std::string& ledger, std::string& why)
{
    std::error_code e;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), e);
    const auto files = check_ledger_files(path, true);
    if (files.fault) {
        why = "the spool " + path + ": " + of_the_spool(*files.fault);
        return nullptr;
    }
    sqlite3* db = nullptr;
    const int opened = sqlite3_open_v2(
        path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOFOLLOW | SQLITE_OPEN_FULLMUTEX,
        nullptr);
    std::unique_ptr<spool> s(new spool(db, path, ledger));
    if (opened != SQLITE_OK) {
        why = "the spool " + path + ": " + (db ? sqlite3_errmsg(db) : sqlite3_errstr(opened));
        return nullptr;
    }
    sqlite3_busy_timeout(db, 10000);
    std::string reason;
    std::int64_t application = 0, tables = 0;
    {
        // Done with before the journal changes: a statement under way holds a transaction open.
        statement id(db, "PRAGMA application_id");
        statement count(db, "SELECT count(*) FROM sqlite_schema");
        if (id.step() != SQLITE_ROW || count.step() != SQLITE_ROW) reason = sqlite3_errmsg(db);
        application = id.integer(0);
        tables = count.integer(0);
    }
    if (reason.empty() && application != k_application_id && (application != 0 || tables != 0))
        reason = "not a spool of fernwick-cli; it is left as it is";
    else if (reason.empty() && exec(db, "PRAGMA journal_mode = WAL", reason))
        exec(db, k_schema, reason);
    if (reason.empty()) return s;
    why = "the spool " + path + ": " + reason;
    return nullptr;
}

spool::~spool() { sqlite3_close_v2(db_); }

bool spool::add(const spooled_record& r, std::string& why)
{
    statement s(db_, "INSERT OR IGNORE INTO spooled (ledger, attempt, hold, passed, row) VALUES (?, ?, ?, ?, ?)");
    s.bind(1, ledger_).bind(2, r.attempt).bind(3, r.hold).bind(4, r.passed ? 1 : 0);
    if (s.bind(5, r.row).done()) return true;
    why = "the spool " + path_ + ": " + sqlite3_errmsg(db_);
    return false;
}

std::optional<spooled_record> spool::oldest(std::string& why)
{
    statement s(
        db_,
        "SELECT id, attempt, hold, passed, row FROM spooled WHERE ledger = ? AND refused = '' ORDER BY id LIMIT 1");
    const int got = s.bind(1, ledger_).step();
    if (got == SQLITE_ROW) return spooled_record{s.integer(0), s.text(1), s.text(2), s.integer(3) != 0, s.text(4), {}};
    if (got != SQLITE_DONE) why = "the spool " + path_ + ": " + sqlite3_errmsg(db_);
    return std::nullopt;
}

bool spool::remove(std::int64_t id, std::string& why)
{
    if (statement(db_, "DELETE FROM spooled WHERE id = ?").bind(1, id).done()) return true;
    why = "the spool " + path_ + ": " + sqlite3_errmsg(db_);
    return false;
}

bool spool::refuse(std::int64_t id, const std::string& reason, std::string& why)
{
    if (statement(db_, "UPDATE spooled SET refused = ? WHERE id = ?").bind(1, reason).bind(2, id).done()) return true;
    why = "the spool " + path_ + ": " + sqlite3_errmsg(db_);
    return false;
}

int spool::waiting()
{
    statement s(db_, "SELECT count(*) FROM spooled WHERE ledger = ? AND refused = ''");
    return s.bind(1, ledger_).step() == SQLITE_ROW ? static_cast<int>(s.integer(0)) : -1;
}

int spool::refused()
{
    statement s(db_, "SELECT count(*) FROM spooled WHERE ledger = ? AND refused <> ''");
    return s.bind(1, ledger_).step() == SQLITE_ROW ? static_cast<int>(s.integer(0)) : -1;
}

}  // namespace fernwick::station

namespace fernwick::station {

int spool::others()
{
    statement s(db_, "SELECT count(*) FROM spooled WHERE ledger <> ?");
    return s.bind(1, ledger_).step() == SQLITE_ROW ? static_cast<int>(s.integer(0)) : -1;
}

}  // namespace fernwick::station
