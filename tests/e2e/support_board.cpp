#include "support_board.h"

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <spawn.h>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

namespace fernwick::e2e {

namespace {

using steady = std::chrono::steady_clock;

struct pipe_ends {
    int read = -1, write = -1;
    pipe_ends()
    {
        // Close-on-exec so no other thread's child keeps the pipe open.
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe2");
        read = fds[0], write = fds[1];
    }
};

// Starts argv with its stdout and stderr on the given pipes; -1 if it could not.
pid_t spawn(const std::vector<std::string>& argv, const pipe_ends& out, const pipe_ends* err)
{
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out.write, STDOUT_FILENO);
    if (err) posix_spawn_file_actions_adddup2(&actions, err->write, STDERR_FILENO);
    pid_t pid = -1;
    if (::posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    ::close(out.write);
    if (err) ::close(err->write);
    return pid;
}

// Reads both pipes until they close or the deadline passes; false then.
bool drain(int out_fd, int err_fd, run_result& r, steady::time_point deadline)
{
    pollfd fds[2] = {{out_fd, POLLIN, 0}, {err_fd, POLLIN, 0}};
    std::string* sinks[2] = {&r.out, &r.err};
    for (int open_fds = 2; open_fds > 0;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - steady::now()).count();
        if (left <= 0) return false;
        if (::poll(fds, 2, static_cast<int>(std::min<long long>(left, 1000))) <= 0) continue;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP))) continue;
            char buf[4096];
            const auto n = ::read(fds[i].fd, buf, sizeof buf);
            if (n > 0) sinks[i]->append(buf, static_cast<std::size_t>(n));
            else fds[i].fd = -1, --open_fds;
        }
    }
    return true;
}

}  // namespace

std::string binary(const std::string& name) { return std::string(FERNWICK_BINARY_DIR) + "/" + name; }

simulated_board::simulated_board(const std::vector<std::string>& options)
{
    pipe_ends out;
    std::vector<std::string> argv{binary("mirel-sim")};
    argv.insert(argv.end(), options.begin(), options.end());
    pid_ = spawn(argv, out, nullptr);
    // mirel-sim's first line names its pseudo-terminal.
    for (char c = 0; ::read(out.read, &c, 1) == 1 && c != '\n';) device_ += c;
    ::close(out.read);
    if (device_.empty()) throw std::runtime_error("mirel-sim printed no device");
}

simulated_board::~simulated_board() { stop(); }

void simulated_board::press_reset() const { ::kill(pid_, SIGUSR1); }

int simulated_board::stop()
{
    if (pid_ <= 0) return -1;
    ::kill(pid_, SIGTERM);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

run_result run(const std::vector<std::string>& argv, int timeout_s)
{
    pipe_ends out, err;
    const pid_t pid = spawn(argv, out, &err);
    run_result r;
    const bool ended = pid > 0 && drain(out.read, err.read, r, steady::now() + std::chrono::seconds(timeout_s));
    ::close(out.read);
    ::close(err.read);
    if (pid <= 0) return r;
    if (!ended) ::kill(pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
    r.status = ended && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (!ended) r.err += "(killed: no end within " + std::to_string(timeout_s) + " s)";
    return r;
}

std::string temp_dir()
{
    char name[] = "/tmp/fernwick-e2e-XXXXXX";
    if (!::mkdtemp(name)) throw std::runtime_error("mkdtemp");
    return name;
}

std::string read_file(const std::string& path)
{
    std::ostringstream text;
    text << std::ifstream(path, std::ios::binary).rdbuf();
    return text.str();
}

void write_file(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

}  // namespace fernwick::e2e
