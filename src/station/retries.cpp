#include "station/retries.h"

#include <chrono>
#include <memory>
#include <optional>
#include <ostream>

#include "station/report.h"

namespace fernwick::station {

namespace {

using result = core::run_record::result;

// The job of an attempt that starts with the code in `now`. With the code
// elsewhere the rules may choose other sectors (one kept on only for a copy
// of the code is left alone), so the file is planned again, and it must
// still be the file the run began with. The reason when it cannot be.
std::optional<std::string> start_from(board_job& job, std::int16_t now, const std::string& hex_sha256)
{
    if (now == job.choices.bsl_now) return std::nullopt;
    auto choices = job.choices;
    choices.bsl_now = now;
    std::string why;
    std::ostream quiet(nullptr);
    const auto before = sha256_of_file(choices.hex_file, why);
    const auto p = make_plan(choices, quiet, job.serial);
    const auto after = sha256_of_file(choices.hex_file, why);
    if (!before || !after) return why;
    if (*before != hex_sha256 || *after != hex_sha256) return choices.hex_file + " changed since the run began";
    if (!p.refusal.empty()) return p.refusal;
    job.choices = choices;
    // The same file, as the first attempt read it.
    job.blocks = std::make_shared<const core::prepared_blocks>(
        core::prepared_blocks{p.sectors, p.conversion.new_file_name, p.conversion.block_text, p.conversion.block_count,
                              job.blocks ? job.blocks->hex_text : std::string()});
    return std::nullopt;
}

}  // namespace

board_outcome run_with_retries(board_job job, int retries, const std::string& hex_sha256, std::ostream& log,
                               std::ostream& notes, const std::function<void(const board_progress&)>& watch)
{
    const int allowed = retries + 1;
    // A station waits for its next board until one answers; an attempt
    // after the first waits for no one: an answer later would be that board.
    const bool waits_for_boards = job.bench.wait_ms < 0;
    std::optional<core::code_location> code_known;  // the last attempt's that knew where the code lies
    std::vector<attempt_record> attempts;
    std::uint64_t sent = 0, received = 0;
    bool answered = false;
    double seconds = 0;
    std::optional<std::chrono::system_clock::time_point> started;
    std::ostream quiet(nullptr);  // the file's notes were said at the first attempt
    for (int attempt = 1;; ++attempt) {
        job.reset_after_failure = attempt < allowed;
        if (attempt > 1 && waits_for_boards) job.bench.wait_ms = 0;
        auto o = run_board(job, log, attempt == 1 ? notes : quiet, [&](board_progress b) {
            b.attempt = attempt;
            b.attempts_allowed = allowed;
            if (watch) watch(b);
        });
        // An attempt that never began its run left the code where the one before it did.
        if (o.run.code.known)
            code_known = o.run.code;
        else if (code_known)
            o.run.code = *code_known;
        const bool failed = job.command == "program" && o.result != result::succeeded && o.exit_status != 2;
        if (failed) log << failure_line(o) << '\n';
        if (retries <= 0) return o;
        attempts.push_back({o.result, o.run, job.choices.bsl_now, o.seconds, o.blocks_sent});
        sent += o.bytes_sent;
        received += o.bytes_received;
        answered = answered || o.chip_answered;
        // Its chip answered: the board is under way through its last attempt.
        if (answered) job.stop_while_waiting = nullptr;
        seconds += o.seconds;
        started = started.value_or(o.started);
        const bool stopping =
            (job.stop_requested && job.stop_requested()) || (job.stop_while_waiting && job.stop_while_waiting());
        if (failed && o.result == result::failed && attempt < allowed && !stopping) {
            const auto now = o.run.code.known ? o.run.code.now() : job.choices.bsl_now;
            // A missing device, or one without the modem lines the entry needs, stays so from one attempt to the next.
            if (o.port_unusable) {
                log << "No further attempt: the port could not be used, and nothing was sent to the board\n";
            } else if (o.run.gone) {
                log << "No further attempt: the board is gone\n";
            } else if (o.run.step == "serial number") {
                log << "No further attempt: the book has no serial number for the board\n";
            } else if (waits_for_boards && job.bench.entry.empty() && !o.reset_for_next) {
                // A hand's reset and the next board put in answer alike.
                log << "No further attempt: the chip was not reset by software, and a board reset by hand could not "
                       "be told from the next board\n";
            } else if (const auto why_not = start_from(job, now, hex_sha256)) {
                log << "No further attempt: " << *why_not << '\n';
            } else {
                // Without the modem lines or a software reset only a hand brings the chip back to its loader.
                log << "Attempt " << attempt + 1 << " of " << allowed << ", from --bsl-now " << now
                    << (job.bench.entry.empty() && !o.reset_for_next ? ": reset the board into its bootstrap mode" : "")
                    << '\n';
                continue;
            }
        }
        o.attempts = std::move(attempts);
        o.attempts_allowed = allowed;
        o.bytes_sent = sent;
        o.bytes_received = received;
        o.chip_answered = answered;
        o.seconds = seconds;
        o.started = *started;
        return o;
    }
}

}  // namespace fernwick::station
