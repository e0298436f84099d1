#include "pty_replay.h"

#include "pty_common.h"

#include <poll.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <sstream>

namespace fernwick::sim {
namespace {

std::optional<std::string> read_text(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace

pty_replay::pty_replay(const sim_options& options, replay_script script)
    : options_(options), player_(std::move(script)), start_ns_(monotonic_ns())
{
}

pty_replay::~pty_replay() { close_master(master_, options_.link_path); }

bool pty_replay::open(std::string& error)
{
    master_ = open_master(device_, options_.trace_path, trace_, options_.link_path, error);
    if (master_ < 0) return false;
    trace(0, "replay of " + options_.replay_path + " (start)");
    return true;
}

long long pty_replay::now_ms() const { return (monotonic_ns() - start_ns_) / 1'000'000; }

void pty_replay::run(int signal_fd)
{
    for (;;) {
        const long long now = now_ms();
        watch_host(now);
        play(now);
        const auto master_events = static_cast<short>(POLLIN | (backlog_.empty() ? 0 : POLLOUT));
        pollfd fds[2] = {{signal_fd, POLLIN, 0}, {master_, master_events, 0}};
        if (poll(fds, host_closed_ ? 1 : 2, poll_timeout(now)) < 0 && errno != EINTR) return;
        if (!(fds[0].revents & POLLIN)) continue;
        signalfd_siginfo info{};
        if (::read(signal_fd, &info, sizeof info) != sizeof info) continue;
        if (info.ssi_signo == SIGUSR2) continue;  // a replay plays one board's bytes: none is taken out
        if (info.ssi_signo != SIGUSR1) return;
        trace(now_ms(), "reset (button): the replay goes on");
    }
}

// The master hangs up only when no process has the device open, so the
// replay never opens it itself.
void pty_replay::watch_host(long long now)
{
    pollfd p{master_, POLLIN, 0};
    poll(&p, 1, 0);
    if (p.revents & POLLIN) read_host(now);
    const bool closed = p.revents & POLLHUP;
    // Bytes not taken when the host closes are lost, as on the board.
    if (closed && !host_closed_) backlog_.clear();
    host_closed_ = closed;
}

void pty_replay::read_host(long long now)
{
    char buffer[1024];
    for (;;) {
        const auto n = ::read(master_, buffer, sizeof buffer);
        if (n <= 0) return;
        const std::string_view bytes(buffer, static_cast<std::size_t>(n));
        trace(now, "host" + hex_of(bytes));
        for (const auto& warning : player_.host_wrote(bytes, now))
            std::fprintf(stderr, "mirel-sim: replay: %s\n", warning.c_str());
    }
}

// One write per answer, as the host read them; answers wait while the host
// has the device closed, since it read each of them with the device open.
void pty_replay::play(long long now)
{
    if (host_closed_) return;
    write_backlog();
    while (backlog_.empty()) {
        auto answer = player_.take_due(now);
        if (!answer) return;
        trace(now, "chip" + hex_of(*answer));
        backlog_ = std::move(*answer);
        write_backlog();
    }
}

void pty_replay::write_backlog()
{
    while (!backlog_.empty()) {
        const auto n = ::write(master_, backlog_.data(), backlog_.size());
        if (n <= 0) return;
        backlog_.erase(0, static_cast<std::size_t>(n));
    }
}

int pty_replay::poll_timeout(long long now) const
{
    int timeout = -1;
    // With a backlog the poll waits for room instead.
    if (const auto due = player_.next_due_ms(); due && backlog_.empty())
        timeout = static_cast<int>(std::clamp(*due - now, 0LL, static_cast<long long>(INT_MAX)));
    if (host_closed_) timeout = timeout < 0 ? k_closed_recheck_ms : std::min(timeout, k_closed_recheck_ms);
    return timeout;
}

void pty_replay::trace(long long now, const std::string& what)
{
    if (!trace_.is_open()) return;
    trace_ << now << ' ' << what << '\n';
    trace_.flush();
}

int run_replay(const sim_options& options, int signal_fd)
{
    if (!options.preload_path.empty() || !options.dump_path.empty()) {
        std::fprintf(stderr, "mirel-sim: a replay has no flash to --preload or --dump\n");
        return 2;
    }
    const auto text = read_text(options.replay_path);
    if (!text) {
        std::fprintf(stderr, "mirel-sim: cannot read %s\n", options.replay_path.c_str());
        return 1;
    }
    auto parsed = parse_trace(*text);
    if (!parsed.script) {
        std::fprintf(stderr, "mirel-sim: %s: %s\n", options.replay_path.c_str(), parsed.error.c_str());
        return 1;
    }
    pty_replay replay(options, std::move(*parsed.script));
    std::string error;
    if (!replay.open(error)) {
        std::fprintf(stderr, "mirel-sim: %s\n", error.c_str());
        return 1;
    }
    std::printf("%s\n", replay.device().c_str());
    std::fflush(stdout);
    replay.run(signal_fd);
    return 0;
}

}  // namespace fernwick::sim
