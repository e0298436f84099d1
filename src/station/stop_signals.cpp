#include "station/stop_signals.h"

#include <unistd.h>
#include <algorithm>
#include <array>
#include <atomic>
#include <csignal>
#include <mutex>
#include <vector>

#include "station/report.h"

namespace fernwick::station {

namespace {

std::atomic<int> g_stop_signal{0};
std::atomic<int> g_stop_fd{-1};
static_assert(std::atomic<int>::is_always_lock_free, "read and written by a signal handler");

// What a second Ctrl-C still says before it quits at once: for each board
// under way, where its bootstrap code lies and that the report misses it.
// Made ready whenever that changes, since a signal handler may only write
// bytes that are ready.
class last_words {
public:
    void set(std::size_t board, std::string line)
    {
        const std::lock_guard lock(mutex_);
        if (lines_.size() <= board) lines_.resize(board + 1);
        lines_[board] = std::move(line);
        std::string text;
        for (const auto& l : lines_) text += l;
        const int next = 1 - ready_.load();
        auto& buffer = buffers_[static_cast<std::size_t>(next)];
        sizes_[static_cast<std::size_t>(next)] = std::min(text.size(), buffer.size());
        std::copy_n(text.begin(), sizes_[static_cast<std::size_t>(next)], buffer.begin());
        ready_.store(next);
    }
    void say() const
    {
        const auto ready = static_cast<std::size_t>(ready_.load());
        [[maybe_unused]] const auto written = ::write(STDERR_FILENO, buffers_[ready].data(), sizes_[ready]);
    }

private:
    std::mutex mutex_;
    std::vector<std::string> lines_;
    std::array<std::array<char, 8192>, 2> buffers_{};
    std::array<std::size_t, 2> sizes_{};
    std::atomic<int> ready_{0};
};

last_words g_last_words;

extern "C" void on_stop_signal(int signal)
{
    int none = 0;
    if (!g_stop_signal.compare_exchange_strong(none, signal)) {
        if (signal == SIGINT) {
            g_last_words.say();
            ::_exit(128 + SIGINT);
        }
        return;
    }
    if (const int fd = g_stop_fd.load(); fd >= 0) {
        [[maybe_unused]] const auto woken = ::write(fd, "s", 1);
    }
    if (signal != SIGINT) return;
    // Said at once, so the operator knows the key was seen; write(2) is all
    // a signal handler may call.
    static const char k_stopping[] =
        "fernwick-cli: stopping after the exchange under way; Ctrl-C again quits at once\n";
    [[maybe_unused]] const auto written = ::write(STDERR_FILENO, k_stopping, sizeof k_stopping - 1);
}

}  // namespace

void stop_on_signals()
{
    struct sigaction action {};
    action.sa_handler = on_stop_signal;
    sigemptyset(&action.sa_mask);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) ::sigaction(signal, &action, nullptr);
}

void tell_code(std::size_t board, const std::string& device, const board_progress& b, const std::string& report)
{
    if (!b.code.known) return;
    std::string line = "fernwick-cli: " + device + ": quit during the run; " + code_line(b.code);
    if (!report.empty()) line += "; the report has no record of it";
    g_last_words.set(board, line + "\n");
}

void forget_code(std::size_t board) { g_last_words.set(board, {}); }

int stop_signal() { return g_stop_signal.load(); }

void wake_on_stop(int fd) { g_stop_fd.store(fd); }

}  // namespace fernwick::station
