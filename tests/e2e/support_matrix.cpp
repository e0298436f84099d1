#include "support_matrix.h"

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace fernwick::e2e::matrix {

namespace {

const std::string k_star(37, '*');
const std::string k_bar(155, '|');

std::string framed(const std::string& frame, const std::vector<std::string>& lines)
{
    std::string text = "\n" + frame;
    for (const auto& l : lines) text += "\n" + l;
    return text + "\n" + frame + "\n";
}

using steady = std::chrono::steady_clock;

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

int count_events(const std::string& trace, const std::string& event)
{
    std::istringstream lines(trace);
    int count = 0;
    for (std::string line; std::getline(lines, line);) count += line.ends_with(event) ? 1 : 0;
    return count;
}

}  // namespace

std::string error_block(const std::vector<std::string>& lines) { return framed(k_star, lines); }
std::string notice_block(const std::vector<std::string>& lines) { return framed(k_bar, lines); }
std::string line_with_break(const std::string& text) { return "\n" + text + "\n"; }

std::string restart_advice() { return "     Please Re-Start the Fernwick !"; }

std::string reply_time_out_block()
{
    return error_block({"     TimeOut Error !",
                        "     I was waiting for a byte from the microcontroller that I didn't receive !",
                        restart_advice()});
}

std::string flash_failure_block(const std::string& message) { return error_block({message, "", restart_advice()}); }

std::string zero_byte_line() { return line_with_break("     Sending the zero byte to the uC... "); }

std::string loader_lines(const std::optional<std::string>& identification)
{
    return zero_byte_line() +
           identification.value_or(line_with_break("     Identification byte from the Mirel received")) +
           line_with_break("     First level loader routine to the uC (32 bytes) sent");
}

std::string bring_up_lines(const std::optional<std::string>& identification)
{
    return loader_lines(identification) +
           line_with_break("     The uC is ready for downloading the main program ...") +
           line_with_break("     Main program sent");
}

std::string ready_block()
{
    return "\n\n" + k_bar + "\n\n                       The uC is ready for receiving commands from you ...\n\n" + k_bar +
           "\n\n";
}

std::string sector_lines() { return "Sector 0: 0010\nSector 1: 0111\nSector 2: 0212\nSector 3: 0313\n"; }

std::string healthy_status() { return bring_up_lines() + ready_block() + sector_lines(); }

std::string without_summary(const std::string& out)
{
    const auto at = out.rfind("\nBlocks sent: ");
    return at == std::string::npos ? out : out.substr(0, at + 1);
}

bool wait_for_event(const std::string& trace_path, const std::string& event, int count)
{
    const auto deadline = steady::now() + std::chrono::seconds(10);
    while (count_events(read_file(trace_path), event) < count) {
        if (steady::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

std::size_t host_bytes_before(const std::string& trace, const std::string& event)
{
    std::istringstream lines(trace);
    std::size_t bytes = 0;
    for (std::string line; std::getline(lines, line) && !line.ends_with(event);) {
        std::istringstream words(line);
        std::string ms, who, byte;
        words >> ms >> who;
        if (who != "host") continue;
        while (words >> byte) ++bytes;
    }
    return bytes;
}

run_result run_alone(const std::vector<std::string>& argv, int timeout_s)
{
    int out[2];
    int err[2];
    if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) throw std::runtime_error("pipe2");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
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

}  // namespace fernwick::e2e::matrix
