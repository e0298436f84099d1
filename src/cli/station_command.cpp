#include "cli/station_command.h"

#include <fcntl.h>
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
#include <set>
#include <sstream>

#include "cli/console.h"
#include "cli/fixtures.h"
#include "cli/latency_hint.h"
#include "cli/ledger.h"
#include "cli/program_command.h"
#include "cli/report.h"
#include "cli/retries.h"
#include "cli/station_file.h"
#include "cli/station_view.h"
#include "cli/written_files.h"

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

// A fresh board's loader that heard a flash status reading first: deaf until its reset.
const char* const k_needs_reset = "the board in the fixture did not come up: reset it";

class station {
public:
    station(const cli_request& r, station_view& view) : r_(r), view_(view) {}

    // The file and the records; false with the reason said (exit 2).
    bool prepare();
    // Until a stop or --count; the exit status.
    int run();

private:
    // One device, whatever its names, served by one thread at a time.
    struct fixture {
        std::string key;
        std::string port;                // its name on the lines: the first it had when it came
        std::vector<std::string> names;  // every name it has now (under `mutex`)
        std::set<std::string> known;     // the names said to be its (the main thread's)
        std::size_t index = 0;
        log_file* log = nullptr;
        QThread* thread = nullptr;
        std::atomic<bool> present{true};
        std::atomic<bool> in_command{false};
        std::mutex mutex;
        std::condition_variable wake;
        // Its thread's:
        std::optional<device_hold> hold;
        std::string waiting = "waiting";  // the line while no chip answers
        bool hinted = false;              // the latency hint was given
    };
    struct fixture_log {
        std::string port;  // whose log it is
        std::unique_ptr<log_file> file;
        std::set<std::string> clashes;  // other fixtures whose log name it is too, said
    };

    bool gone(const fixture& f) const { return !f.present || (f.hold && f.hold->gone()); }
    bool ending(const fixture& f) const { return stop_signal() != 0 || count_reached_ || gone(f); }
    std::string device_name(fixture& f);
    void sleep(fixture& f, milliseconds time);
    void wake_all();
    void ports_changed(const std::vector<port_device>& devices);
    void name_new(fixture& f, const std::vector<std::string>& names);
    log_file* log_of(const std::string& port);
    void start(fixture& f);
    void serve(fixture& f);
    bool take_hold(fixture& f, bool& taken_over);
    void serve_board(fixture& f);
    std::string record(fixture& f, board_outcome o, const station_file& file,
                       const std::optional<serial_value>& number);
    void hint_latency(fixture& f, const board_outcome& o);
    void wait_until_gone(fixture& f, bool can_be_asked, const std::string& line);
    void file_changed(std::shared_ptr<const station_file> file, const std::string& why);
    void maybe_quit();
    std::shared_ptr<const station_file> current_file() const;

