#include "station/board_session.h"

#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <map>
#include <ostream>
#include <thread>

#include "bootstrap/modem_entry.h"
#include "bootstrap/reset_step.h"
#include "command/commands.h"
#include "core/message_log.h"
#include "core/port_names.h"
#include "core/qt_serial_link.h"
#include "core/qt_ui_timer.h"
#include "core/shared_port.h"
#include "programming/flash_exchange.h"
#include "station/counting_link.h"
#include "station/headless_session.h"
#include "station/programming_flow.h"
#include "station/status_reset_verdict.h"

namespace fernwick::station {

namespace {

using namespace std::chrono;
using result = core::run_record::result;

constexpr auto k_watch_period = milliseconds(100);
constexpr auto k_device_poll = milliseconds(100);
// udev gives a device that just appeared its group a moment later.
constexpr auto k_permission_grace = seconds(2);

void choose_baud(core::app_state& s, int baud)
{
    static const std::map<int, void (*)(core::app_state&)> buttons = {
        {2400, bootstrap::bs_2400_Click},   {4800, bootstrap::bs_4800_Click},   {9600, bootstrap::bs_9600_Click},
        {14400, bootstrap::bs_14400_Click}, {19200, bootstrap::bs_19200_Click},
    };
    buttons.at(baud)(s);
    bootstrap::com1__Click(s);  // the link opens the job's device whatever the port
}

std::string phase_of(const core::app_state& s, bool in_command)
{
    if (!in_command) return s.bench.waited_ms > 0 && !s.id_received ? "waiting for the board" : "bring-up";
    switch (s.run.outcome) {
    case result::succeeded: return "ok";
    case result::failed: return "failed";
    case result::stopped: return "stopped";
    case result::running:
        if (s.run.step == "erase") return "erase";
        return s.run.step == "late-byte check" ? "checking" : s.run.step == "save code" ? "save code" : "program";
    default: return "command";
    }
}

// The chip said nothing at all: most often the board, the wiring or the rate.
std::string no_answer_advice(const board_job& job)
{
    const auto& entry = job.bench.entry;
    return job.device + " at " + std::to_string(job.baud) + " baud: no answer from the chip" +
           (entry.empty() ? ". Usual causes: the board is not in bootstrap mode or was not reset just before"
                          : " after the entry sequence " + core::sequence_text(entry) +
                                ". Usual causes: the sequence does not fit the wiring of reset and the bootstrap pin") +
           ", TX and RX are swapped, or the baud rate is wrong.";
}

// What the run left in the state: the sectors, blocks and bytes, and the
// reason its log gave for a failure.
void read_outcome(board_outcome& o, const core::app_state& s, const std::vector<counting_link*>& links)
{
    o.run = s.run;
    const auto on = sectors_on(s);
    for (int n = 0; n < 4; ++n)
        if (on[static_cast<std::size_t>(n)]) o.sectors.push_back(n);
    o.blocks_sent = s.mainform.progress.blocks_done;
    o.blocks_total = s.mainform.progress.blocks_total;
    o.bytes_sent = links.at(0)->sent;
    o.bytes_received = links.at(0)->received;
    o.reason = s.mainform.dialog.last_error_block();
    o.answer_delay_ms = s.mainform.COM->answer_delay_ms();
}

// The result and exit status, from how far the run got and the verdict of
// its session or of the programming flow.
void decide(board_outcome& o, const core::app_state& s, const board_job& job, bool in_command,
            cli_session::verdict verdict, int flow_status)
{
    using session_verdict = cli_session::verdict;
    if (!in_command) {
        o.run.step = "bring-up";
        o.result = verdict == session_verdict::stopped ? result::stopped : result::failed;
        o.exit_status = 1;
    } else if (job.command != "program") {
        o.result = verdict == session_verdict::succeeded ? result::succeeded : result::failed;
        o.exit_status = o.result == result::succeeded ? 0 : 1;
    } else {
        o.exit_status = flow_status;
        o.result = flow_status == 0                   ? result::succeeded
                   : s.run.outcome == result::stopped ? result::stopped
                                                      : result::failed;
        if (flow_status == 2) o.run.step = "hex file";
    }
}

// Missing, not merely out of reach: a folder the user may not search is said
// by the bring-up at once, never waited on.
bool device_there(const std::string& device)
{
    struct stat info {};
    return ::stat(core::device_path(device).c_str(), &info) == 0 || (errno != ENOENT && errno != ENOTDIR);
}

// --wait with a device that is not there yet (a USB adapter plugged in with
// its board): it is waited for as a silent chip is, up to the same time,
// and the bring-up has what is left of it. False when a stop came first.
bool wait_for_device(const board_job& job, core::app_state& s, const std::function<void(const board_progress&)>& watch)
{
    if (job.bench.wait_ms <= 0 || device_there(job.device)) return true;
    const auto path = core::device_path(job.device);
    core::line_with_break(s.log(), "     Waiting for " + path + " to appear (it is not there yet), up to " +
                                       std::to_string(job.bench.wait_ms / 1000) + " s");
    s.repaint_now();
    if (watch) watch({"waiting for the board", {}, {}});
    const auto began = steady_clock::now();
    std::optional<steady_clock::time_point> appeared;
    while (steady_clock::now() - began < milliseconds(job.bench.wait_ms)) {
        if (s.stop_now()) return false;
        if (!appeared && device_there(job.device)) appeared = steady_clock::now();
        if (appeared &&
            (::access(path.c_str(), R_OK | W_OK) == 0 || steady_clock::now() - *appeared > k_permission_grace))
            break;
        std::this_thread::sleep_for(k_device_poll);
    }
    const auto waited = duration_cast<milliseconds>(steady_clock::now() - began).count();
    if (appeared)
        core::line_with_break(s.log(),
                              "     " + path + " appeared after " + std::to_string((waited + 500) / 1000) + " s");
    // In whole seconds, as the bring-up says its wait; one attempt at least.
    s.bench.wait_ms = static_cast<int>(std::max<long long>(1000, (job.bench.wait_ms - waited + 999) / 1000 * 1000));
    s.repaint_now();
    return true;
}

}  // namespace

board_outcome run_board(const board_job& job, std::ostream& log, std::ostream& notes,
                        const std::function<void(const board_progress&)>& watch)
{
    board_outcome o;
    o.device = job.device;
    o.started = system_clock::now();
    auto began = steady_clock::now();

    std::vector<counting_link*> links;  // made in this order: mainform.COM, RESETFORM.MSCom0
    const auto port = core::sharing_one_port({[&job] { return std::make_unique<core::qt_serial_link>(job.device); },
                                              [] { return std::make_unique<core::qt_ui_timer>(); }});
    core::platform p{[&links, &port] {
                         auto link = std::make_unique<counting_link>(port.make_link());
                         links.push_back(link.get());
                         return link;
                     },
                     port.make_timer};
    core::app_state s(p);
    if (job.trace) core::trace_links(s, job.trace);
    core::StartModul(s);
    s.bench = job.bench;
    s.stop_requested = [&job, &links] {
        if (job.stop_requested && job.stop_requested()) return true;
        const bool answered = std::any_of(links.begin(), links.end(), [](auto* l) { return l->received > 0; });
        return !answered && job.stop_while_waiting && job.stop_while_waiting();
    };
    s.prepared = job.blocks;
    choose_baud(s, job.baud);

    cli_session session(s, log);
    bool in_command = false;
    auto last_told = steady_clock::time_point{};
    core::code_location code_told;
    bool answered = false;
    const auto tell = [&](bool now) {
        // A station's board is timed from its chip's answer, not from when its
        // fixture began to wait for it.
        if (s.bench.wait_ms < 0 && !answered && s.id_received) {
            answered = true;
            began = steady_clock::now();
            o.started = system_clock::now();
        }
        // Where the code lies is told without delay: a quit at once must say it.
        const auto& code = s.run.code;
        const bool code_moved =
            code.known != code_told.known || code.in_0 != code_told.in_0 || code.in_2 != code_told.in_2;
        if (!watch || (!now && !code_moved && steady_clock::now() - last_told < k_watch_period)) return;
        last_told = steady_clock::now();
        code_told = code;
        watch({phase_of(s, in_command), s.mainform.progress, code});
    };
    s.repaint = [&] {
        session.echo_log();
        tell(false);
    };
    s.keep_alive = s.repaint;
    tell(true);

    int flow_status = -1;
    const auto command = [&](core::app_state& state) {
        in_command = true;
        if (job.command == "status") return command::show_status_Click(state);
        if (job.command == "reset") return command::reset_micro__Click(state);
        flow_status = run_programming_flow(state, job.choices, log, notes, job.before_run);
    };
    const auto judge = [&](const core::app_state& state) {
        if (job.command == "status") return status_verdict(state);
        if (job.command == "reset") return reset_verdict(state);
        return flow_status == 0 ? cli_session::verdict::succeeded : cli_session::verdict::failed;
    };
    const auto verdict = wait_for_device(job, s, watch) ? session.run(command, judge) : cli_session::verdict::stopped;
    // A hardware reset by the entry sequence needs no help; after a stop no attempt follows, and nothing is sent.
    if (job.reset_after_failure && flow_status == 1 && s.run.outcome == result::failed && s.run.answered &&
        job.bench.entry.empty() && !s.stop_now()) {
        o.reset_for_next = programming::reset_after_failure(s);
        core::line_with_break(s.log(), o.reset_for_next ? "     The chip was reset by software for the next attempt"
                                                        : "     The chip did not confirm a software reset");
        session.echo_log();
    }
    // A programming run that succeeded has left the bootstrap mode already.
    if (in_command && job.command != "program" && verdict == cli_session::verdict::succeeded) {
        bootstrap::leave_bootstrap_mode(s);
        session.echo_log();
    }

    o.seconds = duration<double>(steady_clock::now() - began).count();
    read_outcome(o, s, links);
    decide(o, s, job, in_command, verdict, flow_status);
    o.port_unusable = !in_command && o.result == result::failed && links.at(1)->sent == 0;
    o.chip_answered = links[0]->received + links[1]->received > 0;
    // The zero byte went out and nothing came back.
    if (!in_command && o.result == result::failed && links.at(1)->sent > 0 &&
        links[0]->received + links[1]->received == 0) {
        o.reason.push_back(no_answer_advice(job));
        log << o.reason.back() << "\n";
    }
    if (in_command && job.command == "status" && o.exit_status == 0) print_sector_status(log, s);
    log.flush();
    // Its own end, seen at once even while other boards go on.
    if (watch)
        watch({o.result == result::succeeded ? "ok"
               : o.result == result::stopped ? "stopped"
                                             : "failed",
               s.mainform.progress, s.run.code});
    return o;
}

}  // namespace fernwick::station
