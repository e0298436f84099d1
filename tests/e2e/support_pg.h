#pragma once
// A PostgreSQL server of the test's own, and a proxy in front of it to lose
// answers and connections on the way. Link fernwick_test_pg.
//
//     throwaway_pg pg;
//     ASSERT_EQ(pg.start(), "");                  // "" or why it did not start
//     ASSERT_EQ(pg.make_database("line"), "");
//     pg_proxy proxy(pg.port());
//     const auto url = pg.tcp_conninfo("line", proxy.port());  // the ledger's way in
//     proxy.drop_next_commit_answer();            // the next COMMIT done, its answer lost
//     EXPECT_EQ(pg.query("line", "SELECT count(*) FROM t").rows[0][0], "1");
//
// The server runs from a folder under /tmp as an unprivileged user when the
// test runs as root (initdb and postgres refuse root), and is killed and its
// folder removed when the object goes, or when a later test program finds it
// left behind by one that died. Every wait is bounded; a server that cannot be
// had is an error to fail the test with, never a reason to skip it.

#include <sys/types.h>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace fernwick::e2e {

struct pg_rows {
    std::string error;                           // "" when every statement ran
    std::vector<std::vector<std::string>> rows;  // the last statement's, NULL as ""
};

class throwaway_pg {
public:
    throwaway_pg() = default;
    ~throwaway_pg();  // an immediate stop, then the folder removed
    throwaway_pg(const throwaway_pg&) = delete;
    throwaway_pg& operator=(const throwaway_pg&) = delete;

    // A new server on a free loopback port and a Unix socket in its folder;
    // after stop(), the same server with its data on the same port again.
    std::string start();
    std::string stop();               // a fast shutdown: sessions ended, nothing lost
    std::string restart_immediate();  // as after a crash: no goodbye to clients, recovery, same port
    // The postmaster and every process of it stopped (SIGSTOP): connections
    // are still accepted by the system but nothing answers, until resume().
    std::string pause();
    std::string resume();

    std::string make_database(const std::string& name) const;
    // Runs `sql` (one or more statements) over the Unix socket within 30 s.
    pg_rows query(const std::string& db, const std::string& sql) const;
    std::string execute(const std::string& db, const std::string& sql) const { return query(db, sql).error; }

    // libpq key=value strings: over the Unix socket, or over TCP to 127.0.0.1
    // on `tcp_port` (a proxy's; by default the server's own).
    std::string conninfo(const std::string& db) const;
    std::string tcp_conninfo(const std::string& db, int tcp_port = 0) const;

    const std::string& data_dir() const { return data_dir_; }
    const std::string& socket_dir() const { return dir_; }
    int port() const { return port_; }
    std::string log() const;  // the server's log so far

private:
    std::string run_tool(const std::vector<std::string>& argv, int timeout_s) const;
    std::string first_start();
    std::string pg_ctl_start();
    pid_t postmaster() const;
    void signal_all(int number) const;

    std::string dir_;
    std::string data_dir_;
    int port_ = 0;
    bool running_ = false;
    bool paused_ = false;
};

// 127.0.0.1:port() passed on to the server's TCP port by a thread of its own.
class pg_proxy {
public:
    explicit pg_proxy(int server_port);
    ~pg_proxy();
    pg_proxy(const pg_proxy&) = delete;
    pg_proxy& operator=(const pg_proxy&) = delete;

    int port() const { return port_; }
    // Once: after a client sends bytes holding `marker` (as written, case and
    // all), they go on to the server, but the server's answer, up to its next
    // ReadyForQuery, is swallowed and both sides closed: the work is done, the
    // client never hears of it. A query's text is in its Query or Parse
    // message, a prepared statement's name in each Bind that runs it: either
    // marks it ("fernwick_record" for a call of that function).
    void drop_next_commit_answer(const std::string& marker = "COMMIT");
    int answers_dropped() const { return dropped_; }
    void cut_all();  // every connection now open closed at once
    // New connections closed as soon as accepted, or with `close_port` not
    // even accepted (connection refused); those open stay (cut_all() ends
    // them). Off: passed again, on the same port.
    void refuse(bool on, bool close_port = false);

private:
    struct link;
    void run();
    void accept_one(std::vector<link>& links);
    bool from_client(link& l);
    bool from_server(link& l);
    void obey(std::vector<link>& links);
    void wait_done(std::unique_lock<std::mutex>& hold);

    int server_port_;
    int port_ = 0;
    int listen_fd_ = -1;
    int wake_[2] = {-1, -1};
    std::atomic<int> dropped_{0};
    std::mutex lock_;  // guards what follows, asked of the thread
    std::condition_variable done_;
    std::string marker_;  // armed when not empty
    bool refusing_ = false;
    bool port_closed_ = false;
    bool cut_ = false;
    bool stopping_ = false;
    int asked_ = 0;
    int done_count_ = 0;
    std::thread thread_;
};

}  // namespace fernwick::e2e
