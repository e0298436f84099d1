#include "cli/station_command.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <QEventLoop>
#include <QFileSystemWatcher>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <filesystem>
#include <iostream>
#include <map>
#include <mutex>
#include <sstream>

#include "cli/console.h"
#include "cli/fixtures.h"
#include "cli/ledger.h"
#include "cli/program_command.h"
#include "cli/report.h"
#include "cli/retries.h"
#include "cli/station_view.h"
#include "cli/written_files.h"
#include "core/hex_text.h"

namespace fernwick::cli {

namespace {

namespace fs = std::filesystem;
using namespace std::chrono;
using result = core::run_record::result;

constexpr int k_repeat_ms = 500;            // a zero byte while a fixture waits for its board
constexpr int k_presence_period_ms = 1000;  // asking whether a finished board is still there
constexpr int k_presence_answer_ms = 300;
constexpr int k_silent_to_be_gone = 2;  // one silence may be a slip of the line
constexpr int k_file_settle_ms = 300;   // an editor's save is several events

// The file as the boards get it: checked, converted, hashed.
struct station_file {
    std::shared_ptr<const core::prepared_blocks> blocks;
    run_description description;
    std::vector<std::string> notes;  // what the plan leaves out, said once
};

// The file planned and converted, its block file written beside it, and the
// same SHA-256 before and after; the reason it cannot be used otherwise.
std::shared_ptr<const station_file> load_file(const cli_request& r, std::string& why)
{
    std::string unread;
    const auto before = describe_run(r.choices, r.baud, unread);
    if (!before) {
        why = unread;
        return nullptr;
    }
    std::ostringstream notes;
    const auto p = make_plan(r.choices, notes, r.serial);
    if (!p.refusal.empty()) {
        std::ostringstream refusal;
        print_refusal(refusal, "station", p);
        why = refusal.str();
        while (why.ends_with('\n')) why.pop_back();
        return nullptr;
    }
    auto file = std::make_shared<station_file>();
    file->description = *before;
    const auto written = programming::write_block_file(p.conversion);
    if (written.ok())
        file->description.block_file = fs::absolute(written.new_file_name).lexically_normal().string();
    else if (written.failure->what == programming::conversion_failure::kind::unwritable)
        file->notes.push_back("warning: " + programming::failure_text(*written.failure) +
                              "; the boards get the blocks converted in memory");
    const auto after = describe_run(r.choices, r.baud, unread);
    if (!after || after->hex_sha256 != before->hex_sha256) {
        why = unread.empty() ? r.choices.hex_file + " changed while it was read" : unread;
        return nullptr;
    }
    file->description.unplaced = p.unplaced_all;
    file->description.bench = r.bench;
    std::ostringstream left_out;
    print_left_out(left_out, "station", p);
    for (const auto* said : {&notes, &left_out}) {
        std::istringstream lines(said->str());
        for (std::string line; std::getline(lines, line);) file->notes.push_back(line);
    }
    file->blocks = std::make_shared<const core::prepared_blocks>(core::prepared_blocks{
        p.sectors, p.conversion.new_file_name, p.conversion.block_text, p.conversion.block_count});
    return file;
}

// The file a name stands for now, links followed, and its last change: a
// link pointed at another file of the same time changes it too.
std::string file_stamp(const fs::path& path)
{
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return {};
    return std::to_string(info.st_dev) + ":" + std::to_string(info.st_ino) + ":" + std::to_string(info.st_size) + ":" +
           std::to_string(info.st_mtim.tv_sec) + "." + std::to_string(info.st_mtim.tv_nsec);
}

class station {
public:
    station(const cli_request& r, station_view& view) : r_(r), view_(view) {}

    // The file and the records; false with the reason said (exit 2).
    bool prepare();
    // Until a stop or --count; the exit status.
    int run();

private:
    struct fixture {
        std::string port;
        std::size_t index = 0;
        std::unique_ptr<log_file> log;
        QThread* thread = nullptr;
        std::atomic<bool> present{true};
        std::atomic<bool> in_command{false};
        std::mutex mutex;
        std::condition_variable wake;
    };

