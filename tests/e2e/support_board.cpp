#include "support_board.h"

#include <csignal>
#include <ctime>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

namespace fernwick::e2e {

namespace {

std::vector<char*> c_args(const std::vector<std::string>& argv)
{
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    return args;
}

// Reads everything from the fds until both close or the deadline passes.
void drain(int out_fd, int err_fd, run_result& r, int timeout_s)
{
    pollfd fds[2] = {{out_fd, POLLIN, 0}, {err_fd, POLLIN, 0}};
    std::string* sinks[2] = {&r.out, &r.err};
    int open_fds = 2;
    const auto deadline = std::time(nullptr) + timeout_s;
    while (open_fds > 0 && std::time(nullptr) < deadline) {
        if (::poll(fds, 2, 1000) <= 0) continue;
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
}

}  // namespace

std::string binary(const std::string& name) { return std::string(FERNWICK_BINARY_DIR) + "/" + name; }

simulated_board::simulated_board(const std::vector<std::string>& options)
{
    int out[2];
    if (::pipe(out) != 0) throw std::runtime_error("pipe");
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
    if (::pipe(out) != 0 || ::pipe(err) != 0) throw std::runtime_error("pipe");
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(out[1], STDOUT_FILENO);
        ::dup2(err[1], STDERR_FILENO);
        ::close(out[0]);
        ::close(err[0]);
        ::execv(argv[0].c_str(), c_args(argv).data());
        ::_exit(127);
    }
    ::close(out[1]);
    ::close(err[1]);
    run_result r;
    drain(out[0], err[0], r, timeout_s);
    ::close(out[0]);
    ::close(err[0]);
    ::kill(pid, SIGKILL);  // no effect once it has ended
    int status = 0;
    ::waitpid(pid, &status, 0);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
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
