#pragma once
// The pieces of the fault matrix: the log texts fernwick-cli prints (its
// CR LF line ends as newlines), mirel-sim's trace, and cases played side by side.

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <functional>
#include <future>
#include <optional>
#include <string>
#include <vector>

#include "support_board.h"

namespace fernwick::e2e::matrix {

inline const std::string k_restart = "     Please Re-Start the Fernwick !";
inline const std::string k_sectors = "Sector 0: 0010\nSector 1: 0111\nSector 2: 0212\nSector 3: 0313\n";

// Lines framed by stars (an error) or by bars (a notice).
std::string error_block(const std::vector<std::string>& lines);
std::string notice_block(const std::vector<std::string>& lines);
// An error line, a blank line and the Re-Start advice.
std::string failure_block(const std::string& message);
std::string time_out_block();  // the reply engine's time-out

enum class stage { zero_byte, loader, main_program, ready };
// The bring-up log up to `until`; `identification` replaces the line of a
// recognised identification byte.
std::string bring_up(stage until = stage::ready, const std::optional<std::string>& identification = std::nullopt);

// The programming summary (counts and time) cut off the end of the output.
std::string without_summary(const std::string& out);

// Waits (bounded) until a trace line ends in `event`, so a board that never
// settles fails the case instead of hanging it.
bool wait_for_event(const std::string& trace_path, const std::string& event);
// The bytes from the host traced before the first line ending in `event`.
std::size_t host_bytes_before(const std::string& trace, const std::string& event);

// Plays every case on `workers` threads, the slow ones first; the outcomes in the cases' order.
template <class Case, class Outcome>
std::vector<Outcome> play_side_by_side(const std::vector<Case>& cases, const std::function<bool(const Case&)>& slow,
                                       const std::function<Outcome(const Case&)>& play, int workers = 6)
{
    std::vector<std::size_t> order(cases.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::stable_partition(order.begin(), order.end(), [&](std::size_t i) { return slow(cases[i]); });
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