    bool ending(const fixture& f) const { return stop_signal() != 0 || count_reached_ || !f.present; }
    void sleep(fixture& f, milliseconds time);
    void wake_all();
    void ports_changed(const std::vector<std::string>& ports);
    void start(fixture& f);
    void serve(fixture& f);
    void record(fixture& f, board_outcome o, const station_file& file, const std::optional<serial_value>& number);
    void wait_until_gone(fixture& f);
    void file_changed();
    void maybe_quit();
    std::shared_ptr<const station_file> current_file() const;

    const cli_request& r_;
    station_view& view_;
    std::map<std::string, std::unique_ptr<fixture>> fixtures_;
    std::shared_ptr<const station_file> file_;  // nullptr while the file on disk cannot be used
    mutable std::mutex file_mutex_;
    std::atomic<int> generation_{0};  // of the file: a fixture waiting with an older one starts again
    std::atomic<bool> count_reached_{false};
    std::mutex totals_mutex_;
    station_totals totals_;
    bool any_not_passed_ = false;
    std::vector<std::string> write_errors_;
    QEventLoop loop_;
    std::atomic<bool> stopping_{false};
    std::vector<std::string> ports_;  // matching now
    std::string hex_stamp_;
    std::unique_ptr<ledger> ledger_;
    std::unique_ptr<serial_book> serials_;
};

std::shared_ptr<const station_file> station::current_file() const
{
    const std::lock_guard lock(file_mutex_);
    return file_;
}

bool station::prepare()
{
    for (const auto& pattern : r_.ports)
        if (const auto why = pattern_problem(pattern)) {
            std::cerr << "fernwick-cli station: " << *why << " (see --help)\n";
            return false;
        }
    // Before the block file is written: it would replace a report or a ledger of that name.
    const auto block_file = fs::absolute(programming::new_file_name_for(r_.choices.hex_file)).lexically_normal();
    std::vector<written_file> files{{"the block file " + block_file.string(), block_file.string()}};
    if (!r_.report.empty()) files.push_back({"the report " + r_.report, r_.report});
    if (!r_.ledger_file.empty()) files.push_back({"the ledger " + r_.ledger_file, r_.ledger_file});
    if (const auto clash = one_file(r_.choices.hex_file, files)) {
        std::cerr << "fernwick-cli station: " << *clash << "; no board was touched\n";
        return false;
    }
    std::string why;
    file_ = load_file(r_, why);
    if (!file_) {
        std::cerr << (why.starts_with("fernwick-cli") ? "" : "fernwick-cli station: ") << why
                  << "; no board was touched\n";
        return false;
    }
    for (const auto& note : file_->notes) std::cerr << "fernwick-cli station: " << note << "\n";
    if (const auto bad = r_.report.empty() ? std::nullopt : check_report(r_.report)) {
        std::cerr << "fernwick-cli station: cannot write the report: " << *bad << "\n";
        return false;
    }
    if (!r_.ledger_file.empty()) {
        ledger_ = ledger::open(r_.ledger_file, why);
        if (!ledger_) {
            std::cerr << "fernwick-cli station: cannot keep the ledger: " << why << "\n";
            return false;
        }
    }
    if (r_.serial.on && !(serials_ = open_serial_book(r_.serial, ledger_.get(), why))) {
        std::cerr << "fernwick-cli station: " << why << "; no board was touched\n";
        return false;
    }
    if (!r_.log_dir.empty()) {
        std::error_code e;
        fs::create_directories(r_.log_dir, e);
        if (e) {
            std::cerr << "fernwick-cli station: cannot make the log folder " << r_.log_dir << ": " << e.message()
                      << "\n";
            return false;
        }
    }
    return true;
}

void station::sleep(fixture& f, milliseconds time)
{
    std::unique_lock lock(f.mutex);
    f.wake.wait_for(lock, time);
}

void station::wake_all()
{
    for (auto& [port, f] : fixtures_) {
        const std::lock_guard lock(f->mutex);
        f->wake.notify_all();
    }
}

void station::ports_changed(const std::vector<std::string>& ports)
{
    for (auto& [port, f] : fixtures_)
        if (f->present && std::find(ports.begin(), ports.end(), port) == ports.end()) {
            f->present = false;
            const std::lock_guard lock(f->mutex);
            f->wake.notify_all();
        }
    if (stopping_) return;
    for (const auto& port : ports) {
        auto& f = fixtures_[port];
        if (!f) {
            f = std::make_unique<fixture>();
            f->port = port;
            f->index = fixtures_.size() - 1;
            if (!r_.log_dir.empty()) {
                std::string why;
                f->log = log_file::open((fs::path(r_.log_dir) / log_file_name(port)).string(), why);
                if (!f->log || !f->log->cut()) {
                    const std::lock_guard lock(totals_mutex_);
                    write_errors_.push_back("cannot write the log " + (f->log ? f->log->why() : why));
                    f->log.reset();
                }
            }
        }
        if (!f->thread) {
            f->present = true;
            start(*f);
        }
    }
}

void station::start(fixture& f)
{
    f.thread = QThread::create([this, &f] { serve(f); });
    QObject::connect(f.thread, &QThread::finished, &loop_, [this, &f] {
        f.thread->deleteLater();
        f.thread = nullptr;
        if (!f.present) view_.state(f.port, "gone");
        // It may have come back while its last board was still recorded.
        if (!stopping_ && !count_reached_ && stop_signal() == 0 &&
            std::find(ports_.begin(), ports_.end(), f.port) != ports_.end()) {
            f.present = true;
            start(f);
            return;
        }
        maybe_quit();
    });
    f.thread->start();
}

// One fixture, board after board: wait for a chip to answer, program it,
// record it, and wait until it has gone before the next.
void station::serve(fixture& f)
{
    while (!ending(f)) {
        const auto file = current_file();
        const int generation = generation_;
        if (!file) {
            view_.state(f.port, "waiting for a hex file that can be used");
            sleep(f, seconds(1));
            continue;
        }
        view_.state(f.port, "waiting");
        line_buffer lines([&](const std::string& line) {
            if (f.log) f.log->write_line(line);
        });
        std::ostream log(&lines);
        std::ostream no_notes(nullptr);  // said once, at the start
        auto bench = r_.bench;
        bench.wait_ms = -1;  // until a board answers
        bench.repeat_ms = k_repeat_ms;
        board_job job{f.port, "program", r_.baud, r_.choices, file->blocks, nullptr, nullptr, bench};
        f.in_command = false;
        job.stop_requested = [&] {
            return stop_signal() != 0 || (!f.in_command && (count_reached_ || !f.present || generation_ != generation));
        };
        std::optional<serial_value> number;  // the same over the attempts of one board
        if (serials_) {
            job.serial = r_.serial;
            job.before_run = [&](core::app_state& s) { return stamp_board(s, *serials_, r_.serial.address, number); };
        }
        bool arrived = false;
        const auto o = run_with_retries(job, r_.retries, file->description.hex_sha256, log, no_notes,
                                        [&](const board_progress& b) {
                                            // A run that ends before its command says nothing of a board:
                                            // the chip's bytes tell whether one was there.
                                            if (b.phase == "bring-up" || b.phase == "waiting for the board" ||
                                                (!f.in_command && (b.phase == "stopped" || b.phase == "failed")))
                                                return;
                                            if (!f.in_command) {
                                                f.in_command = true;
                                                arrived = true;
                                                const std::lock_guard lock(totals_mutex_);
                                                if (totals_.first_board == steady_clock::time_point{})
                                                    totals_.first_board = steady_clock::now();
                                            }
                                            view_.progress(f.port, b);
                                            tell_code(f.index, f.port, b, r_.report);
                                        });
        forget_code(f.index);
        lines.finish();
        f.in_command = false;
        if (o.port_unusable) {
            // Just plugged in, its permissions may not be set yet.
            view_.state(f.port, "cannot open the port: " + (o.reason.empty() ? std::string() : o.reason.front()));
            sleep(f, seconds(1));
            continue;
        }
        // No chip answered, or the station ended the bring-up for its own
        // reasons before the board's flash was touched: no board to record.
        if (!arrived && (!o.chip_answered || (o.result == result::stopped && stop_signal() == 0))) continue;
        record(f, o, *file, number);
        wait_until_gone(f);
    }
}

void station::record(fixture& f, board_outcome o, const station_file& file, const std::optional<serial_value>& number)
{
    const bool passed = o.result == result::succeeded;
    if (passed) o.serial = number;
    std::string text = passed ? "passed" : o.result == result::stopped ? "stopped" : "failed";
    if (o.serial) text += "  serial " + o.serial->text;
    text += "  " + std::to_string(std::lround(o.seconds)) + " s";
    if (!passed) {
        const auto line = failure_line(o);
        const auto cut = line.find('\n');
        text += "  " + line.substr(0, cut);
        // This station runs every board from its own --bsl-now: one whose code moved needs a run of its own.
        if (o.run.code.known && o.run.code.now() != r_.choices.bsl_now)
            text += "; " + line.substr(cut + 1) + " (fernwick-cli program)";
        // The bring-up's line names no exchange: its error block says what went wrong.
        const auto said = std::find_if(o.reason.begin(), o.reason.end(), [](const std::string& r) {
            return r.find_first_not_of(' ') != std::string::npos;
        });
        if (o.run.step == "bring-up" && said != o.reason.end())
            text += ": " + said->substr(said->find_first_not_of(' '));
    }
    std::vector<std::string> errors;
    if (!r_.report.empty())
        if (const auto why = append_report(r_.report, {report_record(file.description, o)}))
            errors.push_back("the report was not written: " + *why);
    if (f.log && !f.log->why().empty()) errors.push_back(f.log->why());
    if (const auto why = keep_board(ledger_.get(), serials_.get(), number, ledger_row_of(f.port, o, file.description));
        !why.empty())
        errors.push_back(why);
    station_totals now;
    {
        const std::lock_guard lock(totals_mutex_);
        (passed ? totals_.passed : totals_.failed) += 1;
        totals_.last_end = steady_clock::now();
        any_not_passed_ = any_not_passed_ || !passed;
        for (const auto& e : errors) write_errors_.push_back(e);
        if (r_.count > 0 && totals_.passed >= r_.count) count_reached_ = true;
        now = totals_;
    }
    // Said at once: the operator must not take the board for recorded.
    if (!errors.empty()) text += "  (not recorded)";
    for (const auto& e : errors) view_.say("fernwick-cli station: " + f.port + ": " + e);
    view_.state(f.port, text);
    view_.totals(now);
    if (count_reached_)
        QMetaObject::invokeMethod(
            &loop_, [this] { wake_all(); }, Qt::QueuedConnection);
}

// A fixture whose port stays (a fixed adapter) hears its board gone when the
// chip falls silent; one whose port goes with the board, when it goes.
void station::wait_until_gone(fixture& f)
{
    int silent = 0;
    while (!ending(f)) {
        sleep(f, milliseconds(k_presence_period_ms));
        if (ending(f)) return;
        const auto answered = chip_answers(f.port, r_.baud, r_.bench.entry, k_presence_answer_ms);
        // A port another program holds for a while is no sign that the board left.
        if (!answered) continue;
        if (*answered) {
            silent = 0;
        } else if (++silent >= k_silent_to_be_gone && f.present) {
            view_.state(f.port, "board gone");
            return;
        }
    }
}

void station::maybe_quit()
{
    if (!stopping_ && stop_signal() == 0 && !count_reached_) return;
    stopping_ = true;
    for (const auto& [port, f] : fixtures_)
        if (f->thread) return;
    loop_.quit();
}

void station::file_changed()
{
    std::string why;
    auto file = load_file(r_, why);
    const auto old = current_file();
    if (file && old && file->description.hex_sha256 == old->description.hex_sha256) return;
    if (!file && !old) return;  // still not usable: said already
    {
        const std::lock_guard lock(file_mutex_);
        file_ = file;
    }
    ++generation_;
    if (file) {
        view_.say("fernwick-cli station: " + r_.choices.hex_file + " changed; boards from now on get it (SHA-256 " +
                  file->description.hex_sha256 + ")");
        for (const auto& note : file->notes) view_.say("fernwick-cli station: " + note);
    } else {
        view_.say((why.starts_with("fernwick-cli") ? "" : "fernwick-cli station: ") + why);
        view_.say("fernwick-cli station: " + r_.choices.hex_file +
                  " changed and cannot be used; no board is programmed until it can");
    }
    wake_all();
}

int station::run()
{
    int pipe_fds[2];
    if (::pipe2(pipe_fds, O_CLOEXEC | O_NONBLOCK) != 0) return k_usage_error;
    wake_on_stop(pipe_fds[1]);
    QSocketNotifier stop_notifier(pipe_fds[0], QSocketNotifier::Read);
    QObject::connect(&stop_notifier, &QSocketNotifier::activated, &loop_, [&] {
        char drained[16];
        while (::read(pipe_fds[0], drained, sizeof drained) > 0) {}
        stopping_ = true;
        view_.say("fernwick-cli station: stopping: every board under way finishes its exchange");
        wake_all();
        maybe_quit();
    });

    // An editor saves by writing a new file and renaming it over the old:
    // the folder is watched too, and a change is looked at once it settles.
    QFileSystemWatcher file_watch;
    const auto hex = fs::absolute(r_.choices.hex_file);
    file_watch.addPath(QString::fromStdString(hex.string()));
    file_watch.addPath(QString::fromStdString(hex.parent_path().string()));
    QTimer settle;
    settle.setSingleShot(true);
    QObject::connect(&settle, &QTimer::timeout, &loop_, [&] {
        // Watched anew: the name may lead to another file now.
        file_watch.removePath(QString::fromStdString(hex.string()));
        file_watch.addPath(QString::fromStdString(hex.string()));
        file_changed();
    });
    const auto touched = [&](const QString&) { settle.start(k_file_settle_ms); };
    QObject::connect(&file_watch, &QFileSystemWatcher::fileChanged, &loop_, touched);
    QObject::connect(&file_watch, &QFileSystemWatcher::directoryChanged, &loop_, [&](const QString&) {
        // Only the hex file's own change matters; the folder tells a rename over it.
        const auto stamp = file_stamp(hex);
        if (!stamp.empty() && stamp != hex_stamp_) {
            hex_stamp_ = stamp;
            touched({});
        }
    });
    hex_stamp_ = file_stamp(hex);

    port_watcher ports(r_.ports, [this](const std::vector<std::string>& now) {
        ports_ = now;
        ports_changed(now);
    });
    ports_ = ports.ports();
    view_.say("fernwick-cli station: " + std::to_string(ports_.size()) + " fixture(s) now; waiting for boards on " +
              [this] {
                  std::string all;
                  for (const auto& p : r_.ports) all += (all.empty() ? "" : " ") + p;
                  return all;
              }() +
              " (Ctrl-C ends)");
    ports_changed(ports_);
    QTimer redraw;
    QObject::connect(&redraw, &QTimer::timeout, &loop_, [this] { view_.redraw(); });
    if (view_.live()) redraw.start(1000);
    if (stop_signal() != 0) {
        stopping_ = true;
        wake_all();
    }
    const bool under_way =
        std::any_of(fixtures_.begin(), fixtures_.end(), [](const auto& f) { return f.second->thread != nullptr; });
    if (!stopping_ || under_way) loop_.exec();
    wake_on_stop(-1);
    ::close(pipe_fds[0]);
    ::close(pipe_fds[1]);
    view_.finish();

    for (const auto& why : write_errors_) std::cerr << "fernwick-cli station: " << why << "\n";
    if (const int signal = stop_signal()) return 128 + signal;
    return any_not_passed_ || !write_errors_.empty() ? 1 : 0;
}

}  // namespace

int run_station(const cli_request& r)
{
    station_view view(::isatty(STDOUT_FILENO) == 1);
    station s(r, view);
    if (!s.prepare()) return k_usage_error;
    return s.run();
}

}  // namespace fernwick::cli
