#include "app/cli_line.h"

#include <fcntl.h>
#include <unistd.h>
#include <QThread>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <mutex>
#include <sstream>
#include <streambuf>

#include "app/cli_board.h"
#include "app/cli_report.h"
#include "core/progress_text.h"
#include "programming/conversion.h"

#ifndef _WIN32
#include <sys/ioctl.h>
#endif

namespace fernwick::app {

namespace {

using result = core::run_record::result;

std::atomic<int> g_stop_signal{0};

extern "C" void on_stop_signal(int signal)
{
    if (signal == SIGINT && g_stop_signal.load() != 0) ::_exit(128 + SIGINT);
    g_stop_signal.store(signal);
}

bool stop_asked() { return g_stop_signal.load() != 0; }

// Hands each whole line to `line`; what is left unfinished goes at the end.
class line_buffer : public std::streambuf {
public:
    explicit line_buffer(std::function<void(const std::string&)> line) : line_(std::move(line)) {}
    ~line_buffer() override { finish(); }
    line_buffer(const line_buffer&) = delete;
    line_buffer& operator=(const line_buffer&) = delete;
    void finish()
    {
        if (!pending_.empty()) line_(std::exchange(pending_, {}));
    }

protected:
    int_type overflow(int_type c) override
    {
        if (c == traits_type::eof()) return traits_type::not_eof(c);
        if (c == '\n')
            line_(std::exchange(pending_, {}));
        else
            pending_ += static_cast<char>(c);
        return c;
    }

private:
    std::function<void(const std::string&)> line_;
    std::string pending_;
};

int terminal_width()
{
#ifndef _WIN32
    winsize w{};
    if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &w) == 0 && w.ws_col > 20) return w.ws_col;
#endif
    return 80;
}

// One board's place on the screen: phase, block n of m, sector, time left,
// percent.
std::string progress_line(const std::string& device, const board_progress& b, std::size_t device_width)
{
    std::ostringstream line;
    line << std::left << std::setw(static_cast<int>(device_width)) << device << "  " << std::setw(9) << b.phase;
    const auto& p = b.progress;
    const bool ended = b.phase == "ok" || b.phase == "failed" || b.phase == "stopped";
    if (ended)
        line << "  " << p.blocks_done << " of " << p.blocks_total << " blocks sent";
    else if (p.blocks_total > 0)
        line << "  " << core::progress_text(p, std::chrono::steady_clock::now()) << "  (" << core::progress_percent(p)
             << " %)";
    return line.str();
}

// What the operator sees while the boards run. On a terminal, one live line
// per board redrawn in place (with a single board, below its log); otherwise
// plain lines prefixed with the device, never a control character.
class console {
public:
    console(std::vector<std::string> devices, bool live)
        : devices_(std::move(devices)), live_(live), boards_(devices_.size())
    {
        for (const auto& d : devices_) device_width_ = std::max(device_width_, d.size());
    }

    bool single() const { return devices_.size() == 1; }

    void log_line(std::size_t board, const std::string& line)
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

    void progress(std::size_t board, const board_progress& b)
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

    void redraw()
    {
        std::lock_guard lock(mutex_);
        erase_live();
        draw_live();
        std::cout.flush();
    }

    // The last picture stays; what follows starts on a line of its own.
    void finish()
    {
        std::lock_guard lock(mutex_);
        if (!live_) return;
        erase_live();
        if (!single()) {
            for (std::size_t i = 0; i < devices_.size(); ++i)
                std::cout << fitted(progress_line(devices_[i], boards_[i], device_width_)) << '\n';
        }
        std::cout.flush();
    }

private:
    std::string fitted(std::string line) const
    {
        const auto width = static_cast<std::size_t>(terminal_width() - 1);
        if (line.size() > width) line.resize(width);
        return line;
    }

    void erase_live()
    {
        if (!live_ || drawn_ == 0) return;
        if (drawn_ > 1) std::cout << "\033[" << drawn_ - 1 << 'A';
        std::cout << "\r\033[J";
        drawn_ = 0;
    }

