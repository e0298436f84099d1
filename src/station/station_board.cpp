// A fixture's boards, one after another, in the fixture's own thread.

#include "station/station_core.h"

#include <sys/stat.h>
#include <cmath>
#include <sstream>

#include "station/latency_hint.h"
#include "station/line_buffer.h"
#include "station/report.h"
#include "station/retries.h"

namespace fernwick::station {

namespace {

using namespace std::chrono;
using result = core::run_record::result;

constexpr int k_repeat_ms = 500;            // a zero byte while a fixture waits for its board
constexpr int k_presence_period_ms = 1000;  // asking whether a finished board is still there
constexpr int k_presence_answer_ms = 300;
constexpr int k_silent_to_be_gone = 2;  // one silence may be a slip of the line

// A fresh board's loader that heard a flash status reading first: deaf until its reset.
const char* const k_needs_reset = "the board in the fixture did not come up: reset it";

}  // namespace

// One fixture while its device is there: held, then board after board.
void station_core::serve(fixture& f)
{
    f.waiting = "waiting";
    bool taken_over = false;
    if (take_hold(f, taken_over)) {
        // The board that station, or this fixture's last thread, served may
        // still be there: asked, never woken.
        if (taken_over || f.board_in) watch_board(f, f.board_in.value_or(true), "");
        while (!ending(f)) serve_board(f);
        // Gone with its device, the board is no longer in it.
        if (f.hold->gone()) f.board_in.reset();
    }
    if (gone(f)) f.present = false;
    f.hold.reset();
}

// Until the board has gone, or the fixture ends with it still in.
void station_core::watch_board(fixture& f, bool can_be_asked, const std::string& line)
{
    f.board_in = can_be_asked;
    wait_until_gone(f, can_be_asked, line);
    if (!ending(f)) f.board_in.reset();
}

// The device held for this station; while another station holds it, said
// once and taken up when it frees.
bool station_core::take_hold(fixture& f, bool& taken_over)
{
    while (!ending(f)) {
        std::string why;
        const auto got = device_hold::take(f.port, f.hold, why);
        if (got == device_hold::outcome::held) return true;
        if (got == device_hold::outcome::held_elsewhere) {
            if (!taken_over)
                view_.say("fernwick-cli station: " + f.port +
                          " is held by another station; this station leaves it to that one");
            taken_over = true;
            view_.state(f.port, fixture_state::held, "held by another station");
        } else {
            view_.state(f.port, fixture_state::cannot_open, "cannot open the port: " + why);
        }
        sleep(f, seconds(1));
    }
    return false;
}

// Waits for a chip to answer, programs it, records it, and waits until it has gone.
void station_core::serve_board(fixture& f)
{
    if (ledger_gone()) return;
    const auto file = current_file();
    const int generation = generation_;
    if (!file) {
        view_.state(f.port, fixture_state::no_file, "waiting for a hex file that can be used");
        sleep(f, seconds(1));
        return;
    }
    if (job_file_moved(f, *file)) return;
    view_.state(f.port, f.waiting == k_needs_reset ? fixture_state::needs_reset : fixture_state::waiting, f.waiting);
    view_.begin_board(f.port);
    line_buffer lines([&](const std::string& line) {
        if (f.log) f.log->write_line(line);
        view_.log_line(f.port, line);
    });
    std::ostream log(&lines);
    std::ostream no_notes(nullptr);  // said once, at the start
    auto bench = r_.bench;
    bench.wait_ms = -1;  // until a board answers
    bench.repeat_ms = k_repeat_ms;
    board_job job{f.port, "program", r_.baud, r_.choices, file->blocks, nullptr, nullptr, bench};
    f.in_command = false;
    job.stop_requested = [&] { return stopped() || (!f.in_command && gone(f)); };
    // The station's own reasons end only the wait: a board whose chip has
    // answered is under way, finishes with the file it began with, and is recorded.
    job.stop_while_waiting = [&] {
        return stop_asked_ || count_reached_ || generation_ != generation || ledger_gone();
    };
    std::optional<serial_value> number;  // the same over the attempts of one board
    if (serials_) {
        job.serial = r_.serial;
        job.before_run = [&, said = false](core::app_state& s) mutable {
            // A board is never programmed without its number: it waits, said
            // so, while the ledger's server cannot give one.
            const auto wait = [&](const std::string& what) {
                view_.state(f.port, fixture_state::no_serial, what);
                return !stopped() && !gone(f) && !stop_asked_ && !ledger_gone();
            };
            const bool stamped = stamp_board(s, *serials_, r_.serial.address, number, wait);
            // A number skipped or a list changed is the operator's to know, not only the log's.
            if (number && !said)
                for (const auto& note : number->notes) view_.say("fernwick-cli station: " + f.port + ": " + note);
            said = said || number.has_value();
            return stamped;
        };
    }
    bool arrived = false;
    f.hold->discard_input();
    auto o =
        run_with_retries(job, r_.retries, file->description.hex_sha256, log, no_notes, [&](const board_progress& b) {
            // A run that ends before its command says nothing of a board:
            // the chip's bytes tell whether one was there.
            if (b.phase == "bring-up" || b.phase == "waiting for the board" ||
                (!f.in_command && (b.phase == "stopped" || b.phase == "failed")))
                return;
            if (!f.in_command) {
                f.in_command = true;
                arrived = true;
                const std::lock_guard lock(totals_mutex_);
                if (totals_.first_board == steady_clock::time_point{}) totals_.first_board = steady_clock::now();
            }
            view_.progress(f.port, b);
            tell_code(f.index, f.port, b, r_.report);
        });
    forget_code(f.index);
    lines.finish();
    f.in_command = false;
    // Stopped because its board left after its chip answered: that board
    // failed its bring-up, and is recorded as every board that answered.
    if (!arrived && o.chip_answered && o.result == result::stopped && !stopped() && gone(f)) {
        o.result = result::failed;
        o.run.step = "bring-up";
        o.run.gone = true;
        o.exit_status = 1;
        if (!o.attempts.empty()) o.attempts.back().result = result::failed, o.attempts.back().run = o.run;
    }
    // A chip that answered in any attempt was a board, whatever came after
    // (it left, its port went, the station was stopped): it is recorded.
    if (!(arrived || o.chip_answered)) {
        if (o.port_unusable) {
            // Just plugged in, its permissions may not be set yet.
            view_.state(f.port, fixture_state::cannot_open,
                        "cannot open the port: " + (o.reason.empty() ? std::string() : o.reason.front()));
            sleep(f, seconds(1));
        }
        return;
    }
    f.waiting = "waiting";
    const auto line = record(f, o, *file, number);
    hint_latency(f, o);
    // After the exit sequence the board runs its own program, which cannot be asked.
    watch_board(f, o.result != result::succeeded || r_.bench.exit.empty(), line);
}

// Before each board of a job: the file on disk is still the job's. Its
// stamp tells a file untouched; a touched one is hashed. The watcher says
// what changed; the fixture only waits.
bool station_core::job_file_moved(fixture& f, const station_file& file)
{
    if (r_.hex_sha256.empty()) return false;
    const auto stamp = file_stamp(r_.choices.hex_file);
    if (!stamp.empty() && (stamp == file.stamp || stamp == f.job_file_stamp)) return false;
    struct stat info {};
    std::string why;
    if (!stamp.empty() && ::stat(r_.choices.hex_file.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
        sha256_of_file(r_.choices.hex_file, why) == r_.hex_sha256 && file_stamp(r_.choices.hex_file) == stamp) {
        f.job_file_stamp = stamp;
        return false;
    }
    view_.state(f.port, fixture_state::no_file, "the hex file is not the job's: no new board until it is back");
    sleep(f, seconds(1));
    return true;
}

std::string station_core::record(fixture& f, board_outcome o, const station_file& file,
                                 const std::optional<serial_value>& number)
{
    const bool passed = o.result == result::succeeded;
    if (passed) o.serial = number;
    std::string text = passed ? "passed" : o.result == result::stopped ? "stopped" : "failed";
    board_end end;
    if (o.serial) text += "  serial " + o.serial->text, end.serial = o.serial->text;
    text += "  " + std::to_string(std::lround(o.seconds)) + " s";
    if (!passed) {
        const auto line = failure_line(o);
        const auto cut = line.find('\n');
        end.reason = line.substr(0, cut);
        // The bring-up's line names no exchange: its error block says what went wrong.
        const auto said = std::find_if(o.reason.begin(), o.reason.end(), [](const std::string& r) {
            return r.find_first_not_of(' ') != std::string::npos;
        });
        if (o.run.step == "bring-up" && said != o.reason.end())
            end.reason += ": " + said->substr(said->find_first_not_of(' '));
        text += "  " + end.reason;
        end.advice = "take the board out";
        // This station runs every board from its own --bsl-now: one whose
        // code moved needs a run of its own, gone or not.
        if (o.run.code.known && o.run.code.now() != r_.choices.bsl_now) {
            text += "; " + line.substr(cut + 1) + " (fernwick-cli program)";
            end.advice += "; " + line.substr(cut + 1) + " (fernwick-cli program)";
        }
    }
    std::vector<std::string> errors;
    if (!r_.report.empty())
        if (const auto why = append_report(r_.report, {report_record(file.description, o)}))
            errors.push_back("the report was not written: " + *why);
    if (f.log && !f.log->why().empty()) errors.push_back(f.log->why());
    if (const auto why = keep_board(ledger_.get(), serials_.get(), number, ledger_row_of(f.port, o, file.description));
        !why.empty())
        errors.push_back(why);
    ledger_gone();
    station_totals now;
    {
        const std::lock_guard lock(totals_mutex_);
        (passed ? totals_.passed : totals_.failed) += 1;
        totals_.last_end = steady_clock::now();
        // One that ended in its bring-up arrived too, when its chip answered.
        if (totals_.first_board == steady_clock::time_point{})
            totals_.first_board = totals_.last_end - duration_cast<steady_clock::duration>(duration<double>(o.seconds));
        any_not_passed_ = any_not_passed_ || !passed;
        for (const auto& e : errors) write_errors_.push_back(e);
        if (r_.count > 0 && totals_.passed >= r_.count) count_reached_ = true;
        now = totals_;
    }
    // Said at once: the operator must not take the board for recorded.
    if (!errors.empty()) {
        text += "  (not recorded)";
        // Not green: a board without its record is not one the line may pass on.
        end.reason = (passed ? "passed, but not recorded: " : "not recorded: ") + errors.front();
        end.advice = "keep the board aside until its record is written";
    }
    for (const auto& e : errors) view_.say("fernwick-cli station: " + f.port + ": " + e);
    f.end_state = passed && errors.empty() ? fixture_state::passed : fixture_state::failed;
    f.end = end;
    view_.state(f.port, f.end_state, text, end);
    view_.totals(now);
    if (count_reached_)
        QMetaObject::invokeMethod(
            &loop_, [this] { wake_all(); }, Qt::QueuedConnection);
    return text;
}

// Once per fixture: its adapter holds the answers back.
void station_core::hint_latency(fixture& f, const board_outcome& o)
{
    if (f.hinted || !o.answer_delay_ms || *o.answer_delay_ms < k_late_answer_ms) return;
    f.hinted = true;
    std::ostringstream hint;
    print_latency_hint(hint, {o});
    std::istringstream lines(hint.str());
    for (std::string line; std::getline(lines, line);) view_.say(line);
}

// Until the board has gone: its port went, or on a port that stays its
// resident program no longer answers a flash status reading, which changes
// nothing on the chip (a zero byte would reset it). An answer of another
// kind comes from a board put in since, whose loader the reading set to a
// wrong rate: it needs a reset before it answers the zero byte. A board that
// cannot be asked (it runs its own program) is waited for no longer: its
// program does not answer the zero byte, a board put in does; but where the
// entry sequence would wake it again, only its port going tells it left.
void station_core::wait_until_gone(fixture& f, bool can_be_asked, const std::string& line)
{
    if (!can_be_asked) {
        if (r_.bench.entry.empty()) return;
        // The board's own end stays on its tile: only the line tells what comes next.
        view_.state(f.port, f.end_state, (line.empty() ? "" : line + "; ") + "the next board once this port has gone",
                    f.end);
        while (!ending(f)) sleep(f, milliseconds(k_presence_period_ms));
        return;
    }
    std::optional<presence_probe> probe;  // one port for every reading
    int silent = 0;
    while (!ending(f)) {
        sleep(f, milliseconds(k_presence_period_ms));
        if (ending(f)) return;
        if (!probe) probe.emplace(f.port, r_.baud);
        switch (probe->ask(k_presence_answer_ms)) {
        case presence::same_board: silent = 0; break;
        case presence::silent:
            if (++silent < k_silent_to_be_gone) break;
            view_.state(f.port, fixture_state::board_gone, "board gone");
            return;
        case presence::other_answer:
            f.waiting = k_needs_reset;
            view_.state(f.port, fixture_state::needs_reset, k_needs_reset);
            return;
        case presence::unusable:
            // Another program holds the port for a while: no sign that the board left.
            probe.reset();
            break;
        }
    }
}

}  // namespace fernwick::station
