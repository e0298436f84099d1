#include "cli/program_command.h"

#include <unistd.h>
#include <QThread>
#include <algorithm>
#include <array>
#include <atomic>
#include <csignal>
#include <filesystem>
#include <iostream>
#include <mutex>

#include "cli/console.h"
#include "core/port_names.h"
#include "programming/conversion.h"
#include "station/board_session.h"
#include "station/latency_hint.h"
#include "station/report.h"
#include "station/retries.h"
#include "station/serial_numbers.h"
#include "station/written_files.h"

namespace fernwick::cli {

namespace {

using result = core::run_record::result;

bool stop_asked() { return stop_signal() != 0; }

struct line_setup {
    std::shared_ptr<const core::prepared_blocks> blocks;
    run_description description;
    std::vector<std::shared_ptr<core::trace_file>> traces;
    std::vector<std::unique_ptr<log_file>> logs;  // one per board with --log-dir
    std::unique_ptr<cli::ledger> boards_ledger;   // with --ledger
    std::unique_ptr<serial_book> serials;         // with --serial; in the ledger when there is one
};

// One line on standard error; the run ends with a usage status.
std::nullopt_t refused(const std::string& why, const char* command = nullptr)
{
    std::cerr << "fernwick-cli" << (command ? std::string(" ") + command : "") << ": " << why << "\n";
    return std::nullopt;
}

std::string trace_path(const std::string& trace, std::size_t board, std::size_t boards)
{
    return boards == 1 ? trace : trace + "." + std::to_string(board + 1);
}

// Every file the run writes, named as the operator knows it.
std::vector<written_file> files_written(const cli_request& r, const std::vector<std::string>& devices,
                                        const std::string& block_file)
{
    std::vector<written_file> files;
    if (!block_file.empty()) files.push_back({"the block file " + block_file, block_file});
    if (!r.report.empty()) files.push_back({"the report " + r.report, r.report});
    if (!r.ledger_file.empty()) files.push_back({"the ledger " + r.ledger_file, r.ledger_file});
    for (const auto& device : devices)
        if (!r.log_dir.empty()) {
            const auto path = (std::filesystem::path(r.log_dir) / log_file_name(device)).string();
            std::string named = "the log " + path;
            files.push_back({named.append(" of ").append(device), path});
        }
    if (const char* trace = std::getenv("FERNWICK_TRACE"); trace && *trace)
        for (std::size_t i = 0; i < devices.size(); ++i) {
            const auto path = trace_path(trace, i, devices.size());
            files.push_back({"the trace " + path, path});
        }
    return files;
}

// The report can be appended to and each board's log is this run's:
// checked before any board is touched, so a line never programs boards
// whose records cannot be kept.
bool open_records(const cli_request& r, const std::vector<std::string>& devices, line_setup& setup)
{
    if (const auto why = r.report.empty() ? std::nullopt : check_report(r.report)) {
        refused("cannot write the report: " + *why);
        return false;
    }
    if (r.log_dir.empty()) return true;
    std::error_code e;
    std::filesystem::create_directories(r.log_dir, e);
    if (e) {
        refused("cannot make the log folder " + r.log_dir + ": " + e.message());
        return false;
    }
    for (const auto& device : devices) {
        std::string why;
        setup.logs.push_back(log_file::open((std::filesystem::path(r.log_dir) / log_file_name(device)).string(), why));
        if (!setup.logs.back()) {
            refused("cannot write the log " + why);
            return false;
        }
    }
    return true;
}

// The block file beside the hex file, and the blocks every board sends. A
// folder the block file cannot be written to costs only that file.
bool convert_once(const programming::conversion_result& conversion, line_setup& setup)
{
    const auto written = programming::write_block_file(conversion);
    if (written.ok()) {
        setup.description.block_file = std::filesystem::absolute(written.new_file_name).lexically_normal().string();
    } else if (written.failure->what == programming::conversion_failure::kind::unwritable) {
        std::cerr << "fernwick-cli program: warning: " << programming::failure_text(*written.failure)
                  << "; the boards get the blocks converted in memory\n";
    } else {
        refused(programming::failure_text(*written.failure) + "; nothing was sent", "program");
        return false;
    }
    return true;
}

// A board's number is kept only when it passed; its log says which. The
// board goes into the ledger with it. The reason when it could not be
// written down.
std::string keep_board(line_setup& setup, const std::string& device, const std::optional<serial_value>& number,
                       board_outcome& o, std::ostream& log)
{
    const bool passed = o.result == result::succeeded;
    if (number) {
        if (passed) o.serial = number;
        log << "Serial number " << number->text << (passed ? " kept by this board" : " given back for the next board")
            << '\n';
    }
    if (!number && !setup.boards_ledger) return {};
    return keep_board(setup.boards_ledger.get(), setup.serials.get(), number,
                      ledger_row_of(device, o, setup.description));
}

// Everything a run needs before any board is touched: the file converted
// once (and its block file written), the report, logs and traces apart from
// the hex file and one another, and this run's. A usage status (2) when one
// of them fails.
std::optional<line_setup> prepare(const cli_request& r, const std::vector<std::string>& devices, int& status)
{
    status = k_usage_error;
    for (const auto& device : devices)
        if (const auto problem = core::port_name_problem(device)) return refused(*problem + "; nothing was sent");
    for (std::size_t i = 0; i < devices.size(); ++i)
        for (std::size_t j = 0; j < i; ++j)
            if (same_device(devices[j], devices[i]))
                return refused((devices[i] == devices[j]
                                    ? "the device " + devices[i] + " is given twice"
                                    : "the devices " + devices[j] + " and " + devices[i] + " are one device") +
                               " (see --help)");
    line_setup setup;
    const bool program = r.command == "program";
    plan p;
    std::optional<run_description> before;
    std::string unread;
    if (program) {
        // The report names the file by its hash: the same before the checks and
        // after the conversion, or the blocks may not be what the hash says.
        before = describe_run(r.choices, r.baud, unread);
        std::ostream quiet(nullptr);  // a single run's own flow says what the flow notes
        p = make_plan(r.choices, devices.size() == 1 ? quiet : std::cerr, r.serial);
        if (!p.refusal.empty()) {
            print_refusal(std::cerr, "program", p, "; nothing was sent");
            return std::nullopt;
        }
    }
    const auto files = files_written(r, devices, program ? p.conversion.new_file_name : "");
    if (const auto why = one_file(program ? r.choices.hex_file : "", files))
        return refused(*why + "; nothing was sent");
    if (!open_records(r, devices, setup)) return std::nullopt;
    std::string why;
    if (!r.ledger_file.empty() && !(setup.boards_ledger = ledger::open(r.ledger_file, r.keeping, why)))
        return refused("cannot keep the ledger: " + why + "; nothing was sent");
    if (r.serial.on && !(setup.serials = open_serial_book(r.serial, setup.boards_ledger.get(), why)))
        return refused(why + "; nothing was sent", "program");
    if (program) {
        if (!convert_once(p.conversion, setup)) return std::nullopt;
        setup.blocks = std::make_shared<const core::prepared_blocks>(core::prepared_blocks{
            p.sectors, p.conversion.new_file_name, p.conversion.block_text, p.conversion.block_count, {}});
        const auto after = describe_run(r.choices, r.baud, unread);
        if (!before || !after || before->hex_sha256 != after->hex_sha256)
            return refused(
                (unread.empty() ? r.choices.hex_file + " changed while it was read" : unread) + "; nothing was sent",
                "program");
        const auto block_file = setup.description.block_file;
        setup.description = *after;
        setup.description.block_file = block_file;
        setup.description.unplaced = p.unplaced_all;
        setup.description.bench = r.bench;
        print_left_out(std::cerr, "program", p);
    }
    // Made last: a trace is no file of the user's until every check passed.
    if (const char* trace = std::getenv("FERNWICK_TRACE"); trace && *trace)
        for (std::size_t i = 0; i < devices.size(); ++i) {
            auto path = trace_path(trace, i, devices.size());
            std::string reason;
            setup.traces.push_back(core::trace_file::create(path, reason));
            if (!setup.traces.back())
                return refused("cannot create the trace file " + path.append(": ").append(reason));
        }
    for (const auto& log : setup.logs)
        if (!log->cut()) return refused("cannot write the log " + log->why());
    status = 0;
    return setup;
}

// Which device COM n is, for an operator who named none.
void say_ports(const cli_request& r)
{
    if (!r.devices.empty()) return;
    for (const int port : r.com.empty() ? std::vector<int>{1} : r.com) {
        const auto n = std::to_string(port);
        std::cerr << "fernwick-cli: COM " << n << " is " << core::printable_name(core::device_for_port(port))
                  << " (FERNWICK_COM" << n << "=DEVICE or --device DEVICE chooses another)\n";
    }
}

}  // namespace

int run_on_boards(const cli_request& r)
{
    const auto devices = board_devices(r);
    say_ports(r);
    int status = 0;
    auto setup = prepare(r, devices, status);
    if (!setup) return status;

    const bool live = ::isatty(STDOUT_FILENO) == 1 && (r.command == "program" || devices.size() > 1);
    console screen(devices, live);
    std::vector<board_outcome> outcomes(devices.size());
    std::vector<std::string> write_errors(devices.size());  // the log file's or the report's
    std::vector<QThread*> threads;
    for (std::size_t i = 0; i < devices.size(); ++i) {
        threads.push_back(QThread::create([&, i] {
            log_file* board_log = setup->logs.empty() ? nullptr : setup->logs[i].get();
            line_buffer lines([&](const std::string& line) {
                if (board_log) board_log->write_line(line);
                screen.log_line(i, line);
            });
            std::ostream log(&lines);
            std::ostream no_notes(nullptr);  // several boards: said once, before they start
            board_job job{devices[i], r.command,     r.baud,
                          r.choices,  setup->blocks, setup->traces.empty() ? nullptr : setup->traces[i],
                          stop_asked, r.bench};
            std::optional<serial_value> number;
            if (setup->serials) {
                job.serial = r.serial;
                job.before_run = [&](core::app_state& s) {
                    return stamp_board(s, *setup->serials, r.serial.address, number);
                };
            }
            outcomes[i] = run_with_retries(job, r.retries, setup->description.hex_sha256, log,
                                           devices.size() == 1 ? std::cerr : no_notes, [&](const board_progress& b) {
                                               screen.progress(i, b);
                                               tell_code(i, devices[i], b, r.report);
                                           });
            forget_code(i);  // its own lines say how it ended
            const auto unsettled = keep_board(*setup, devices[i], number, outcomes[i], log);
            lines.finish();
            if (board_log) write_errors[i] = board_log->why();
            if (!unsettled.empty()) write_errors[i] = unsettled;
            if (!r.report.empty())
                if (const auto why = append_report(r.report, {report_record(setup->description, outcomes[i])}))
                    write_errors[i] = "the report was not written: " + *why;
        }));
        threads.back()->start();
    }
    for (auto* t : threads) {
        while (!t->wait(200)) screen.redraw();
        delete t;
    }
    screen.finish();

    // Every board was brought up, so none is left untouched: a file that
    // changed under a board is its failure (1), never "nothing was sent" (2).
    bool any_failed = false;
    for (const auto& o : outcomes) any_failed = any_failed || o.result != result::succeeded;
    if (r.command == "program") {
        // A board that was never brought up, or got no serial number, sent nothing to sum up.
        if (devices.size() == 1 && outcomes[0].exit_status != 2 && outcomes[0].run.step != "bring-up" &&
            outcomes[0].run.step != "serial number")
            std::cout << summary_text(outcomes[0], r.baud);
        if (devices.size() > 1) print_table(std::cout, outcomes);
    }
    // The plain lines said each board's reason as it came; a terminal's live
    // lines did not.
    if (live && devices.size() > 1) print_reasons(std::cout, outcomes);
    print_latency_hint(std::cout, outcomes);
    for (std::size_t i = 0; i < setup->traces.size(); ++i) {
        setup->traces[i]->complete();
        if (!setup->traces[i]->whole())
            write_errors.push_back("the trace " + trace_path(std::getenv("FERNWICK_TRACE"), i, devices.size()) +
                                   " was not written whole (the disk may be full)");
    }
    // Numbers held ahead go back; a record that waits for the server is no record yet.
    if (setup->boards_ledger)
        if (const auto waiting = setup->boards_ledger->finish(); !waiting.empty()) write_errors.push_back(waiting);
    for (const auto& why : write_errors)
        if (!why.empty()) {
            std::cerr << "fernwick-cli: " << why << "\n";
            any_failed = true;
        }
    if (const int signal = stop_signal()) return 128 + signal;
    return any_failed ? 1 : 0;
}

}  // namespace fernwick::cli
