#pragma once
// The pieces of the fault matrix: the log texts fernwick-cli prints (its
// CR LF line ends as newlines), mirel-sim's trace, a program run that many
// threads may start at once, and cases played side by side.

#include <atomic>
#include <cstddef>
#include <functional>
#include <future>
#include <optional>
#include <string>
#include <vector>

#include "support_board.h"

namespace fernwick::e2e::matrix {

// --- the log as fernwick-cli prints it --------------------------------------

std::string error_block(const std::vector<std::string>& lines);
std::string notice_block(const std::vector<std::string>& lines);
std::string line_with_break(const std::string& text);

std::string restart_advice();          // "     Please Re-Start the Fernwick !"
std::string reply_time_out_block();    // the reply engine's time-out
std::string flash_failure_block(const std::string& message);

// The bring-up lines from the zero byte to the first-level loader, and on to
// "Main program sent"; `identification` replaces the line of a recognised
// identification byte.
std::string zero_byte_line();
std::string loader_lines(const std::optional<std::string>& identification = std::nullopt);
std::string bring_up_lines(const std::optional<std::string>& identification = std::nullopt);
std::string ready_block();
// What a status reading of the default board prints after the bring-up.
std::string sector_lines();
// A whole healthy `status` run.
std::string healthy_status();

// The programming summary (counts and time) cut off the end of the output.
std::string without_summary(const std::string& out);

// --- mirel-sim's trace --------------------------------------------------------

// Waits until the trace holds `count` lines ending in `event` (bounded, so a
// board that never settles fails the case instead of hanging it).
bool wait_for_event(const std::string& trace_path, const std::string& event, int count = 1);
// The bytes from the host traced before the first line ending in `event`.
std::size_t host_bytes_before(const std::string& trace, const std::string& event);

// --- cases side by side -------------------------------------------------------

// Plays every case on `workers` threads, the cases that wait long first;
// the outcomes in the cases' order.
template <class Case, class Outcome>
std::vector<Outcome> play_side_by_side(const std::vector<Case>& cases, const std::function<bool(const Case&)>& slow,
                                       const std::function<Outcome(const Case&)>& play, int workers = 6)
{
    std::vector<std::size_t> order;
    for (std::size_t i = 0; i < cases.size(); ++i)
        if (slow(cases[i])) order.push_back(i);
    for (std::size_t i = 0; i < cases.size(); ++i)
        if (!slow(cases[i])) order.push_back(i);
    std::vector<Outcome> outcomes(cases.size());
    std::atomic<std::size_t> next{0};
    std::vector<std::future<void>> running;
    for (int w = 0; w < workers; ++w)
        running.push_back(std::async(std::launch::async, [&] {
            for (std::size_t k = next++; k < order.size(); k = next++) outcomes[order[k]] = play(cases[order[k]]);
        }));
    for (auto& r : running) r.get();
    return outcomes;
}

}  // namespace fernwick::e2e::matrix