    const cli_request& r_;
    station_view& view_;
    std::map<std::string, std::unique_ptr<fixture>> fixtures_;  // by device
    std::map<std::string, fixture_log> logs_;                   // by path
    std::vector<port_device> devices_;                          // matching now
    std::shared_ptr<const station_file> file_;                  // nullptr while the file on disk cannot be used
    mutable std::mutex file_mutex_;
    std::atomic<int> generation_{0};  // of the file: a fixture waiting with an older one starts again
    std::atomic<bool> count_reached_{false};
    std::mutex totals_mutex_;
    station_totals totals_;
    bool any_not_passed_ = false;
    bool unlogged_ = false;  // a fixture's log could not be written
    std::vector<std::string> write_errors_;
    QEventLoop loop_;
    std::atomic<bool> stopping_{false};
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

// The name its sessions open: the one on its line while it is there.
std::string station::device_name(fixture& f)
{
    const std::lock_guard lock(f.mutex);
    if (f.names.empty() || std::find(f.names.begin(), f.names.end(), f.port) != f.names.end()) return f.port;
    return f.names.front();
}

void station::sleep(fixture& f, milliseconds time)
{
    std::unique_lock lock(f.mutex);
    f.wake.wait_for(lock, time);
}

void station::wake_all()
{
    for (auto& [key, f] : fixtures_) {
        const std::lock_guard lock(f->mutex);
        f->wake.notify_all();
    }
}

// A name that comes for a device already served (the by-id link udev makes
// after ttyUSB0) joins its fixture: said once, never a second fixture.
void station::name_new(fixture& f, const std::vector<std::string>& names)
{
    for (const auto& name : names)
        if (f.known.insert(name).second && name != f.port)
            view_.say("fernwick-cli station: " + name + " is another name of " + f.port + ": one fixture");
}

void station::ports_changed(const std::vector<port_device>& devices)
{
    devices_ = devices;
    const auto device_of = [&](const std::string& key) {
        return std::find_if(devices.begin(), devices.end(), [&](const port_device& d) { return d.key == key; });
    };
    for (auto& [key, f] : fixtures_) {
        const auto d = device_of(key);
        const std::lock_guard lock(f->mutex);
        if (d == devices.end()) {
            f->present = false;
            f->wake.notify_all();
            continue;
        }
        f->names = d->names;
    }
    if (stopping_ || count_reached_ || stop_signal() != 0) return;
    for (const auto& d : devices) {
        auto& f = fixtures_[d.key];
        if (!f) {
            f = std::make_unique<fixture>();
            f->key = d.key;
            f->index = fixtures_.size() - 1;
        }
        if (f->thread) {
            name_new(*f, d.names);
            continue;
        }
        // A line and a log belong to a name: another device under the name of
        // one still being recorded waits for it.
        const auto& name = d.names.front();
        if (std::any_of(fixtures_.begin(), fixtures_.end(),
                        [&](const auto& g) { return g.second->thread && g.second->port == name; }))
            continue;
        f->port = name;
        f->known.clear();
        name_new(*f, d.names);
        f->log = log_of(name);
        f->present = true;
        start(*f);
    }
}

// Its log, opened when the fixture first comes; nullptr (said at once) when
// it cannot be written or is another fixture's.
log_file* station::log_of(const std::string& port)
{
    if (r_.log_dir.empty()) return nullptr;
    const auto path = (fs::path(r_.log_dir) / log_file_name(port)).string();
    auto& log = logs_[path];
    if (log.port == port) return log.file.get();
    std::string trouble;
    if (!log.port.empty()) {
        if (!log.clashes.insert(port).second) return nullptr;
        trouble = "cannot write the log " + path + ": it is also the log of " + log.port + "; " + port +
                  "'s boards are not logged";
    } else {
        std::string why;
        log.port = port;
        log.file = log_file::open(path, why);
        if (log.file && log.file->cut()) return log.file.get();
        trouble = "cannot write the log " + (log.file ? log.file->why() : why);
        log.file.reset();
    }
    // Said now, while the operator can still act; the exit status says it again.
    view_.say("fernwick-cli station: " + port + ": " + trouble);
    unlogged_ = true;
    return nullptr;
}

void station::start(fixture& f)
{
    f.thread = QThread::create([this, &f] { serve(f); });
    QObject::connect(f.thread, &QThread::finished, &loop_, [this, &f] {
        f.thread->deleteLater();
        f.thread = nullptr;
        if (!f.present) view_.state(f.port, "gone");
        // It, or another device under its name, may have come while its last board was recorded.
        ports_changed(devices_);
        maybe_quit();
    });
    f.thread->start();
}

// One fixture while its device is there: held, then board after board.
void station::serve(fixture& f)
{
    f.waiting = "waiting";
    bool taken_over = false;
    if (take_hold(f, taken_over)) {
        // The board that station served may still be there: asked, never woken.
        if (taken_over) wait_until_gone(f, true, "");
        while (!ending(f)) serve_board(f);
    }
    // Another device that took its number since is another fixture's arrival.
    if (gone(f)) f.present = false;
    f.hold.reset();
}

// The device held for this station; while another station holds it, said
// once and taken up when it frees.
bool station::take_hold(fixture& f, bool& taken_over)
{
    while (!ending(f)) {
        std::string why;
        const auto got = device_hold::take(device_name(f), f.hold, why);
        if (got == device_hold::outcome::held) return true;
        if (got == device_hold::outcome::held_elsewhere) {
            if (!taken_over)
                view_.say("fernwick-cli station: " + f.port +
                          " is held by another station; this station leaves it to that one");
            taken_over = true;
            view_.state(f.port, "held by another station");
        } else {
            view_.state(f.port, "cannot open the port: " + why);
        }
        sleep(f, seconds(1));
    }
    return false;
}

// Waits for a chip to answer, programs it, records it, and waits until it has gone.
void station::serve_board(fixture& f)
{
    const auto file = current_file();
    const int generation = generation_;
    if (!file) {
        view_.state(f.port, "waiting for a hex file that can be used");
        sleep(f, seconds(1));
        return;
    }
    view_.state(f.port, f.waiting);
    line_buffer lines([&](const std::string& line) {
        if (f.log) f.log->write_line(line);
    });
    std::ostream log(&lines);
    std::ostream no_notes(nullptr);  // said once, at the start
    auto bench = r_.bench;
    bench.wait_ms = -1;  // until a board answers
    bench.repeat_ms = k_repeat_ms;
    board_job job{device_name(f), "program", r_.baud, r_.choices, file->blocks, nullptr, nullptr, bench};
    f.in_command = false;
    job.stop_requested = [&] {
        return stop_signal() != 0 || (!f.in_command && (count_reached_ || gone(f) || generation_ != generation));
    };
    std::optional<serial_value> number;  // the same over the attempts of one board
    if (serials_) {
        job.serial = r_.serial;
        job.before_run = [&](core::app_state& s) { return stamp_board(s, *serials_, r_.serial.address, number); };
    }
    bool arrived = false;
    f.hold->discard_input();
    const auto o =
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
    // A chip that answered in any attempt was a board, whatever came after
    // (it left, its port went): it is recorded. No chip answered, or the
    // station ended the bring-up for its own reasons before the board's flash
    // was touched: no board to record.
    if (!(arrived || o.chip_answered) || (!arrived && o.result == result::stopped && stop_signal() == 0)) {
        if (o.port_unusable) {
            // Just plugged in, its permissions may not be set yet.
            view_.state(f.port, "cannot open the port: " + (o.reason.empty() ? std::string() : o.reason.front()));
            sleep(f, seconds(1));
        }
        return;
    }
    f.waiting = "waiting";
    const auto line = record(f, o, *file, number);
    hint_latency(f, o);
    // After the exit sequence the board runs its own program, which cannot be asked.
    wait_until_gone(f, o.result != result::succeeded || r_.bench.exit.empty(), line);
}

std::string station::record(fixture& f, board_outcome o, const station_file& file,
                            const std::optional<serial_value>& number)
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
        // The bring-up's line names no exchange: its error block says what went wrong.
        const auto said = std::find_if(o.reason.begin(), o.reason.end(), [](const std::string& r) {
            return r.find_first_not_of(' ') != std::string::npos;
        });
        if (o.run.step == "bring-up" && said != o.reason.end())
            text += ": " + said->substr(said->find_first_not_of(' '));
        // This station runs every board from its own --bsl-now: one whose
        // code moved needs a run of its own, gone or not.
        if (o.run.code.known && o.run.code.now() != r_.choices.bsl_now)
            text += "; " + line.substr(cut + 1) + " (fernwick-cli program)";
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
    return text;
}

