#include "pty_board.h"

#include "pty_common.h"
#include "pty_line_rate.h"

#include <poll.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <iterator>

namespace fernwick::sim {
namespace {

constexpr chip_model::micros k_micros_per_ms = 1000;

}  // namespace

pty_board::pty_board(const sim_options& options)
    : options_(options), chip_(std::make_unique<chip_model>(options.chip)), start_ns_(monotonic_ns())
{
}

pty_board::~pty_board() { close_master(master_, options_.link_path); }

bool pty_board::open(std::string& error)
{
    master_ = open_master(device_, options_.trace_path, trace_, options_.link_path, error);
    if (master_ < 0) return false;
    trace(0, "reset (start)");
    return true;
}

pty_board::micros pty_board::now_us() const { return (monotonic_ns() - start_ns_) / 1000; }

void pty_board::run(int signal_fd)
{
    short master_events = 0;  // what the last poll saw on the master
    for (;;) {
        const micros now = now_us();
        serve(now, master_events);
        const bool watch_master = master_ >= 0 && !host_closed_;
        const auto wanted = static_cast<short>(POLLIN | (backlog_.empty() ? 0 : POLLOUT));
        pollfd fds[2] = {{signal_fd, POLLIN, 0}, {master_, wanted, 0}};
        // To the microsecond: the chip's answers leave when the line lets them.
        const auto wait = poll_timeout(now);
        const timespec span{static_cast<time_t>(wait / 1'000'000), static_cast<long>(wait % 1'000'000 * 1000)};
        if (ppoll(fds, watch_master ? 2 : 1, wait < 0 ? nullptr : &span, nullptr) < 0 && errno != EINTR) return;
        master_events = watch_master ? fds[1].revents : 0;
        if ((fds[0].revents & POLLIN) && !handle_signal(signal_fd)) return;
    }
}

void pty_board::serve(micros now, short master_events)
{
    watch_host(now, master_events);
    pass_answers(now);
    // The device goes, and its link with it, as udev's link of an adapter
    // unplugged: left in place it would lead to the next device of its number.
    if (chip_->link_dropped() && master_ >= 0) {
        trace(now, "line dropped");
        close_master(master_, options_.link_path);
    }
}

// The master hangs up only when no process has the device open, so the
// simulator never opens it itself. While the host has the device closed the
// master is left out of the main poll and looked at here.
void pty_board::watch_host(micros now, short events)
{
    if (master_ < 0) return;
    if (host_closed_) {
        pollfd p{master_, POLLIN, 0};
        poll(&p, 1, 0);
        events = p.revents;
    }
    if (events & POLLIN) read_host(now);
    if (events & POLLHUP) {
        if (!host_closed_) {
            host_closed_ = true;
            closed_since_ = now;
            reset_for_close_ = false;
            backlog_.clear();
        }
        if (options_.reset_on_close && !reset_for_close_ &&
            now - closed_since_ >= k_reset_after_close_ms * k_micros_per_ms) {
            reset_board(now, "port closed");
            reset_for_close_ = true;
        }
    } else {
        host_closed_ = false;
    }
}

void pty_board::read_host(micros now)
{
    char buffer[1024];
    for (;;) {
        const auto n = ::read(master_, buffer, sizeof buffer);
        if (n <= 0) return;
        const std::string_view bytes(buffer, static_cast<std::size_t>(n));
        if (options_.follow_line_rate) follow_line_rate(now);
        if (trace_.is_open()) trace(now, "host" + hex_of(bytes) + (taken_out_ ? " (no board)" : ""));
        if (!taken_out_) chip_->receive_at(bytes, now);
        // A short read took all there was; the next poll sees what comes.
        if (static_cast<std::size_t>(n) < sizeof buffer) return;
    }
}

// The host may set another rate whenever it opens the device, so the rate
// is read before each batch of its bytes: one ioctl, no more.
void pty_board::follow_line_rate(micros now)
{
    const int rate = host_line_rate(master_).value_or(0);
    if (rate == chip_->config().timing.line_rate) return;
    chip_->set_line_rate(rate);
    trace(now, "line rate " + std::to_string(rate));
}

// Answers that come while the host has the device closed are lost, as on a
// line with no one listening; kept, they would greet the next opener.
void pty_board::pass_answers(micros now)
{
    for (const auto& w : chip_->take_output_at(now)) {
        if (trace_.is_open()) trace(now, "chip" + hex_of(w.bytes) + (host_closed_ ? " (lost: port closed)" : ""));
        if (!host_closed_) backlog_ += w.bytes;
    }
    write_backlog();
}

void pty_board::write_backlog()
{
    while (!backlog_.empty() && master_ >= 0) {
        const auto n = ::write(master_, backlog_.data(), backlog_.size());
        if (n <= 0) return;
        backlog_.erase(0, static_cast<std::size_t>(n));
    }
}

void pty_board::reset_board(micros now, const char* why)
{
    chip_->board_reset();
    trace(now, std::string("reset (") + why + ")");
}

bool pty_board::handle_signal(int signal_fd)
{
    signalfd_siginfo info{};
    if (::read(signal_fd, &info, sizeof info) != sizeof info) return true;
    if (info.ssi_signo == SIGUSR2) {
        if (taken_out_)
            put_in(now_us());
        else
            take_out(now_us());
        return true;
    }
    if (info.ssi_signo != SIGUSR1) return false;
    if (!taken_out_) reset_board(now_us(), "button");
    return true;
}

bool pty_board::preload(std::string& error)
{
    if (options_.preload_path.empty()) return true;
    std::ifstream in(options_.preload_path, std::ios::binary);
    const std::vector<std::uint8_t> image{std::istreambuf_iterator<char>(in), {}};
    if (!in.bad() && chip_->flash().load(image)) return true;
    error = options_.preload_path + " is not a flash image of " + std::to_string(k_flash_size) + " bytes";
    return false;
}

bool pty_board::dump_flash()
{
    if (options_.dump_path.empty()) return true;
    const auto path = options_.dump_path + (board_number_ > 1 ? "." + std::to_string(board_number_) : "");
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    const auto& image = chip_->flash().image();
    out.write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
    out.close();
    if (out) return true;
    std::fprintf(stderr, "mirel-sim: cannot write %s\n", path.c_str());
    return false;
}

// Its flash is kept as it was when it left; what the host sends then reaches
// no chip.
void pty_board::take_out(micros now)
{
    trace(now, "board " + std::to_string(board_number_) + " taken out");
    dump_flash();
    taken_out_ = true;
    backlog_.clear();
    if (!options_.fixed_adapter) close_master(master_, options_.link_path);
}

void pty_board::put_in(micros now)
{
    ++board_number_;
    chip_ = std::make_unique<chip_model>(options_.chip);
    std::string error;
    if (!preload(error)) std::fprintf(stderr, "mirel-sim: %s\n", error.c_str());
    taken_out_ = false;
    if (master_ < 0) {
        std::ofstream no_trace;  // the trace goes on in the file opened at start
        master_ = open_master(device_, {}, no_trace, options_.link_path, error);
        if (master_ < 0) std::fprintf(stderr, "mirel-sim: %s\n", error.c_str());
        host_closed_ = false;
        std::printf("%s\n", device_.c_str());
        std::fflush(stdout);
    }
    trace(now, "board " + std::to_string(board_number_) + " put in");
}

pty_board::micros pty_board::poll_timeout(micros now) const
{
    micros timeout = -1;
    const auto sooner = [&timeout, now](micros at) {
        const micros wait = std::max<micros>(at - now, 0);
        timeout = timeout < 0 ? wait : std::min(timeout, wait);
    };
    if (const auto next = chip_->next_event_at()) sooner(*next);
    if (host_closed_) sooner(now + k_closed_recheck_ms * k_micros_per_ms);
    return timeout;
}

void pty_board::trace(micros now, const std::string& what)
{
    if (!trace_.is_open()) return;
    trace_ << now / k_micros_per_ms << ' ' << what << '\n';
    trace_.flush();
}

}  // namespace fernwick::sim
