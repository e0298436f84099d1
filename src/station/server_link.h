#pragma once
// One connection to a ledger's PostgreSQL server, watched: libpq's
// keepalives, a connect time-out, a TCP user time-out and a statement
// time-out on the server, and a deadline of our own on every answer, since
// a server that is stopped still has its kernel acknowledge every packet.

#include <atomic>
#include <optional>
#include <string>
#include <vector>

struct pg_conn;

namespace fernwick::station {

// Rows of text, a NULL as nullopt.
using server_rows = std::vector<std::vector<std::optional<std::string>>>;
using server_params = std::vector<std::optional<std::string>>;

class server_link {
public:
    // What is wrong with a connection string before any connection is
    // tried: one libpq cannot read, or one with a password in it.
    static std::optional<std::string> target_fault(const std::string& target);
    // "HOST/DB" as the string gives them ("the local socket" for no host).
    static std::string where_of(const std::string& target);

    explicit server_link(std::string target);
    ~server_link();
    server_link(const server_link&) = delete;
    server_link& operator=(const server_link&) = delete;

    // Connects anew (bounded by the connect time-out); the reason as the
    // server or the network gives it.
    bool connect(std::string& why);
    bool connected() const { return conn_ != nullptr; }
    void drop();

    enum class outcome {
        done,     // the answer came: rows, or the server's error in `why`
        refused,  // the server answered with an error: nothing of it was done
        lost,     // no answer: the connection broke or the deadline passed; it may have been done
    };
    // One statement with text parameters, one round trip; on `lost` the
    // connection is dropped.
    outcome call(const char* sql, const server_params& params, server_rows& rows, std::string& why);
    // The round trips made so far.
    long round_trips() const { return trips_; }
    // The server's SQLSTATE of the last refused call ("42P01" for a missing table).
    const std::string& state() const { return state_; }

private:
    bool wait_for(bool writing, long deadline_ms);
    const std::string target_;
    pg_conn* conn_ = nullptr;
    std::atomic<long> trips_{0};
    std::string state_;
};

}  // namespace fernwick::station
