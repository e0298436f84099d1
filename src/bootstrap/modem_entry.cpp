#include "bootstrap/modem_entry.h"

#include <algorithm>

namespace fernwick::bootstrap {

using core::app_state;

namespace {

// The windows repaint while a long wait goes by.
constexpr int k_pause_slice_ms = 50;

bool run_steps(app_state& s, core::serial_link& link, const core::modem_sequence& sequence)
{
    for (const auto& step : sequence.steps) {
        if (step.lines.dtr || step.lines.rts) {
            if (!link.set_modem_lines(step.lines)) return false;
            continue;
        }
        for (int left = step.wait_ms; left > 0; left -= k_pause_slice_ms) {
            link.pause(std::min(left, k_pause_slice_ms));
            s.keep_alive_now();
        }
    }
    return true;
}

std::vector<std::string> refused_lines(const core::serial_link& link, const std::string& which,
                                       const core::modem_sequence& sequence)
{
    return {"     I couldn't set the modem lines of the port !", "     " + link.error_text(),
            "     " + which + " sequence: " + core::sequence_text(sequence)};
}

// The windows' sequence is fixed at start-up: a Re-Start on the same port
// meets the same refusal, so the block names where the sequence comes from
// and the ways out that work.
void report_refusal(app_state& s, const core::serial_link& link, const std::string& which,
                    const core::modem_sequence& sequence)
{
    auto lines = refused_lines(link, which, sequence);
    const std::string& from = sequence.given_in;
    if (from.empty()) {
        core::error_block_with_restart(s, std::move(lines));
        return;
    }
    const bool option = from.starts_with("--");
    const std::string key = which == "Entry" ? "entry" : "exit";
    lines.push_back(option ? "     given by " + from : "     given by the key " + key + " of " + from);
    lines.insert(lines.end(),
                 {"", "     Re-Start with a port that has modem lines, or " +
                          (option ? "start Fernwick without " + from
                                  : "remove the key " + key + " from " + from + " and start Fernwick again") +
                          " !"});
    core::error_block(s.log(), lines);
}

}  // namespace

bool enter_bootstrap_mode(app_state& s, bool quiet)
{
    const auto& entry = s.bench.entry;
    auto& link = *s.RESETFORM.MSCom0;
    if (entry.empty()) {
        // The exit sequence needs the lines too: found out before the board is
        // touched, not once it is programmed and would stay in its bootstrap mode.
        if (s.bench.exit.empty() || link.set_modem_lines({})) return true;
        report_refusal(s, link, "Exit", s.bench.exit);
        link.close();
        return false;
    }
    if (!quiet) {
        core::fresh_line_with_break(
            s.log(), "     Entering the bootstrap mode by the modem lines: " + core::sequence_text(entry));
        s.repaint_now();
    }
    if (run_steps(s, link, entry)) return true;
    report_refusal(s, link, "Entry", entry);
    link.close();
    return false;
}

void leave_bootstrap_mode(app_state& s)
{
    const auto& exit = s.bench.exit;
    if (exit.empty()) return;
    core::hide_command_menus(s);
    core::line_with_break(s.log(), "     Leaving the bootstrap mode by the modem lines: " + core::sequence_text(exit));
    s.repaint_now();
    if (!run_steps(s, *s.mainform.COM, exit)) core::error_block(s.log(), refused_lines(*s.mainform.COM, "Exit", exit));
}

}  // namespace fernwick::bootstrap
