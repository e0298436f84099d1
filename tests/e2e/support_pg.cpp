#include "support_pg.h"

#include <fcntl.h>
#include <grp.h>
#include <libpq-fe.h>
#include <netinet/in.h>
#include <poll.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <thread>

namespace fernwick::e2e {

namespace {

namespace fs = std::filesystem;
using steady = std::chrono::steady_clock;

constexpr const char* k_bin = FERNWICK_PG_BINDIR;
constexpr const char* k_folder_prefix = "fernwick-pg-";
constexpr int k_start_s = 15;  // initdb, then pg_ctl start: 30 s at most together
constexpr int k_wait_s = 30;

std::string read_text(const std::string& path)
{
    std::ostringstream text;
    text << std::ifstream(path, std::ios::binary).rdbuf();
    return text.str();
}

// Who the server's programs run as: initdb and postgres refuse root.
struct identity {
    bool change = false;
    uid_t uid = 0;
    gid_t gid = 0;
};

identity server_user()
{
    identity who{false, ::geteuid(), ::getegid()};
    if (who.uid != 0) return who;
    if (const passwd* pw = ::getpwnam("nobody")) return {true, pw->pw_uid, pw->pw_gid};
    return {true, 65534, 65534};
}

// The process's parent and state letter from /proc, or {0, 0} once it is gone.
std::pair<pid_t, char> proc_stat(pid_t pid)
{
    const auto text = read_text("/proc/" + std::to_string(pid) + "/stat");
    const auto close = text.rfind(')');  // the command name may hold anything
    if (close == std::string::npos) return {0, 0};
    std::istringstream rest(text.substr(close + 1));
    char state = 0;
    pid_t parent = 0;
    rest >> state >> parent;
    return {parent, state};
}

std::vector<pid_t> children_of(pid_t parent)
{
    std::vector<pid_t> found;
    std::error_code ignored;
    for (const auto& entry : fs::directory_iterator("/proc", ignored)) {
        const auto name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        const pid_t pid = std::stoi(name);
        if (proc_stat(pid).first == parent) found.push_back(pid);
    }
    return found;
}

pid_t postmaster_of(const std::string& data_dir)
{
    std::istringstream text(read_text(data_dir + "/postmaster.pid"));
    pid_t pid = 0;
    return text >> pid ? pid : 0;
}

// The postmaster started from `data_dir` (not another process that got its
// number since) and all its processes, killed at once.
void kill_server(const std::string& data_dir)
{
    const pid_t pm = postmaster_of(data_dir);
    if (pm <= 0 || read_text("/proc/" + std::to_string(pm) + "/cmdline").find(data_dir) == std::string::npos) return;
    const auto children = children_of(pm);
    ::kill(pm, SIGKILL);
    for (const pid_t child : children) ::kill(child, SIGKILL);
    ::kill(pm, SIGCONT);  // a paused one dies only once it runs again
    for (const pid_t child : children) ::kill(child, SIGCONT);
}

// Servers of test programs that died before they could stop them.
void sweep_leftovers()
{
    std::error_code ignored;
    for (const auto& entry : fs::directory_iterator("/tmp", ignored)) {
        const auto folder = entry.path().string();
        if (entry.path().filename().string().rfind(k_folder_prefix, 0) != 0) continue;
        std::istringstream owner(read_text(folder + "/owner"));
        pid_t pid = 0;
        // A zombie is as dead as a program can be; nobody may have reaped it yet.
        if (!(owner >> pid) || pid <= 0 || (proc_stat(pid).second != 0 && proc_stat(pid).second != 'Z')) continue;
        kill_server(folder + "/data");
        fs::remove_all(folder, ignored);
    }
}

// A loopback port nobody listens on just now.
int free_port()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof a;
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), size) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &size) == 0)
        port = ntohs(a.sin_port);
    ::close(fd);
    return port;
}

// The child's side of run_tool: only calls fit for a child of a threaded process.
[[noreturn]] void exec_as(const identity& who, const std::vector<char*>& argv, const std::string& dir, int out)
{
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    for (const int s : {SIGPIPE, SIGINT, SIGTERM, SIGHUP, SIGCHLD, SIGQUIT}) ::signal(s, SIG_DFL);
    ::dup2(out, STDOUT_FILENO);
    ::dup2(out, STDERR_FILENO);
    const int null = ::open("/dev/null", O_RDONLY);
    ::dup2(null, STDIN_FILENO);
    // Nothing of the test's own (pipes, sockets) stays open in a server that outlives the call.
    ::close_range(3, ~0U, 0);
    ::setpgid(0, 0);  // killed with whatever it started if it outstays its time
    if (who.change && (::setgroups(0, nullptr) != 0 || ::setgid(who.gid) != 0 || ::setuid(who.uid) != 0)) ::_exit(126);
    if (::chdir(dir.c_str()) != 0) ::_exit(126);
    ::execv(argv[0], argv.data());
    ::_exit(127);
}

