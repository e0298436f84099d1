#include "support_board.h"

#include <chrono>
#include <csignal>
#include <ctime>
#include <cstdlib>
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

std::vector<char*> c_args(const std::vector<std::string>& argv)
{
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    return args;
}

// Reads both pipes until they close or the deadline passes; false then.
bool drain(int out_fd, int err_fd, run_result& r, steady::time_point deadline)
{
    pollfd fds[2] = {{out_fd, POLLIN, 0}, {err_fd, POLLIN, 0}};
    std::string* sinks[2] = {&r.out, &r.err};
    int open_fds = 2;
    while (open_fds > 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - steady::now()).count();
        if (left <= 0) return false;
        if (::poll(fds, 2, static_cast<int>(std::min<long long>(left, 1000))) <= 0) continue;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP))) continue;
            char buf[4096];
            const auto n = ::read(fds[i].fd, buf, sizeof buf);
            if (n > 0) {
                sinks[i]->append(buf, static_cast<std::size_t>(n));
            } else {
                fds[i].fd = -1;
                --open_fds;
            }
        }
    }
    return true;
}

}  // namespace

std::string binary(const std::string& name) { return std::string(FERNWICK_BINARY_DIR) + "/" + name; }

simulated_board::simulated_board(const std::vector<std::string>& options)
{
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe2");
    std::vector<std::string> argv{binary("mirel-sim")};
    argv.insert(argv.end(), options.begin(), options.end());
    pid_ = ::fork();
    if (pid_ == 0) {
        ::dup2(out[1], STDOUT_FILENO);
        ::close(out[0]);
        ::execv(argv[0].c_str(), c_args(argv).data());
        ::_exit(127);
    }
    ::close(out[1]);
    char c = 0;
    while (::read(out[0], &c, 1) == 1 && c != '\n') device_ += c;
    ::close(out[0]);
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
    int out[2];
    int err[2];
    if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) throw std::runtime_error("pipe2");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
    auto args = c_args(argv);
    pid_t pid = -1;
    const int spawn_error = ::posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    ::close(err[1]);
    run_result r;
    const bool ended = spawn_error == 0 && drain(out[0], err[0], r, steady::now() + std::chrono::seconds(timeout_s));
    ::close(out[0]);
    ::close(err[0]);
    if (spawn_error != 0) return r;
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
    const char* dir = ::mkdtemp(name);
    if (!dir) throw std::runtime_error("mkdtemp");
    return dir;
}

std::string read_file(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void write_file(const std::string& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary) << text;
}

}  // namespace fernwick::e2e