// Once per fixture: its adapter holds the answers back.
void station::hint_latency(fixture& f, const board_outcome& o)
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
void station::wait_until_gone(fixture& f, bool can_be_asked, const std::string& line)
{
    if (!can_be_asked) {
        if (r_.bench.entry.empty()) return;
        view_.state(f.port, line + "; the next board once this port has gone");
        while (!ending(f)) sleep(f, milliseconds(k_presence_period_ms));
        return;
    }
    std::optional<presence_probe> probe;  // one port for every reading
    int silent = 0;
    while (!ending(f)) {
        sleep(f, milliseconds(k_presence_period_ms));
        if (ending(f)) return;
        if (!probe) probe.emplace(device_name(f), r_.baud);
        switch (probe->ask(k_presence_answer_ms)) {
        case presence::same_board: silent = 0; break;
        case presence::silent:
            if (++silent < k_silent_to_be_gone) break;
            view_.state(f.port, "board gone");
            return;
        case presence::other_answer:
            f.waiting = k_needs_reset;
            view_.state(f.port, k_needs_reset);
            return;
        case presence::unusable:
            // Another program holds the port for a while: no sign that the board left.
            probe.reset();
            break;
        }
    }
}

void station::maybe_quit()
{
    if (!stopping_ && stop_signal() == 0 && !count_reached_) return;
    stopping_ = true;
    for (const auto& [key, f] : fixtures_)
        if (f->thread) return;
    loop_.quit();
}

void station::file_changed(std::shared_ptr<const station_file> file, const std::string& why)
{
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
    // the folder is watched too, and a change is looked at once it settles,
    // off this thread: it serves the fixtures, whatever the file does.
    file_checker checker(loop_, [this](auto file, const std::string& why) { file_changed(std::move(file), why); });
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
        checker.check(r_);
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

    port_watcher ports(r_.ports, [this](const std::vector<port_device>& now) { ports_changed(now); });
    const auto now = ports.devices();
    view_.say("fernwick-cli station: " + std::to_string(now.size()) + " fixture(s) now; waiting for boards on " +
              [this] {
                  std::string all;
                  for (const auto& p : r_.ports) all += (all.empty() ? "" : " ") + p;
                  return all;
              }() +
              " (Ctrl-C ends)");
    ports_changed(now);
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
    return any_not_passed_ || unlogged_ || !write_errors_.empty() ? 1 : 0;
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