    void draw_live()
    {
        if (!live_) return;
        std::vector<std::string> lines;
        for (std::size_t i = 0; i < devices_.size(); ++i) {
            if (single() && boards_[i].progress.blocks_total == 0) continue;  // the log tells the bring-up
            lines.push_back(fitted(progress_line(devices_[i], boards_[i], device_width_)));
        }
        for (std::size_t i = 0; i < lines.size(); ++i) std::cout << (i ? "\n" : "") << lines[i];
        drawn_ = lines.size();
    }

    std::mutex mutex_;
    std::vector<std::string> devices_;
    bool live_;
    std::vector<board_progress> boards_;
    std::size_t device_width_ = 0;
    std::size_t drawn_ = 0;
};

// The report file can be appended to: checked before any board is touched,
// so a line never programs boards whose records cannot be kept.
std::optional<std::string> check_report_file(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return path + ": " + std::strerror(errno);
    ::close(fd);
    return std::nullopt;
}

std::string log_file_name(const std::string& device)
{
    std::string name = device;
    while (name.starts_with('/')) name.erase(0, 1);
    std::replace(name.begin(), name.end(), '/', '-');
    return (name.empty() ? "board" : name) + ".log";
}

struct line_setup {
    std::shared_ptr<const core::prepared_blocks> blocks;
    run_description description;
    std::vector<std::shared_ptr<core::trace_file>> traces;
};

// Everything a run needs before any board is touched: the file converted
// once (and its block file written), the report and log folder reachable,
// the traces created. A usage status (2) when one of them fails.
std::optional<line_setup> prepare(const cli_request& r, const std::vector<std::string>& devices, int& status)
{
    status = k_usage_error;
    line_setup setup;
    for (std::size_t i = 0; i < devices.size(); ++i)
        if (std::find(devices.begin(), devices.begin() + static_cast<long>(i), devices[i]) !=
            devices.begin() + static_cast<long>(i)) {
            std::cerr << "fernwick-cli: the device " << devices[i] << " is given twice (see --help)\n";
            return std::nullopt;
        }
    if (const char* trace = std::getenv("FERNWICK_TRACE"); trace && *trace) {
        for (std::size_t i = 0; i < devices.size(); ++i) {
            const std::string path = devices.size() == 1 ? trace : trace + ("." + std::to_string(i + 1));
            std::string reason;
            setup.traces.push_back(core::trace_file::create(path, reason));
            if (!setup.traces.back()) {
                std::cerr << "fernwick-cli: cannot create the trace file " << path << ": " << reason << "\n";
                return std::nullopt;
            }
        }
    }
    if (r.command != "program") return setup;
    if (!r.log_dir.empty()) {
        std::error_code e;
        std::filesystem::create_directories(r.log_dir, e);
        if (e) {
            std::cerr << "fernwick-cli: cannot make the log folder " << r.log_dir << ": " << e.message() << "\n";
            return std::nullopt;
        }
    }
    if (!r.report.empty())
        if (const auto why = check_report_file(r.report)) {
            std::cerr << "fernwick-cli: cannot write the report: " << *why << "\n";
            return std::nullopt;
        }
    // The report names the file by its hash: the same before the checks and
    // after the conversion, or the blocks may not be what the hash says.
    std::string why;
    const auto before = describe_run(r.choices, r.baud, why);
    std::ostream quiet(nullptr);  // a single run's own flow says what the flow notes
    const auto plan = make_plan(r.choices, devices.size() == 1 ? quiet : std::cerr);
    if (!plan.refusal.empty()) {
        print_refusal(std::cerr, "program", plan, "; nothing was sent");
        return std::nullopt;
    }
    print_left_out(std::cerr, "program", plan);
    const auto converted = programming::write_block_file(plan.conversion);
    if (!converted.ok()) {
        std::cerr << "fernwick-cli program: " << programming::failure_text(*converted.failure)
                  << "; nothing was sent\n";
        return std::nullopt;
    }
    setup.blocks = std::make_shared<const core::prepared_blocks>(
        core::prepared_blocks{plan.sectors, converted.new_file_name, converted.block_text, converted.block_count});
    const auto after = describe_run(r.choices, r.baud, why);
    if (!before || !after || before->hex_sha256 != after->hex_sha256) {
        std::cerr << "fernwick-cli program: " << (why.empty() ? r.choices.hex_file + " changed while it was read" : why)
                  << "; nothing was sent\n";
        return std::nullopt;
    }
    setup.description = *after;
    setup.description.unplaced = plan.unplaced;
    status = 0;
    return setup;
}

