// The serial numbers a ledger gives out: each the lowest of its series that
// no board keeps at its place and no station holds, held by the station
// until its board's row settles it.

#include <signal.h>

#include <QCryptographicHash>
#include <cerrno>
#include <filesystem>
#include <set>

#include "station/file_ledger.h"
#include "station/ledger_sql.h"

namespace fernwick::station {

using namespace ledger_sql;

namespace {

// "1001", "1001 and 1002", "1001, 1002 and 1003", "1001, 1002, ... 1099 (57 numbers)".
std::string listed(const std::vector<std::string>& texts)
{
    if (texts.size() > 3)
        return texts[0] + ", " + texts[1] + ", ... " + texts.back() + " (" + std::to_string(texts.size()) + " numbers)";
    std::string out;
    for (std::size_t i = 0; i < texts.size(); ++i)
        out += (i == 0 ? "" : i + 1 == texts.size() ? " and " : ", ") + texts[i];
    return out;
}

std::string skip_text(const std::vector<std::string>& texts, const std::set<std::string>& owners)
{
    std::string series;
    for (const auto& o : owners) series += (series.empty() ? "" : "; ") + o;
    const bool one = texts.size() == 1;
    return std::string(one ? "serial number " : "serial numbers ") + listed(texts) +
           " skipped: " + (one ? "a board keeps it" : "boards keep them") + " already, from the series " + series;
}

std::string digest_of(const serial_list& values)
{
    QCryptographicHash hash(QCryptographicHash::Sha256);
    for (const auto& v : values) hash.addData(QByteArray::fromStdString(serial_bytes_text(v) + "\n"));
    return hash.result().toHex().toStdString();
}

}  // namespace

class file_ledger::book_in_ledger : public serial_book {
public:
    book_in_ledger(file_ledger& l, numbers_series s, std::vector<std::string> notes)
        : ledger_(l), s_(std::move(s)), notes_(std::move(notes))
    {
    }

    using serial_book::take;
    std::optional<serial_value> take(std::string& why, const waiting&) override
    {
        const std::lock_guard lock(ledger_.mutex_);
        std::optional<serial_value> value;
        auto cursor = cursor_;
        const bool ok = ledger_.transaction(
            [&](std::string& reason) {
                value.reset();
                cursor = cursor_;
                return ledger_.skip_unsettled(reason) && find(value, cursor, reason) && hold(*value);
            },
            why);
        if (!ok) return std::nullopt;
        cursor_ = cursor;
        value->notes.insert(value->notes.begin(), notes_.begin(), notes_.end());
        notes_.clear();
        return value;
    }

    bool settle(const serial_value& value, bool passed, std::string& why) override
    {
        const std::lock_guard lock(ledger_.mutex_);
        return ledger_.transaction(
            [&](std::string& reason) { return ledger_.settle_number(s_.place, value, passed, std::nullopt, reason); },
            why);
    }

private:
    // From `cursor` on: the first number neither kept nor held at the place.
    // A number another series keeps is skipped with a note, once for this
    // series; one held is left for its station to settle. `cursor` moves
    // past the numbers kept right after it: they are kept for good.
    bool find(std::optional<serial_value>& value, std::uint64_t& cursor, std::string& reason)
    {
        sqlite3* db = ledger_.db_;
        statement kept(db, "SELECT series FROM kept WHERE place = ? AND value = ?");
        statement known(db, "SELECT count(*) FROM skipped WHERE series = ? AND place = ? AND value = ?");
        statement held(db, "SELECT count(*) FROM held WHERE place = ? AND value = ?");
        std::vector<std::string> texts, keys;
        std::set<std::string> owners;
        bool all_kept = true;
        for (auto index = cursor; !value; ++index) {
            auto v = s_.value_at(index);
            if (!v) {
                reason = "the serial numbers of " + s_.name + " are used up" +
                         (texts.empty() ? "" : "; " + skip_text(texts, owners));
                return false;
            }
            const auto key = serial_bytes_text(v->bytes);
            kept.reset();
            const int k = kept.bind(1, s_.place).bind(2, key).step();
            if (k == SQLITE_ROW) {
                if (all_kept) cursor = index + 1;
                const auto owner = kept.text(0);
                if (owner == s_.name) continue;
                known.reset();
                if (known.bind(1, s_.name).bind(2, s_.place).bind(3, key).step() != SQLITE_ROW) return false;
                if (known.integer(0) > 0) continue;
                texts.push_back(v->text);
                keys.push_back(key);
                owners.insert(owner);
                continue;
            }
            held.reset();
            if (k != SQLITE_DONE || held.bind(1, s_.place).bind(2, key).step() != SQLITE_ROW) return false;
            all_kept = false;
            if (held.integer(0) == 0) value = std::move(v);
        }
        if (texts.empty()) return true;
        value->notes.push_back(skip_text(texts, owners));
        statement skip(db, "INSERT INTO skipped VALUES (?, ?, ?)");
        for (const auto& key : keys) {
            skip.reset();
            if (!skip.bind(1, s_.name).bind(2, s_.place).bind(3, key).done()) return false;
        }
        return add_note(db, "the series " + s_.name + ": " + value->notes.back());
    }

    bool hold(const serial_value& v)
    {
        statement s(ledger_.db_, "INSERT INTO held VALUES (?, ?, ?, ?, ?, ?, ?)");
        s.bind(1, s_.place).bind(2, serial_bytes_text(v.bytes)).bind(3, s_.name).bind(4, v.text);
        return s.bind(5, host_name()).bind(6, process_id()).bind(7, now()).done();
    }

