#pragma once
// The ledger's few means of talking to SQLite, shared by its source files.

#include <sqlite3.h>
#include <unistd.h>

#include <QDateTime>
#include <cstdint>
#include <optional>
#include <string>

namespace fernwick::station::ledger_sql {

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
    // For the next binding, its last ones kept until bound anew.
    void reset() { sqlite3_reset(s_); }
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

inline bool exec(sqlite3* db, const char* sql, std::string& why)
{
    if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK) return true;
    why = sqlite3_errmsg(db);
    return false;
}

inline std::string host_name()
{
    char name[256] = {};
    return ::gethostname(name, sizeof name - 1) == 0 ? name : "";
}

inline std::int64_t process_id() { return static_cast<std::int64_t>(::getpid()); }

inline std::string now() { return QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs).toStdString(); }

// A line of the ledger's notes: what it did with the numbers that no board's
// row says (a number skipped, a list that changed).
inline bool add_note(sqlite3* db, const std::string& note)
{
    return statement(db, "INSERT INTO notes (time, host, note) VALUES (?, ?, ?)")
        .bind(1, now())
        .bind(2, host_name())
        .bind(3, note)
        .done();
}

}  // namespace fernwick::station::ledger_sql
