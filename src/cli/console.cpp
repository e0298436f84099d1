#include "cli/console.h"

#include <unistd.h>
#include <algorithm>
#include <iomanip>
#include <iostream>
#include <sstream>
#include <utility>

#include "core/progress_text.h"

#ifndef _WIN32
#include <sys/ioctl.h>
#endif

namespace fernwick::cli {

namespace {

// One board's place on the screen: phase, block n of m, sector, time left,
// percent.
std::string progress_line(const std::string& device, const board_progress& b, std::size_t device_width)
{
    std::ostringstream line;
    line << std::left << std::setw(static_cast<int>(device_width)) << device << "  " << std::setw(9) << b.phase;
    if (b.attempt > 1) line << "  attempt " << b.attempt << " of " << b.attempts_allowed;
    const auto& p = b.progress;
    const bool ended = b.phase == "ok" || b.phase == "failed" || b.phase == "stopped";
    if (ended)
        line << "  " << p.blocks_done << " of " << p.blocks_total << " blocks sent";
    else if (p.blocks_total > 0)
        line << "  " << core::progress_text(p, std::chrono::steady_clock::now()) << "  (" << core::progress_percent(p)
             << " %)";
    return line.str();
}

}  // namespace

int terminal_width()
{
#ifndef _WIN32
    winsize w{};
    if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &w) == 0 && w.ws_col > 20) return w.ws_col;
#endif
    return 80;
}

void erase_lines(std::size_t& drawn)
{
    if (drawn == 0) return;
    if (drawn > 1) std::cout << "\033[" << drawn - 1 << 'A';
    std::cout << "\r\033[J";
    drawn = 0;
}

std::string fitted_to_terminal(std::string line)
{
    const auto width = static_cast<std::size_t>(terminal_width() - 1);
    if (line.size() > width) line.resize(width);
    return line;
}

console::console(std::vector<std::string> devices, bool live)
    : devices_(std::move(devices)), live_(live), boards_(devices_.size())
{
    for (const auto& d : devices_) device_width_ = std::max(device_width_, d.size());
}

void console::log_line(std::size_t board, const std::string& line)
{
    std::lock_guard lock(mutex_);
    if (single()) {
        erase_live();
        std::cout << line << '\n';
        draw_live();
    } else if (!live_) {
        std::cout << devices_[board] << ": " << line << '\n';
    }
    std::cout.flush();
}

void console::progress(std::size_t board, const board_progress& b)
{
    std::lock_guard lock(mutex_);
    auto& was = boards_[board];
    const auto& p = b.progress;
    // The plain output tells a sector's progress in tenths, not at every block.
    const auto tenth = [](const core::progress_state& q) {
        return q.blocks_total > 0 ? 10 * q.blocks_done / q.blocks_total : -1;
    };
    const bool worth_a_line = b.phase != was.phase || tenth(p) != tenth(was.progress);
    was = b;
    if (!live_ && !single() && worth_a_line && p.blocks_total > 0 && b.phase != "bring-up")
        std::cout << devices_[board] << ": " << progress_line("", b, 0).substr(2) << '\n' << std::flush;
}

void console::redraw()
{
    std::lock_guard lock(mutex_);
    erase_live();
    draw_live();
    std::cout.flush();
}

void console::finish()
{
    std::lock_guard lock(mutex_);
    if (!live_) return;
    erase_live();
    if (!single()) {
        for (std::size_t i = 0; i < devices_.size(); ++i)
            std::cout << fitted_to_terminal(progress_line(devices_[i], boards_[i], device_width_)) << '\n';
    }
    std::cout.flush();
}

void console::erase_live()
{
    if (live_) erase_lines(drawn_);
}

void console::draw_live()
{
    if (!live_) return;
    std::vector<std::string> lines;
    for (std::size_t i = 0; i < devices_.size(); ++i) {
        // The log tells the bring-up, but not how long a wait for the board goes on.
        if (single() && boards_[i].progress.blocks_total == 0 && boards_[i].phase != "waiting for the board") continue;
        lines.push_back(fitted_to_terminal(progress_line(devices_[i], boards_[i], device_width_)));
    }
    for (std::size_t i = 0; i < lines.size(); ++i) std::cout << (i ? "\n" : "") << lines[i];
    drawn_ = lines.size();
}

}  // namespace fernwick::cli
