#include "station/server_link.h"

#include <libpq-fe.h>
#include <poll.h>

#include <chrono>
#include <memory>

namespace fernwick::station {

namespace {

// A server that does not answer within this is taken for out of reach: the
// station goes on with its spool and its reserved numbers rather than stall
// every fixture.
constexpr long k_answer_ms = 5000;
constexpr const char* k_statement_timeout = "SET statement_timeout = 4000";

long now_ms()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// libpq's messages end in a line end and go on with "\n\t": one line here.
std::string trimmed(std::string s)
{
    // libpq's guess at the cause adds nothing the operator can act on.
    if (const auto guess = s.find("\n\tThis probably means"); guess != std::string::npos) s.erase(guess);
    for (auto at = s.find("\n\t"); at != std::string::npos; at = s.find("\n\t")) s.replace(at, 2, " ");
    while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
    for (auto& c : s)
        if (c == '\n') c = ' ';
    return s;
}

// The server's notices (a shutdown's warning) are not the operator's: what
// matters is said as the link breaks.
void no_notice(void*, const char*) {}

struct options_free {
    void operator()(PQconninfoOption* o) const { PQconninfoFree(o); }
};
using parsed_options = std::unique_ptr<PQconninfoOption, options_free>;

parsed_options parse(const std::string& target, std::string& why)
{
    char* error = nullptr;
    parsed_options o(PQconninfoParse(target.c_str(), &error));
    if (!o) {
        why = error ? trimmed(error) : "cannot be read";
        PQfreemem(error);
    }
    return o;
}

std::string option(const PQconninfoOption* o, const std::string& key)
{
    for (; o && o->keyword; ++o)
        if (key == o->keyword && o->val) return o->val;
    return {};
}

}  // namespace

std::optional<std::string> server_link::target_fault(const std::string& target)
{
    std::string why;
    const auto o = parse(target, why);
    if (!o) return "not a PostgreSQL connection string: " + why;
    if (!option(o.get(), "password").empty() || !option(o.get(), "sslpassword").empty())
        return "a password is not given on the command line or in a job, where others read it: put it in ~/.pgpass "
               "or PGPASSWORD";
    return std::nullopt;
}

std::string server_link::where_of(const std::string& target)
{
    std::string why;
    const auto o = parse(target, why);
    auto host = option(o.get(), "host");
    if (host.empty()) host = option(o.get(), "hostaddr");
    if (host.empty()) host = "localhost";
    const auto port = option(o.get(), "port");
    auto db = option(o.get(), "dbname");
    if (db.empty()) db = option(o.get(), "user");
    return host + (port.empty() ? "" : ":" + port) + "/" + (db.empty() ? "?" : db);
}

server_link::server_link(std::string target) : target_(std::move(target)) {}

server_link::~server_link() { drop(); }

void server_link::drop()
{
    if (conn_) PQfinish(conn_);
    conn_ = nullptr;
}

bool server_link::connect(std::string& why)
{
    drop();
    // Ours first: the operator's string comes last and may change them.
    const char* keys[] = {"connect_timeout",     "keepalives",       "keepalives_idle",
                          "keepalives_interval", "keepalives_count", "tcp_user_timeout",
                          "application_name",    "dbname",           nullptr};
    const char* values[] = {"5", "1", "5", "2", "2", "5000", "fernwick-cli", target_.c_str(), nullptr};
    pg_conn* c = PQconnectdbParams(keys, values, 1);
    ++trips_;
    if (!c || PQstatus(c) != CONNECTION_OK) {
        why = c ? trimmed(PQerrorMessage(c)) : "out of memory";
        if (c) PQfinish(c);
        return false;
    }
    conn_ = c;
    PQsetNoticeProcessor(conn_, no_notice, nullptr);
    PQsetnonblocking(conn_, 1);
    server_rows ignored;
    return call(k_statement_timeout, {}, ignored, why) == outcome::done;
}

bool server_link::wait_for(bool writing, long deadline_ms)
{
    const long left = deadline_ms - now_ms();
    if (left <= 0) return false;
    pollfd p{PQsocket(conn_), static_cast<short>(writing ? POLLOUT : POLLIN), 0};
    return ::poll(&p, 1, static_cast<int>(left)) > 0;
}

server_link::outcome server_link::call(const char* sql, const server_params& params, server_rows& rows,
                                       std::string& why)
{
    rows.clear();
    state_.clear();
    if (!conn_) {
        why = "not connected";
        return outcome::lost;
    }
    std::vector<const char*> values;
    for (const auto& p : params) values.push_back(p ? p->c_str() : nullptr);
    const long deadline = now_ms() + k_answer_ms;
    ++trips_;
    const auto lost = [&](const std::string& what) {
        why = what.empty() ? "the connection to the server was lost" : what;
        drop();
        return outcome::lost;
    };
    // Without parameters, the simple protocol: a script of several statements.
    const int sent = params.empty() ? PQsendQuery(conn_, sql)
                                    : PQsendQueryParams(conn_, sql, static_cast<int>(values.size()), nullptr,
                                                        values.data(), nullptr, nullptr, 0);
    if (!sent) return lost(trimmed(PQerrorMessage(conn_)));
    for (int f; (f = PQflush(conn_)) != 0;)
        if (f < 0 || !wait_for(true, deadline)) return lost(f < 0 ? trimmed(PQerrorMessage(conn_)) : "");
    outcome got = outcome::done;
    for (;;) {
        while (PQisBusy(conn_)) {
            if (!wait_for(false, deadline))
                return lost("no answer from the server within " + std::to_string(k_answer_ms / 1000) + " s");
            if (!PQconsumeInput(conn_)) return lost(trimmed(PQerrorMessage(conn_)));
        }
        PGresult* r = PQgetResult(conn_);
        if (!r) break;
        const auto status = PQresultStatus(r);
        if (status == PGRES_TUPLES_OK) {
            for (int i = 0; i < PQntuples(r); ++i) {
                auto& row = rows.emplace_back();
                for (int j = 0; j < PQnfields(r); ++j)
                    row.push_back(PQgetisnull(r, i, j) ? std::nullopt
                                                       : std::optional<std::string>(PQgetvalue(r, i, j)));
            }
        } else if (status != PGRES_COMMAND_OK) {
            const char* code = PQresultErrorField(r, PG_DIAG_SQLSTATE);
            state_ = code ? code : "";
            const char* primary = PQresultErrorField(r, PG_DIAG_MESSAGE_PRIMARY);
            why = primary ? primary : trimmed(PQresultErrorMessage(r));
            // An error on a sound connection rolled the statement back; on a
            // broken one nothing is known of it.
            got = PQstatus(conn_) == CONNECTION_OK ? outcome::refused : outcome::lost;
        }
        PQclear(r);
    }
    if (got == outcome::lost) drop();
    // A session the server ended (restarted, an administrator) answers no more.
    if (conn_ && PQstatus(conn_) != CONNECTION_OK) return lost("");
    return got;
}

}  // namespace fernwick::station