    file_ledger& ledger_;
    const numbers_series s_;
    std::vector<std::string> notes_;  // said with the first number taken
    std::uint64_t cursor_ = 0;        // every number before it is kept
};

std::unique_ptr<serial_book> file_ledger::book(numbers_series s, std::string& why)
{
    if (s.name.empty() || s.place.empty() || !s.value_at) {
        why = "a serial number series needs a name, a place and its numbers";
        return nullptr;
    }
    std::vector<std::string> notes;
    const auto see_list = [&](std::string&) {
        statement last(db_, "SELECT digest, count FROM lists WHERE series = ?");
        const int got = last.bind(1, s.name).step();
        if (got == SQLITE_ROW && last.text(0) != s.list_digest) {
            notes.push_back("the serial list " + s.list_name + " changed since this ledger last gave from it (" +
                            std::to_string(s.list_values) + " values now, " + std::to_string(last.integer(1)) +
                            " then): its values are given from the top, each unless a board keeps it");
            if (!add_note(db_, notes.back())) return false;
        } else if (got != SQLITE_ROW && got != SQLITE_DONE) {
            return false;
        }
        statement seen(db_, "INSERT OR REPLACE INTO lists VALUES (?, ?, ?)");
        return seen.bind(1, s.name).bind(2, s.list_digest).bind(3, static_cast<std::int64_t>(s.list_values)).done();
    };
    if (!s.list_digest.empty()) {
        const std::lock_guard lock(mutex_);
        if (!transaction(see_list, why)) return nullptr;
    }
    return std::make_unique<book_in_ledger>(*this, std::move(s), std::move(notes));
}

// Only the station holding a number settles it: one whose hold was recorded
// as unsettled stays kept, and a number kept never comes back.
bool file_ledger::settle_number(const std::string& place, const serial_value& value, bool kept,
                                std::optional<std::int64_t> board, std::string& why)
{
    const auto key = serial_bytes_text(value.bytes);
    statement held(db_, "SELECT series FROM held WHERE place = ? AND value = ? AND host = ? AND pid = ?");
    if (held.bind(1, place).bind(2, key).bind(3, host_name()).bind(4, process_id()).step() != SQLITE_ROW) {
        why = "serial number " + value.text + " at " + place + " is not held by this station";
        return false;
    }
    const auto series = held.text(0);
    if (!statement(db_, "DELETE FROM held WHERE place = ? AND value = ?").bind(1, place).bind(2, key).done())
        return false;
    return !kept || statement(db_, "INSERT INTO kept VALUES (?, ?, ?, ?)")
                        .bind(1, place)
                        .bind(2, key)
                        .bind(3, series)
                        .bind(4, board)
                        .done();
}

// A station that ended while it held numbers may have written them into a
// board already: they are kept, never given again, each with a row of its
// own.
bool file_ledger::skip_unsettled(std::string& why)
{
    const auto host = host_name();
    statement held(db_, "SELECT place, value, series, serial, pid FROM held WHERE host = ?");
    held.bind(1, host);
    struct unsettled {
        std::string place, value, series;
        std::int64_t board;
    };
    std::vector<unsettled> ended;
    int got;
    while ((got = held.step()) == SQLITE_ROW) {
        const auto pid = static_cast<pid_t>(held.integer(4));
        if (::kill(pid, 0) == 0 || errno != ESRCH) continue;
        ledger_row row;
        row.time = now();
        row.host = host;
        row.serial = held.text(3);
        row.series = held.text(2);
        row.result = "unknown";
        row.step = k_unsettled_step;
        row.attempts = 0;
        if (!insert_row(row, why)) return false;
        ended.push_back({held.text(0), held.text(1), row.series, sqlite3_last_insert_rowid(db_)});
    }
    if (got != SQLITE_DONE) return false;
    for (const auto& u : ended) {
        statement drop(db_, "DELETE FROM held WHERE place = ? AND value = ?");
        statement keep(db_, "INSERT OR IGNORE INTO kept VALUES (?, ?, ?, ?)");
        if (!drop.bind(1, u.place).bind(2, u.value).done() ||
            !keep.bind(1, u.place).bind(2, u.value).bind(3, u.series).bind(4, u.board).done())
            return false;
    }
    return true;
}

std::unique_ptr<serial_book> open_serial_book(const serial_choice& c, ledger* in, std::string& why)
{
    auto list = c.list_file.empty() ? std::optional<serial_list>(serial_list{}) : read_serial_list(c, why);
    if (!list) return nullptr;
    if (!serial_number_at(c, *list, 0)) {
        why = used_up_text(c, *list, 0);
        return nullptr;
    }
    if (!in) return std::make_unique<memory_book>(c, std::move(*list));
    // The series is the whole choice: another start, step, format or list is
    // another series; its numbers are kept at the place whatever the series.
    const char* formats[] = {"le", "be", "bcd", "ascii"};
    numbers_series s;
    s.place = serial_place_text(c);
    s.name = (c.list_file.empty() ? "numbers from " + std::to_string(c.start) + " step " + std::to_string(c.step) +
                                        " as " + formats[static_cast<int>(c.format)]
                                  : "list " + std::filesystem::absolute(c.list_file).lexically_normal().string()) +
             " at " + s.place;
    if (!c.list_file.empty()) {
        s.list_name = c.list_file;
        s.list_digest = digest_of(*list);
        s.list_values = list->size();
    }
    s.value_at = [c, values = std::move(*list)](std::uint64_t index) { return serial_number_at(c, values, index); };
    return in->book(std::move(s), why);
}

}  // namespace fernwick::station