std::string quoted(const std::string& value, char quote)
{
    std::string q(1, quote);
    for (const char c : value) {
        if (c == quote || (quote == '\'' && c == '\\')) q += quote == '\'' ? '\\' : quote;
        q += c;
    }
    return q + quote;
}

std::string trimmed(std::string text)
{
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    return text;
}

}  // namespace

throwaway_pg::~throwaway_pg()
{
    if (dir_.empty()) return;
    if (postmaster_of(data_dir_) > 0) {
        signal_all(SIGCONT);
        run_tool({std::string(k_bin) + "/pg_ctl", "stop", "-m", "immediate", "-w", "-t", "10", "-s", "-D", data_dir_},
                 15);
        kill_server(data_dir_);
    }
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
}

std::string throwaway_pg::run_tool(const std::vector<std::string>& argv, int timeout_s) const
{
    const identity who = server_user();
    const auto out_path = dir_ + "/tool.out";
    const int out = ::open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    std::vector<char*> args;
    args.reserve(argv.size() + 1);
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) exec_as(who, args, dir_, out);
    ::close(out);
    const auto what = fs::path(argv[0]).filename().string() + (argv[1][0] == '-' ? "" : " " + argv[1]);
    if (pid < 0) return "could not start " + what;
    const auto deadline = steady::now() + std::chrono::seconds(timeout_s);
    int status = 0;
    while (::waitpid(pid, &status, WNOHANG) == 0) {
        if (steady::now() > deadline) {
            ::kill(-pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            return what + " did not end within " + std::to_string(timeout_s) + " s";
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return "";
    const auto how = WIFEXITED(status) ? "status " + std::to_string(WEXITSTATUS(status))
                                       : "signal " + std::to_string(WTERMSIG(status));
    return what + " failed (" + how + "): " + trimmed(read_text(out_path));
}

std::string throwaway_pg::start()
{
    if (running_) return "";
    if (dir_.empty()) return first_start();
    auto error = pg_ctl_start();
    running_ = error.empty();
    return error;
}

std::string throwaway_pg::first_start()
{
    for (const char* tool : {"initdb", "pg_ctl", "postgres"})
        if (::access((std::string(k_bin) + "/" + tool).c_str(), X_OK) != 0)
            return std::string("the PostgreSQL server's ") + tool + " is not in " + k_bin +
                   " (scripts/install-deps installs it)";
    sweep_leftovers();
    std::string name = std::string("/tmp/") + k_folder_prefix + "XXXXXX";
    if (!::mkdtemp(name.data())) return "could not make a folder " + name;
    dir_ = name;
    data_dir_ = dir_ + "/data";
    std::ofstream(dir_ + "/owner") << ::getpid() << "\n";
    const identity who = server_user();
    if (who.change && ::chown(dir_.c_str(), who.uid, who.gid) != 0) return "could not give " + dir_ + " to nobody";
    auto error = run_tool({std::string(k_bin) + "/initdb", "-D", data_dir_, "-U", "fernwick", "--auth=trust", "-E",
                           "UTF8", "--locale=C", "-N"},
                          k_start_s);
    if (!error.empty()) return error;
    std::ofstream(data_dir_ + "/postgresql.conf", std::ios::app) << "include 'fernwick.conf'\n";
    // A port another program takes between our look and the server's bind is tried again with another.
    for (int attempt = 0; attempt < 3; ++attempt) {
        port_ = free_port();
        // Settings only a test may have: fsync off loses nothing when the server
        // process dies, only when the machine does; the proxy reads the protocol
        // in the clear.
        std::ofstream(data_dir_ + "/fernwick.conf")
            << "listen_addresses = '127.0.0.1'\nport = " << port_
            << "\nunix_socket_directories = " << quoted(dir_, '\'') << "\nfsync = off\nssl = off\n";
        error = pg_ctl_start();
        if (error.empty() || log().find("could not bind") == std::string::npos) break;
    }
    running_ = error.empty();
    return error;
}

std::string throwaway_pg::pg_ctl_start()
{
    auto error = run_tool({std::string(k_bin) + "/pg_ctl", "start", "-w", "-t", std::to_string(k_start_s), "-s", "-D",
                           data_dir_, "-l", dir_ + "/server.log"},
                          k_start_s + 1);
    return error.empty() ? "" : trimmed(error + "\n" + log());
}

std::string throwaway_pg::stop()
{
    if (!running_) return "";
    resume();
    running_ = false;
    return run_tool({std::string(k_bin) + "/pg_ctl", "stop", "-m", "fast", "-w", "-t", std::to_string(k_wait_s), "-s",
                     "-D", data_dir_},
                    k_wait_s + 5);
}

std::string throwaway_pg::restart_immediate()
{
    if (!running_) return "the server is not running";
    resume();
    auto error = run_tool({std::string(k_bin) + "/pg_ctl", "restart", "-m", "immediate", "-w", "-t",
                           std::to_string(k_wait_s), "-s", "-D", data_dir_, "-l", dir_ + "/server.log"},
                          k_wait_s + 5);
    return error.empty() ? "" : trimmed(error + "\n" + log());
}

pid_t throwaway_pg::postmaster() const { return postmaster_of(data_dir_); }

void throwaway_pg::signal_all(int number) const
{
    const pid_t pm = postmaster();
    if (pm <= 0) return;
    ::kill(pm, number);
    for (const pid_t child : children_of(pm)) ::kill(child, number);
}

std::string throwaway_pg::pause()
{
    const pid_t pm = postmaster();
    if (!running_ || pm <= 0) return "the server is not running";
    // The postmaster first, so that it starts no process the rest would miss.
    ::kill(pm, SIGSTOP);
    const auto until = steady::now() + std::chrono::seconds(5);
    while (proc_stat(pm).second != 'T')
        if (steady::now() > until)
            return "the postmaster did not stop within 5 s";
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    for (const pid_t child : children_of(pm)) ::kill(child, SIGSTOP);
    paused_ = true;
    return "";
}

std::string throwaway_pg::resume()
{
    if (!paused_) return "";
    paused_ = false;
    signal_all(SIGCONT);
    return "";
}

std::string throwaway_pg::make_database(const std::string& name) const
{
    return execute("postgres", "CREATE DATABASE " + quoted(name, '"'));
}

pg_rows throwaway_pg::query(const std::string& db, const std::string& sql) const
{
    const std::unique_ptr<PGconn, void (*)(PGconn*)> c(PQconnectdb((conninfo(db) + " connect_timeout=10").c_str()),
                                                       PQfinish);
    if (PQstatus(c.get()) != CONNECTION_OK)
        return {"could not connect to " + db + ": " + trimmed(PQerrorMessage(c.get())), {}};
    if (!PQsendQuery(c.get(), sql.c_str())) return {trimmed(PQerrorMessage(c.get())), {}};
    const auto deadline = steady::now() + std::chrono::seconds(k_wait_s);
    pg_rows out;
    while (true) {
        while (PQisBusy(c.get())) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - steady::now()).count();
            pollfd p{PQsocket(c.get()), POLLIN, 0};
            if (left <= 0 || ::poll(&p, 1, static_cast<int>(left)) == 0)
                return {"no answer within " + std::to_string(k_wait_s) + " s to " + sql, {}};
            if (!PQconsumeInput(c.get())) return {trimmed(PQerrorMessage(c.get())), {}};
        }
        PGresult* r = PQgetResult(c.get());
        if (!r) break;
        if (PQresultStatus(r) == PGRES_TUPLES_OK) {
            out.rows.assign(PQntuples(r), {});
            for (int i = 0; i < PQntuples(r); ++i)
                for (int j = 0; j < PQnfields(r); ++j) out.rows[i].emplace_back(PQgetvalue(r, i, j));
        } else if (PQresultStatus(r) != PGRES_COMMAND_OK && out.error.empty()) {
            out.error = trimmed(PQresultErrorMessage(r));
        }
        PQclear(r);
    }
    return out;
}

std::string throwaway_pg::conninfo(const std::string& db) const
{
    return "host=" + quoted(dir_, '\'') + " port=" + std::to_string(port_) +
           " user=fernwick dbname=" + quoted(db, '\'');
}

std::string throwaway_pg::tcp_conninfo(const std::string& db, int tcp_port) const
{
    return "host=127.0.0.1 port=" + std::to_string(tcp_port ? tcp_port : port_) +
           " user=fernwick dbname=" + quoted(db, '\'');
}

std::string throwaway_pg::log() const { return read_text(dir_ + "/server.log"); }

}  // namespace fernwick::e2e
