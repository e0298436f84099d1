#include "station/server_ledger.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QUuid>
#include <chrono>

#include "station/ledger_sql.h"
#include "station/report.h"
#include "station/server_schema.h"

namespace fernwick::station {

namespace {

// A lost connection is tried again after 0.5 s, then twice as long each
// time up to this: a server back is seen within it.
constexpr std::chrono::milliseconds k_longest_back_off{8000};

QJsonObject json_of(const ledger_row& r, const std::string& attempt)
{
    auto o = row_json(r);
    o["attempt"] = QString::fromStdString(attempt);
    return o;
}

std::string text(const std::optional<std::string>& v) { return v.value_or(""); }

// The server's transient refusals: a time-out, a deadlock, a server
// shutting down or short of resources. Tried again; anything else is the
// ledger's answer.
bool transient(const std::string& state)
{
    // 25: a server made read-only (a standby after a failover); 55 and 58:
    // objects and the system not ready; 42501: rights taken away for now.
    return state.starts_with("57") || state.starts_with("40") || state.starts_with("53") || state.starts_with("08") ||
           state.starts_with("25") || state.starts_with("55") || state.starts_with("58") || state == "42501";
}

std::string clock_text(std::time_t t)
{
    char text[16] = {};
    std::tm local{};
    localtime_r(&t, &local);
    std::strftime(text, sizeof text, "%H:%M", &local);
    return text;
}

}  // namespace

server_ledger::server_ledger(std::string target)
    : target_(std::move(target)), where_(server_link::where_of(target_)), link_(target_)
{
}

server_ledger::~server_ledger() { stop_watching(); }

void server_ledger::stop_watching()
{
    {
        const std::lock_guard lock(watch_mutex_);
        watch_end_ = true;
    }
    watch_wake_.notify_all();
    if (watcher_.joinable()) watcher_.join();
}

std::string server_ledger::gone_text() const
{
    return name() +
           " is no longer the ledger this station opened (its tables were made anew): no board is recorded "
           "from now on (a ledger made anew would not know the serial numbers given)";
}

bool server_ledger::check_tables(std::string& why)
{
    server_rows rows;
    const auto got = link_.call("SELECT key, value FROM fernwick_ledger", {}, rows, why);
    if (got != server_link::outcome::done) {
        if (link_.state() == "42P01") why = "holds no ledger: make one with fernwick-cli ledger init '" + target_ + "'";
        return false;
    }
    std::string version;
    for (const auto& row : rows) {
        const auto key = text(row[0]), value = text(row[1]);
        if (key == "schema") version = value;
        if (key == "id") {
            // Set once, at the open: the board threads read it without a lock.
            if (ledger_id_.empty()) ledger_id_ = value;
            other_ledger_ = value != ledger_id_;
        }
        if (key == "reservation_seconds") reservation_seconds_ = std::max(1, std::atoi(value.c_str()));
    }
    if (version == std::to_string(server_schema::k_version) && !ledger_id_.empty()) return true;
    why = version.empty() ? "its table fernwick_ledger is not a ledger's"
                          : "a ledger of version " + version + ", this fernwick-cli writes " +
                                std::to_string(server_schema::k_version);
    return false;
}

// A server that reads but takes no write (a standby after a failover, a
// database made read-only) is not back yet: each record would fail again.
bool server_ledger::writable(std::string& why)
{
    server_rows rows;
    if (link_.call("SELECT current_setting('transaction_read_only')", {}, rows, why) != server_link::outcome::done)
        return false;
    if (!rows.empty() && text(rows[0][0]) == "on") {
        why = "it takes no writes (read-only, as a standby is)";
        return false;
    }
    return true;
}

// A number is known to this station by its bytes and its text, as the file's ledger knows it.
std::optional<std::string> server_ledger::serial_key(const serial_value* v)
{
    return v ? std::optional(serial_bytes_text(v->bytes) + " " + v->text) : std::optional<std::string>("");
}

std::string server_ledger::hold_of(const serial_value& v)
{
    if (!v.hold.empty()) return v.hold;
    const std::lock_guard lock(holds_mutex_);
    const auto found = holds_.find(*serial_key(&v));
    return found == holds_.end() ? std::string() : found->second;
}

void server_ledger::held(const serial_value& v)
{
    const std::lock_guard lock(holds_mutex_);
    holds_[*serial_key(&v)] = v.hold;
}

void server_ledger::settled(const std::string& key)
{
    const std::lock_guard lock(holds_mutex_);
    holds_.erase(key);
}

std::unique_ptr<ledger> server_ledger::open_to_read(const std::string& target, std::string& why)
{
    if (const auto fault = server_link::target_fault(target)) {
        why = *fault;
        return nullptr;
    }
    std::unique_ptr<server_ledger> l(new server_ledger(target));
    std::string reason;
    if (!l->link_.connect(reason)) {
        why = "cannot reach the ledger server " + l->where_ + ": " + reason;
        return nullptr;
    }
    if (!l->check_tables(reason)) {
        why = l->name() + ": " + reason;
        return nullptr;
    }
    l->reachable_ = true;
    return l;
}

std::unique_ptr<ledger> server_ledger::open(const std::string& target, const ledger_options& options, std::string& why)
{
    auto read = open_to_read(target, why);
    if (!read) return nullptr;
    std::unique_ptr<server_ledger> l(static_cast<server_ledger*>(read.release()));
    if (std::string reason; !l->writable(reason)) {
        why = l->name() + ": " + reason;
        return nullptr;
    }
    l->host_ = options.host_name.empty() ? ledger_sql::host_name() : options.host_name;
    l->station_ = std::to_string(ledger_sql::process_id()) + " " + ledger_sql::now();
    l->lease_ = std::max(0, options.serial_lease);
    const auto path = options.spool.empty() ? default_spool_path(l->where_) : options.spool;
    l->spool_ = spool::open(path, l->ledger_id_, why);
    if (!l->spool_) return nullptr;
    // What an earlier run left waiting goes first: its boards came first.
    std::string reason;
    if (!l->forward(reason)) {
        why = l->name() + ": the records waiting in the spool " + path + " could not be forwarded: " + reason;
        return nullptr;
    }
    if (const int others = l->spool_->others(); others > 0)
        l->tell(std::to_string(others) + (others == 1 ? " record" : " records") + " in the spool " + path +
                " wait for another ledger than " + l->name() + ": they are never sent to this one");
    l->watcher_ = std::thread([p = l.get()] { p->watch(); });
    return l;
}

server_link::outcome server_ledger::call(const char* sql, const server_params& params, server_rows& rows,
                                         std::string& why)
{
    // An unreachable server is said at once, not after the watcher's
    // reconnect, which holds the link for as long as a connect may take.
    const auto unreachable = [&] {
        why = "the ledger server is unreachable";
        return server_link::outcome::lost;
    };
    if (!reachable_) return unreachable();
    const std::lock_guard lock(link_mutex_);
    if (!reachable_) return unreachable();
    auto got = link_.call(sql, params, rows, why);
    const bool answered = got == server_link::outcome::refused;
    if (answered && transient(link_.state())) got = server_link::outcome::lost;
    if (got == server_link::outcome::lost) {
        reachable_ = false;
        std::time_t expected = 0;
        // Through the watcher's mutex: it waits for news or is about to see it.
        {
            const std::lock_guard wake(watch_mutex_);
        }
        if (down_since_.compare_exchange_strong(expected, std::time(nullptr)))
            tell(name() + (answered ? " refuses to keep records for now (" : " is unreachable (") + why +
                 "): records wait in the spool " + (spool_ ? spool_->path() : std::string("-")) +
                 " until it is back; a board that needs a serial number waits for one");
        watch_wake_.notify_all();
    }
    return got;
}

bool server_ledger::record(const ledger_row& row, const serial_value* serial, std::string& why)
{
    if (gone_) {
        why = gone_text();
        return false;
    }
    ledger_row r = row;
    if (r.time.empty()) r.time = ledger_sql::now();
    if (r.host.empty()) r.host = host_;
    r.station = station_;
    const bool passed = r.result == "passed";
    r.serial = serial && passed ? std::optional(serial->text) : std::nullopt;
    const auto hold = serial ? hold_of(*serial) : std::string();
    if (serial && hold.empty()) {
        why = "serial number " + serial->text + " is not held by this station";
        return false;
    }
    // A board with a number is known by its hold: the row a sweep wrote for
    // it, its station thought gone, gives way to this one.
    spooled_record s;
    s.attempt = serial ? hold : QUuid::createUuid().toString(QUuid::WithoutBraces).toStdString();
    s.hold = hold;
    s.passed = passed;
    s.row = QJsonDocument(json_of(r, s.attempt)).toJson(QJsonDocument::Compact).toStdString();
    const std::lock_guard order(spool_mutex_);
    // Behind those already waiting: the records reach the server in order.
    if (reachable_ && spool_->waiting() == 0) {
        server_rows rows;
        const auto got =
            call("SELECT fernwick_record($1, $2::jsonb, $3, $4)",
                 {ledger_id_, s.row, s.hold.empty() ? std::nullopt : std::optional(s.hold), passed ? "true" : "false"},
                 rows, why);
        if (got == server_link::outcome::done) {
            const auto said = rows.empty() ? std::string() : text(rows[0][0]);
            if (said == "released") rewind_books();
            if (said != "gone") return settled(*serial_key(serial)), true;
            gone_ = true;
            why = gone_text();
            return false;
        }
        // A refusal is kept too: the forwarding marks it, counts it and says it.
    }
    std::string spooled;
    if (spool_->add(s, spooled)) {
        settled(*serial_key(serial));
        watch_wake_.notify_all();
        return true;
    }
    why = "neither " + name() + " (" + why + ") nor its spool took the record: " + spooled;
    return false;
}

// The spool's records, oldest first, until none waits or the server cannot
// be reached. A record the server refuses for good stays in the spool,
// marked, and is counted as lost.
bool server_ledger::forward(std::string& why)
{
    const std::lock_guard order(spool_mutex_);
    int sent = 0;
    // Said however the forwarding ends.
    const auto said = [&](bool ok) {
        if (sent > 0)
            tell(std::to_string(sent) + (sent == 1 ? " record" : " records") + " forwarded from the spool to " +
                 name());
        return ok;
    };
    for (;;) {
        const auto next = spool_->oldest(why);
        if (!next) return said(why.empty());
        server_rows rows;
        const auto got = call("SELECT fernwick_record($1, $2::jsonb, $3, $4)",
                              {ledger_id_, next->row, next->hold.empty() ? std::nullopt : std::optional(next->hold),
                               next->passed ? "true" : "false"},
                              rows, why);
        if (got == server_link::outcome::lost) return said(false);
        if (got == server_link::outcome::refused) {
            tell(name() + " refused a record of the spool " + spool_->path() + ": " + why);
            if (!spool_->refuse(next->id, why, why)) return said(false);
            continue;
        }
        if (!rows.empty() && text(rows[0][0]) == "gone") {
            gone_ = true;
            why = gone_text();
            return said(false);
        }
        if (!rows.empty() && text(rows[0][0]) == "released") rewind_books();
        if (!spool_->remove(next->id, why)) return said(false);
        ++sent;
    }
}

void server_ledger::watch()
{
    using namespace std::chrono;
    auto back_off = milliseconds(500);
    const auto renew_every = milliseconds(std::max(300, reservation_seconds_ * 1000 / 3));
    auto renew_at = steady_clock::now() + renew_every;
    bool trial = false;  // connected again: back once a write has gone through
    std::unique_lock lock(watch_mutex_);
    while (!watch_end_) {
        const bool up = reachable_;
        const auto wait = up ? renew_at - steady_clock::now() : duration_cast<steady_clock::duration>(back_off);
        watch_wake_.wait_for(lock, std::max(wait, steady_clock::duration(milliseconds(50))));
        if (watch_end_) break;
        lock.unlock();
        std::string why;
        if (!reachable_) {
            const std::lock_guard link(link_mutex_);
            if (link_.connect(why)) {
                // The server back with another ledger in the database is none of ours.
                const bool read = check_tables(why);
                // A table that could not be read is the server still in trouble, not another ledger.
                if ((!read && (!link_.connected() || (!link_.state().empty() && link_.state() != "42P01"))) ||
                    (read && !other_ledger_ && !writable(why))) {
                    link_.drop();
                    back_off = std::min(back_off * 2, k_longest_back_off);
                } else if (read && !other_ledger_) {
                    reachable_ = true;
                    trial = true;
                } else {
                    gone_ = true;
                    tell(gone_text());
                }
            } else {
                back_off = std::min(back_off * 2, k_longest_back_off);
            }
        }
        if (reachable_ && !gone_) {
            forward(why);
            // The renewal is the write a server back must take: one that
            // reads but refuses writes (rights taken, a full disk) is not back.
            if (reachable_ && (trial || steady_clock::now() >= renew_at)) {
                server_rows rows;
                call("SELECT fernwick_renew($1)", {station_}, rows, why);
                renew_at = steady_clock::now() + renew_every;
            }
        }
        if (std::exchange(trial, false)) {
            if (reachable_) {
                tell(name() + " is back after " + std::to_string(std::time(nullptr) - down_since_.load()) + " s");
                down_since_ = 0;
                back_off = milliseconds(500);
            } else {
                back_off = std::min(back_off * 2, k_longest_back_off);
            }
        }
        lock.lock();
    }
}

ledger_health server_ledger::health() const
{
    ledger_health h;
    if (!spool_) return h;
    auto* s = const_cast<spool*>(spool_.get());
    h.waiting = std::max(0, s->waiting());
    h.spool = s->path();
    const int refused = std::max(0, s->refused());
    const auto waiting = std::to_string(h.waiting) + (h.waiting == 1 ? " record waiting" : " records waiting");
    if (const auto since = down_since_.load())
        h.trouble = "ledger server unreachable since " + clock_text(since) + ", " + waiting;
    else if (h.waiting > 0)
        h.trouble = "ledger server back, " + waiting;
    if (refused > 0)
        h.trouble += (h.trouble.empty() ? "" : "; ") + std::to_string(refused) +
                     (refused == 1 ? " record refused" : " records refused") + " by the server, kept in " + h.spool;
    return h;
}

void server_ledger::tell(std::string line)
{
    const std::lock_guard lock(news_mutex_);
    news_.push_back(std::move(line));
}

std::vector<std::string> server_ledger::news()
{
    const std::lock_guard lock(news_mutex_);
    return std::exchange(news_, {});
}

std::string server_ledger::finish()
{
    // Its reconnects would hold the link while the tries below wait for it.
    stop_watching();
    give_back(unused_holds());
    std::string why;
    // Records waiting get a last chance, bounded: the server may be back
    // between two tries of the watcher. A connect that times out ends it.
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    while (!gone_ && spool_->waiting() > 0 && std::chrono::steady_clock::now() < until) {
        if (!reachable_) {
            const std::lock_guard link(link_mutex_);
            if (link_.connect(why) && check_tables(why) && !other_ledger_ && writable(why)) {
                reachable_ = true;
                down_since_ = 0;
            }
        }
        if (reachable_ && forward(why)) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
    }
    const auto h = health();
    const int refused = std::max(0, spool_->refused());
    const int others = std::max(0, spool_->others());
    if (h.waiting == 0 && refused == 0 && others == 0) return {};
    std::string text;
    if (h.waiting > 0)
        text = std::to_string(h.waiting) + (h.waiting == 1 ? " record waits" : " records wait") + " in the spool " +
               h.spool + " for " + name() + "; the next run forwards them first";
    if (refused > 0)
        text += (text.empty() ? "" : "; ") + std::to_string(refused) +
                (refused == 1 ? " record was refused by " + name() + " and stays"
                              : " records were refused by " + name() + " and stay") +
                " in the spool " + h.spool;
    if (others > 0)
        text += (text.empty() ? "" : "; ") + std::to_string(others) + (others == 1 ? " record" : " records") +
                " in the spool " + h.spool + " wait for another ledger, not " + name() +
                " (one made anew since?): they are never sent to this one";
    return text;
}

void server_ledger::give_back(const std::vector<std::string>& holds)
{
    if (holds.empty() || !reachable_) return;
    std::string list = "{";
    for (const auto& h : holds) list += (list.size() > 1 ? "," : "") + h;
    server_rows rows;
    std::string why;
    call("SELECT fernwick_settle($1, $2::text[], false)", {station_, list + "}"}, rows, why);
}

}  // namespace fernwick::station
