#include "support_board.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <utility>

namespace fernwick::e2e {

namespace {

// Starts argv with its output in files rather than pipes, so nothing has to be
// drained while it runs and no other thread's child holds a pipe open; no
// `err` file leaves stderr to the test's; an `out` of "-" is a pipe nobody
// reads. -1 if it could not start.
pid_t spawn(const std::vector<std::string>& argv, const std::string& out, const std::string& err)
{
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    int unread[2] = {-1, -1};
    if (out == "-" && ::pipe2(unread, O_CLOEXEC) == 0) {
        ::close(unread[0]);
        posix_spawn_file_actions_adddup2(&actions, unread[1], STDOUT_FILENO);
    } else {
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    }
    if (!err.empty())
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_t pid = -1;
    if (::posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    if (unread[1] >= 0) ::close(unread[1]);
    return pid;
}

// Waits for the program's end until the deadline; its exit status, or -1 if it
// ended on a signal or did not end (it is killed then).
int wait_until(pid_t pid, std::chrono::steady_clock::time_point deadline,
               std::optional<std::chrono::steady_clock::time_point> stop_at = std::nullopt, int stop_signal = SIGTERM,
               int again_after_ms = 0)
{
    int status = 0;
    while (::waitpid(pid, &status, WNOHANG) == 0) {
        if (stop_at && std::chrono::steady_clock::now() > *stop_at) {
            ::kill(pid, stop_signal);
            stop_at.reset();
            if (again_after_ms)
                stop_at =
                    std::chrono::steady_clock::now() + std::chrono::milliseconds(std::exchange(again_after_ms, 0));
        }
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

bool within(int seconds, const std::function<bool()>& done)
{
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (!done())
        if (std::chrono::steady_clock::now() > until)
            return false;
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return true;
}

std::string binary(const std::string& name) { return std::string(FERNWICK_BINARY_DIR) + "/" + name; }

simulated_board::simulated_board(const std::vector<std::string>& options)
{
    const auto out = temp_dir() + "/board.out";
    std::vector<std::string> argv{binary("mirel-sim")};
    argv.insert(argv.end(), options.begin(), options.end());
    pid_ = spawn(argv, out, "");
    // mirel-sim's first line names its pseudo-terminal.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    std::string text;
    while ((text = read_file(out)).find('\n') == std::string::npos && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    device_ = text.substr(0, text.find('\n'));
    if (device_.empty()) throw std::runtime_error("mirel-sim printed no device");
}

simulated_board::~simulated_board() { stop(); }

void simulated_board::press_reset() const { ::kill(pid_, SIGUSR1); }

void simulated_board::take_out_or_put_in() const
{
    ::kill(pid_, SIGUSR2);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
}

int simulated_board::stop()
{
    if (pid_ <= 0) return -1;
    ::kill(pid_, SIGTERM);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

run_result run(const std::vector<std::string>& argv, int timeout_s, bool reader_gone, int stop_after_ms,
               int stop_signal, int again_after_ms)
{
    const auto dir = temp_dir();
    const auto now = std::chrono::steady_clock::now();
    const pid_t pid = spawn(argv, reader_gone ? "-" : dir + "/out", dir + "/err");
    if (pid <= 0) return {};
    std::optional<std::chrono::steady_clock::time_point> stop_at;
    if (stop_after_ms > 0) stop_at = now + std::chrono::milliseconds(stop_after_ms);
    run_result r{wait_until(pid, now + std::chrono::seconds(timeout_s), stop_at, stop_signal, again_after_ms),
                 read_file(dir + "/out"), read_file(dir + "/err")};
    std::filesystem::remove_all(dir);
    if (r.status == -1) r.err += "(no normal end within " + std::to_string(timeout_s) + " s)";
    return r;
}

started_program::started_program(const std::vector<std::string>& argv)
    : dir_(temp_dir()), pid_(spawn(argv, dir_ + "/out", dir_ + "/err"))
{
}

started_program::~started_program()
{
    if (pid_ > 0 && !ended()) wait(0);
}

void started_program::signal(int number) const
{
    if (pid_ > 0 && !status_) ::kill(pid_, number);
}

std::string started_program::said() const { return read_file(dir_ + "/out") + read_file(dir_ + "/err"); }

bool started_program::ended()
{
    int status = 0;
    if (pid_ > 0 && !status_ && ::waitpid(pid_, &status, WNOHANG) == pid_)
        status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return pid_ <= 0 || status_.has_value();
}

run_result started_program::wait(int timeout_s)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeout_s);
    while (!ended() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    if (!ended()) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
        status_ = -1;
    }
    run_result r{status_.value_or(-1), read_file(dir_ + "/out"), read_file(dir_ + "/err")};
    if (r.status == -1) r.err += "(no normal end within " + std::to_string(timeout_s) + " s)";
    return r;
}

std::string temp_dir()
{
    // Removed when the test program ends: a case that fails halfway leaves nothing behind either.
    static struct made_folders {
        std::mutex lock;
        std::vector<std::string> paths;
        ~made_folders()
        {
            std::error_code ignored;
            for (const auto& p : paths) std::filesystem::remove_all(p, ignored);
        }
    } made;
    auto name = (std::filesystem::temp_directory_path() / "fernwick-e2e-XXXXXX").string();
    if (!::mkdtemp(name.data())) throw std::runtime_error("mkdtemp " + name);
    const std::lock_guard hold(made.lock);
    made.paths.push_back(name);
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
