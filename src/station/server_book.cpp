// A server's numbers, its rows read back, and a ledger made on a server.

#include <QJsonArray>
#include <QJsonDocument>
#include <deque>
#include <thread>

#include "station/server_ledger.h"
#include "station/server_schema.h"

namespace fernwick::station {

namespace {

// The numbers offered to the server at once: it gives the first free ones.
constexpr std::uint64_t k_candidates = 256;

std::string text(const std::optional<std::string>& v) { return v.value_or(""); }

std::optional<int> whole(const std::optional<std::string>& v)
{
    return v ? std::optional(std::atoi(v->c_str())) : std::nullopt;
}

}  // namespace

class server_ledger::server_book : public serial_book {
public:
    server_book(server_ledger& l, numbers_series s, std::vector<std::string> notes)
        : ledger_(l), s_(std::move(s)), notes_(std::move(notes))
    {
        const std::lock_guard lock(ledger_.books_mutex_);
        ledger_.books_.insert(this);
    }
    ~server_book() override
    {
        {
            const std::lock_guard lock(ledger_.books_mutex_);
            ledger_.books_.erase(this);
        }
        ledger_.give_back(unused());
    }
    server_book(const server_book&) = delete;
    server_book& operator=(const server_book&) = delete;

    using serial_book::take;
    // The next number held ahead, else as many as the lease asks for from
    // the server; while the server is out of reach the board waits, told so.
    std::optional<serial_value> take(std::string& why, const waiting& wait) override
    {
        for (;;) {
            std::optional<serial_value> v;
            bool low = false;
            {
                const std::lock_guard lock(mutex_);
                if (!lease_.empty()) {
                    v = std::move(lease_.front());
                    lease_.pop_front();
                    v->notes.insert(v->notes.begin(), notes_.begin(), notes_.end());
                    notes_.clear();
                    low = ledger_.lease_ > 0 && static_cast<int>(lease_.size()) * 2 < ledger_.lease_;
                }
            }
            if (v) {
                // Numbers held ahead are topped up below half the lease while
                // the server can be reached: an outage then finds some in hand.
                std::string ignored;
                if (low && ledger_.reachable()) fetch(ignored, true);
                return v;
            }
            if (ledger_.gone()) {
                why = ledger_.gone_text();
                return std::nullopt;
            }
            const auto got = fetch(why);
            if (got == server_link::outcome::refused) return std::nullopt;
            if (got == server_link::outcome::done) continue;
            if (!wait || !wait("waiting for a serial number: " + ledger_.name() + " is unreachable")) {
                std::string said = "no serial number: ";
                said += ledger_.name();
                said += " is unreachable (";
                said += why;
                why = said + ")";
                return std::nullopt;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
        }
    }

    bool settle(const serial_value& value, bool passed, std::string& why) override
    {
        server_rows rows;
        const auto hold = ledger_.hold_of(value);
        const auto got = ledger_.call("SELECT fernwick_settle($1, $2::text[], $3)",
                                      {ledger_.station_, "{" + hold + "}", passed ? "true" : "false"}, rows, why);
        if (got != server_link::outcome::done) return false;
        if (!hold.empty() && !rows.empty() && text(rows[0][0]) == "1")
            return ledger_.settled(*serial_key(&value)), true;
        why = "serial number " + value.text + " at " + s_.place + " is not held by this station";
        return false;
    }

    // A number below the front went back: offer from the first again.
    void rewind() { rewind_ = true; }

    std::vector<std::string> unused()
    {
        const std::lock_guard lock(mutex_);
        std::vector<std::string> holds;
        for (const auto& v : lease_) holds.push_back(v.hold);
        lease_.clear();
        return holds;
    }

private:
    // One round trip for the numbers of a batch; more only when every
    // number offered is taken already.
    server_link::outcome fetch(std::string& why, bool top_up = false)
    {
        const std::lock_guard lock(fetch_mutex_);
        int have = 0;
        {
            const std::lock_guard l(mutex_);
            if (!lease_.empty() && !top_up) return server_link::outcome::done;
            have = static_cast<int>(lease_.size());
        }
        const int want = std::max(1, ledger_.lease_ - (top_up ? have : 0));
        if (rewind_.exchange(false)) cursor_ = 0;
        for (auto from = cursor_;;) {
            QJsonArray offered;
            bool last = false;
            auto index = from;
            for (; index < from + k_candidates + static_cast<std::uint64_t>(want); ++index) {
                const auto v = s_.value_at(index);
                if (!v) {
                    last = true;
                    break;
                }
                offered.append(QJsonArray{static_cast<qint64>(index),
                                          QString::fromStdString(serial_bytes_text(v->bytes)),
                                          QString::fromStdString(v->text)});
            }
            server_rows rows;
            const auto got = ledger_.call(
                "SELECT idx, value, serial, hold, note, front FROM fernwick_take($1, $2, $3, $4, $5::jsonb, $6, $7)",
                {s_.name, s_.place, ledger_.host_, ledger_.station_,
                 QJsonDocument(offered).toJson(QJsonDocument::Compact).toStdString(), last ? "true" : "false",
                 std::to_string(want)},
                rows, why);
            if (got != server_link::outcome::done) {
                return got;
            }
            std::vector<serial_value> taken;
            std::string note;
            for (const auto& row : rows) {
                if (row[5]) cursor_ = std::max<std::uint64_t>(cursor_, std::stoull(*row[5]));
                if (!row[0]) {
                    note = text(row[4]);
                    continue;
                }
                auto v = s_.value_at(static_cast<std::uint64_t>(std::stoull(*row[0])));
                if (!v) continue;
                v->hold = text(row[3]);
                ledger_.held(*v);
                taken.push_back(std::move(*v));
            }
            if (!taken.empty()) {
                if (!note.empty()) taken.front().notes.push_back(note);
                const std::lock_guard l(mutex_);
                for (auto& v : taken) lease_.push_back(std::move(v));
                return got;
            }
            from = std::max(index, cursor_);
        }
    }

    server_ledger& ledger_;
    const numbers_series s_;
    std::mutex mutex_;
    std::mutex fetch_mutex_;  // one batch asked for at a time
    std::deque<serial_value> lease_;
    std::vector<std::string> notes_;  // said with the first number taken
    std::uint64_t cursor_ = 0;        // every number before it is kept
    std::atomic<bool> rewind_ = false;
};

void server_ledger::rewind_books()
{
    const std::lock_guard lock(books_mutex_);
    for (auto* b : books_) b->rewind();
}

std::vector<std::string> server_ledger::unused_holds()
{
    std::vector<std::string> holds;
    const std::lock_guard lock(books_mutex_);
    for (auto* b : books_)
        for (auto& h : b->unused()) holds.push_back(std::move(h));
    return holds;
}

std::unique_ptr<serial_book> server_ledger::book(numbers_series s, std::string& why)
{
    if (s.name.empty() || s.place.empty() || !s.value_at) {
        why = "a serial number series needs a name, a place and its numbers";
        return nullptr;
    }
    std::vector<std::string> notes;
    if (!s.list_digest.empty()) {
        server_rows rows;
        if (call("SELECT fernwick_list_seen($1, $2, $3, $4, $5)",
                 {s.name, host_, s.list_name, s.list_digest, std::to_string(s.list_values)}, rows,
                 why) != server_link::outcome::done)
            return nullptr;
        if (!rows.empty() && rows[0][0]) notes.push_back(*rows[0][0]);
    }
    return std::make_unique<server_book>(*this, std::move(s), std::move(notes));
}

std::optional<std::vector<ledger_row>> server_ledger::rows(const std::optional<std::string>& serial, std::string& why)
{
    server_rows got;
    const auto sql = std::string("SELECT ") + server_schema::k_row_columns + " FROM boards" +
                     (serial ? " WHERE serial = $1" : "") + " ORDER BY id";
    server_params params;
    if (serial) params.push_back(*serial);
    if (call(sql.c_str(), params, got, why) != server_link::outcome::done) return std::nullopt;
    std::vector<ledger_row> rows;
    for (const auto& g : got) {
        ledger_row r;
        r.time = text(g[0]);
        r.host = text(g[1]);
        r.fixture = text(g[2]);
        r.port = text(g[3]);
        r.adapter_serial = text(g[4]);
        r.hex_file = text(g[5]);
        r.hex_sha256 = text(g[6]);
        r.series = text(g[7]);
        r.serial = g[8];
        r.result = text(g[9]);
        r.step = text(g[10]);
        r.sector = whole(g[11]);
        r.block = whole(g[12]);
        r.received = text(g[13]);
        r.attempts = whole(g[14]).value_or(0);
        r.seconds = std::atof(text(g[15]).c_str());
        r.version = text(g[16]);
        r.product = text(g[17]);
        r.job_sha256 = text(g[18]);
        r.operator_name = text(g[19]);
        r.lot = text(g[20]);
        r.station = text(g[21]);
        rows.push_back(std::move(r));
    }
    return rows;
}

std::optional<std::vector<std::string>> server_ledger::notes(std::string& why)
{
    server_rows got;
    if (call("SELECT time, host, note FROM notes ORDER BY id", {}, got, why) != server_link::outcome::done)
        return std::nullopt;
    std::vector<std::string> notes;
    for (const auto& g : got) notes.push_back(text(g[0]) + "  " + text(g[1]) + "  " + text(g[2]));
    return notes;
}

std::optional<std::string> server_ledger::init(const std::string& target, std::optional<int> reservation_seconds,
                                               std::string& why)
{
    if (const auto fault = server_link::target_fault(target)) {
        why = *fault;
        return std::nullopt;
    }
    server_link link(target);
    const auto where = server_link::where_of(target);
    std::string reason;
    if (!link.connect(reason)) {
        why = "cannot reach the ledger server " + where + ": " + reason;
        return std::nullopt;
    }
    server_rows rows;
    // The names in the schema a table made now would go into.
    const auto taken = std::string(
                           "SELECT c.relname FROM pg_class c WHERE c.relnamespace = current_schema()::regnamespace "
                           "AND c.relname IN (") +
                       server_schema::k_names +
                       ") UNION SELECT p.proname FROM pg_proc p WHERE p.pronamespace = current_schema()::regnamespace "
                       "AND p.proname IN (" +
                       server_schema::k_names + ") ORDER BY 1";
    if (link.call(taken.c_str(), {}, rows, reason) != server_link::outcome::done) {
        why = "the ledger server " + where + ": " + reason;
        return std::nullopt;
    }
    if (!rows.empty()) {
        std::string names;
        for (const auto& r : rows) names += (names.empty() ? "" : ", ") + text(r[0]);
        if (names.find("fernwick_ledger") != std::string::npos) {
            if (const auto there = server_ledger::open_to_read(target, reason)) {
                const int kept_after = static_cast<server_ledger&>(*there).reservation_seconds_;
                const auto held = " (a number held by a station that stops renewing it is kept after " +
                                  std::to_string(kept_after) + " s)";
                // Set once, when made: the stations on it renew their holds by it.
                if (reservation_seconds && *reservation_seconds != kept_after) {
                    why = "the ledger server " + where + " holds a ledger already" + held + ", not after " +
                          std::to_string(*reservation_seconds) + " s as asked: nothing was changed";
                    return std::nullopt;
                }
                return "the ledger server " + where + " holds a ledger already" + held + "; nothing was changed";
            }
        }
        why = "the ledger server " + where + " holds " + names +
              " already, not a ledger of this fernwick-cli's: nothing was made (use another database or schema)";
        return std::nullopt;
    }
    const auto make = std::string("BEGIN; ") + server_schema::k_tables + server_schema::k_functions +
                      "INSERT INTO fernwick_ledger VALUES ('schema', '" + std::to_string(server_schema::k_version) +
                      "'), ('id', gen_random_uuid()::text), ('reservation_seconds', '" +
                      std::to_string(reservation_seconds.value_or(k_default_reservation_s)) + "'); COMMIT;";
    if (link.call(make.c_str(), {}, rows, reason) != server_link::outcome::done) {
        why = "the ledger server " + where + ": the ledger was not made: " + reason;
        return std::nullopt;
    }
    return "made a ledger on the ledger server " + where +
           " (a number held by a station that stops renewing it is "
           "kept after " +
           std::to_string(reservation_seconds.value_or(k_default_reservation_s)) + " s)";
}

}  // namespace fernwick::station