void print_summary(const board_outcome& o, int baud)
{
    const double wire_bits = 10.0 * static_cast<double>(o.bytes_sent + o.bytes_received);
    const double share = o.seconds > 0 ? wire_bits / o.seconds / baud : 0;
    std::cout << "Blocks sent: " << o.blocks_sent << ", bytes sent: " << o.bytes_sent
              << ", bytes received: " << o.bytes_received << "\n"
              << std::fixed << std::setprecision(2) << "Time: " << o.seconds
              << " s, line rate reached: " << std::setprecision(1) << 100 * share << " % of " << baud << " baud\n";
}

}  // namespace

void stop_on_signals()
{
    struct sigaction action {};
    action.sa_handler = on_stop_signal;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
}

int run_on_boards(const cli_request& r)
{
    const auto devices = board_devices(r);
    int status = 0;
    const auto setup = prepare(r, devices, status);
    if (!setup) return status;

    console screen(devices, ::isatty(STDOUT_FILENO) == 1 && (r.command == "program" || devices.size() > 1));
    std::vector<board_outcome> outcomes(devices.size());
    std::vector<std::string> write_errors(devices.size());  // the log file's or the report's
    std::vector<QThread*> threads;
    for (std::size_t i = 0; i < devices.size(); ++i) {
        threads.push_back(QThread::create([&, i] {
            std::ofstream log_file;
            if (!r.log_dir.empty()) {
                const auto path = std::filesystem::path(r.log_dir) / log_file_name(devices[i]);
                log_file.open(path);
                if (!log_file) write_errors[i] = "cannot write the log " + path.string() + ": " + std::strerror(errno);
            }
            line_buffer lines([&](const std::string& line) {
                if (log_file.is_open()) log_file << line << '\n' << std::flush;
                screen.log_line(i, line);
            });
            std::ostream log(&lines);
            std::ostream no_notes(nullptr);  // several boards: said once, before they start
            board_job job{devices[i], r.command,     r.baud,
                          r.choices,  setup->blocks, setup->traces.empty() ? nullptr : setup->traces[i],
                          stop_asked};
            outcomes[i] = run_board(job, log, devices.size() == 1 ? std::cerr : no_notes,
                                    [&](const board_progress& b) { screen.progress(i, b); });
            if (r.command == "program" && outcomes[i].result != result::succeeded && outcomes[i].exit_status != 2)
                log << failure_line(outcomes[i]) << '\n';
            lines.finish();
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

    bool any_failed = false, any_unusable = false;
    for (const auto& o : outcomes) {
        any_failed = any_failed || o.result != result::succeeded;
        any_unusable = any_unusable || o.exit_status == 2;
    }
    if (r.command == "program") {
        // A board that was never brought up has nothing to sum up.
        if (devices.size() == 1 && outcomes[0].exit_status != 2 && outcomes[0].run.step != "bring-up")
            print_summary(outcomes[0], r.baud);
        if (devices.size() > 1) print_table(std::cout, outcomes);
    }
    for (const auto& why : write_errors)
        if (!why.empty()) {
            std::cerr << "fernwick-cli: " << why << "\n";
            any_failed = true;
        }
    if (const int signal = g_stop_signal.load()) return 128 + signal;
    if (any_unusable) return k_usage_error;
    return any_failed ? 1 : 0;
}

}  // namespace fernwick::app
