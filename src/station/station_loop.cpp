// The station's loop: the fixtures that come and go, the hex file that may
// change, the ledger that may go, and the stop.

#include <fcntl.h>
#include <unistd.h>
#include <QFileSystemWatcher>
#include <QSocketNotifier>
#include <QTimer>
#include <filesystem>
#include <ostream>

#include "station/station_core.h"

namespace fernwick::station {

namespace {

namespace fs = std::filesystem;
using namespace std::chrono;

constexpr int k_file_settle_ms = 300;  // an editor's save is several events

}  // namespace

std::shared_ptr<const station_file> station_core::current_file() const
{
    const std::lock_guard lock(file_mutex_);
    return file_;
}

namespace {

std::shared_ptr<const station_file> checked_file(const station_setup& r, std::ostream& err)
{
    for (const auto& pattern : r.ports)
        if (const auto why = pattern_problem(pattern)) {
            err << "fernwick-cli station: " << *why << " (see --help)\n";
            return nullptr;
        }
    // Before the block file is written: it would replace a report or a ledger of that name.
    const auto block_file = fs::absolute(programming::new_file_name_for(r.choices.hex_file)).lexically_normal();
    std::vector<written_file> files{{"the block file " + block_file.string(), block_file.string()}};
    if (!r.report.empty()) files.push_back({"the report " + r.report, r.report});
    if (!r.ledger_file.empty()) files.push_back({"the ledger " + r.ledger_file, r.ledger_file});
    if (const auto clash = one_file(r.choices.hex_file, files)) {
        err << "fernwick-cli station: " << *clash << "; no board was touched\n";
        return nullptr;
    }
    std::string why;
    auto file = load_file(r, why);
    if (!file) {
        err << (why.starts_with("fernwick-cli") ? "" : "fernwick-cli station: ") << why << "; no board was touched\n";
        return nullptr;
    }
    // A job runs the file it was made with, or none.
    if (!r.hex_sha256.empty() && file->description.hex_sha256 != r.hex_sha256) {
        err << "fernwick-cli station: " << r.choices.hex_file << " is not the job's file: its SHA-256 is "
            << file->description.hex_sha256 << ", the job's " << r.hex_sha256 << "; no board was touched\n";
        return nullptr;
    }
    for (const auto& note : file->notes) err << "fernwick-cli station: " << note << "\n";
    return file;
}

}  // namespace

std::shared_ptr<const station_file> station_core::check(const station_setup& r, std::ostream& err)
{
    auto file = checked_file(r, err);
    if (!file) return nullptr;
    std::string why;
    std::error_code e;
    if (!r.report.empty() && fs::exists(r.report, e))
        if (const auto bad = check_report(r.report)) {
            err << "fernwick-cli station: cannot write the report: " << *bad << "\n";
            return nullptr;
        }
    // A server is asked: one that cannot be reached, or holds no ledger, is said now.
    if (!r.ledger_file.empty() && (is_server_ledger(r.ledger_file) || fs::exists(r.ledger_file, e)) &&
        !ledger::open_to_read(r.ledger_file, why)) {
        err << "fernwick-cli station: cannot keep the ledger: " << why << "\n";
        return nullptr;
    }
    if (r.serial.on && !r.serial.list_file.empty() && !read_serial_list(r.serial, why)) {
        err << "fernwick-cli station: " << why << "; no board was touched\n";
        return nullptr;
    }
    return file;
}

bool station_core::prepare(std::ostream& err)
{
    file_ = checked_file(r_, err);
    if (!file_) return false;
    std::string why;
    if (const auto bad = r_.report.empty() ? std::nullopt : check_report(r_.report)) {
        err << "fernwick-cli station: cannot write the report: " << *bad << "\n";
        return false;
    }
    if (!r_.ledger_file.empty()) {
        ledger_ = ledger::open(r_.ledger_file, r_.keeping, why);
        if (!ledger_) {
            err << "fernwick-cli station: cannot keep the ledger: " << why << "\n";
            return false;
        }
    }
    if (r_.serial.on && !(serials_ = open_serial_book(r_.serial, ledger_.get(), why))) {
        err << "fernwick-cli station: " << why << "; no board was touched\n";
        return false;
    }
    if (!r_.log_dir.empty()) {
        std::error_code e;
        fs::create_directories(r_.log_dir, e);
        if (e) {
            err << "fernwick-cli station: cannot make the log folder " << r_.log_dir << ": " << e.message() << "\n";
            return false;
        }
    }
    return true;
}

void station_core::sleep(fixture& f, milliseconds time)
{
    std::unique_lock lock(f.mutex);
    f.wake.wait_for(lock, time);
}

void station_core::wake_all()
{
    for (auto& [key, f] : fixtures_) {
        const std::lock_guard lock(f->mutex);
        f->wake.notify_all();
    }
}

// A name that comes for a device already served (the by-id link udev makes
// after ttyUSB0) joins its fixture: said once, never a second fixture.
void station_core::name_new(fixture& f, const std::vector<std::string>& names)
{
    for (const auto& name : names)
        if (f.known.insert(name).second && name != f.port)
            view_.say("fernwick-cli station: " + name + " is another name of " + f.port + ": one fixture");
}

void station_core::ports_changed(const std::vector<port_device>& devices)
{
    // A fixture is there while its device is there under the name on its
    // line; under other names only, it is another appearance.
    for (auto& entry : fixtures_) {
        auto& f = *entry.second;
        const auto d =
            std::find_if(devices.begin(), devices.end(), [&](const port_device& one) { return one.key == f.key; });
        if (d != devices.end() && std::find(d->names.begin(), d->names.end(), f.port) != d->names.end()) continue;
        const std::lock_guard lock(f.mutex);
        f.present = false;
        f.wake.notify_all();
    }
    if (stopping_ || stop_asked_ || count_reached_ || ledger_lost_ || stopped()) return;
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
log_file* station_core::log_of(const std::string& port)
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

void station_core::start(fixture& f)
{
    f.thread = QThread::create([this, &f] { serve(f); });
    QObject::connect(f.thread, &QThread::finished, &loop_, [this, &f] {
        f.thread->deleteLater();
        f.thread = nullptr;
        if (!f.present) view_.state(f.port, fixture_state::absent, "gone");
        // It, or another device under its name, may have come while its last
        // board was recorded: what is there now.
        ports_changed(matching_devices(r_.ports));
        maybe_quit();
    });
    f.thread->start();
}

// A ledger whose file went away keeps no record: a board programmed now
// would pass unrecorded and its number could be given again, so the station
// takes no further board and ends with the status of records lost.
bool station_core::ledger_gone()
{
    if (ledger_lost_) return true;
    if (!ledger_ || !ledger_->gone() || ledger_lost_.exchange(true)) return ledger_lost_;
    view_.say("fernwick-cli station: " + ledger_->gone_text() + "; the station takes no further board");
    QMetaObject::invokeMethod(
        &loop_,
        [this] {
            wake_all();
            maybe_quit();
        },
        Qt::QueuedConnection);
    return true;
}

void station_core::show_ledger_health()
{
    for (const auto& line : ledger_->news()) view_.say("fernwick-cli station: " + line);
    const auto trouble = ledger_->health().trouble;
    const std::lock_guard lock(totals_mutex_);
    if (trouble == totals_.ledger) return;
    totals_.ledger = trouble;
    view_.totals(totals_);
}

void station_core::maybe_quit()
{
    if (!stopping_ && !stopped() && !stop_asked_ && !count_reached_ && !ledger_lost_) return;
    stopping_ = true;
    for (const auto& [key, f] : fixtures_)
        if (f->thread) return;
    loop_.quit();
}

// A job never takes a new file: one that is not the job's stops new boards
// until the job's own is back.
void station_core::job_file_changed(std::shared_ptr<const station_file> file, std::string why)
{
    if (file && file->description.hex_sha256 != r_.hex_sha256) {
        why = r_.choices.hex_file + " changed on disk (SHA-256 " + file->description.hex_sha256 +
              ") and is not the job's file (SHA-256 " + r_.hex_sha256 +
              "): no new board is taken until the job's file is back; boards under way finish";
        file = nullptr;
    }
    const auto old = current_file();
    if (file && old) return;  // the job's file, as it was
    if (!file && !old && why == job_file_trouble_) return;
    {
        const std::lock_guard lock(file_mutex_);
        file_ = file;
    }
    ++generation_;
    if (file) {
        job_file_trouble_.clear();
        view_.say("fernwick-cli station: " + r_.choices.hex_file + " is the job's file again (SHA-256 " +
                  r_.hex_sha256 + "): boards go on");
    } else {
        job_file_trouble_ = why;
        view_.say((why.starts_with("fernwick-cli") ? "" : "fernwick-cli station: ") + why);
        if (why.find("is not the job's file") == std::string::npos)
            view_.say("fernwick-cli station: " + r_.choices.hex_file +
                      " changed and cannot be used: no new board is taken until the job's file is back");
    }
    wake_all();
}

void station_core::file_changed(const std::shared_ptr<const station_file>& file, const std::string& why)
{
    if (!r_.hex_sha256.empty()) return job_file_changed(file, why);
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

int station_core::run()
{
    int pipe_fds[2];
    if (::pipe2(pipe_fds, O_CLOEXEC | O_NONBLOCK) != 0) return 2;  // as a usage error: nothing was touched
    wake_on_stop(pipe_fds[1]);
    QSocketNotifier stop_notifier(pipe_fds[0], QSocketNotifier::Read);
    QObject::connect(&stop_notifier, &QSocketNotifier::activated, &loop_, [&] {
        char drained[16];
        while (::read(pipe_fds[0], drained, sizeof drained) > 0) {}
        stop_now("every board under way finishes its exchange");
    });

    // An editor saves by writing a new file and renaming it over the old:
    // the folder is watched too, and a change is looked at once it settles,
    // off this thread: it serves the fixtures, whatever the file does.
    file_checker checker(loop_, [this](const auto& file, const std::string& why) { file_changed(file, why); });
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

    // A ledger deleted, moved or replaced changes its folder: seen at once,
    // even while every board is only being watched.
    QFileSystemWatcher ledger_watch;
    if (ledger_ && !is_server_ledger(r_.ledger_file)) {
        ledger_watch.addPath(QString::fromStdString(fs::absolute(r_.ledger_file).parent_path().string()));
        QObject::connect(&ledger_watch, &QFileSystemWatcher::directoryChanged, &loop_,
                         [this](const QString&) { ledger_gone(); });
    }

    // A server's trouble and the records waiting for it, in the totals.
    QTimer ledger_health;
    if (ledger_) {
        QObject::connect(&ledger_health, &QTimer::timeout, &loop_, [this] { show_ledger_health(); });
        ledger_health.start(1000);
    }

    // A job's batch shows in the totals from the start: "Passed 0 of 50".
    if (!r_.hex_sha256.empty() && r_.count > 0) {
        const std::lock_guard lock(totals_mutex_);
        totals_.batch = r_.count;
        view_.totals(totals_);
    }
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
    if (stopped() || stop_asked_) {
        stopping_ = true;
        wake_all();
    }
    const bool under_way =
        std::any_of(fixtures_.begin(), fixtures_.end(), [](const auto& f) { return f.second->thread != nullptr; });
    if (!stopping_ || under_way) loop_.exec();
    wake_on_stop(-1);
    ::close(pipe_fds[0]);
    ::close(pipe_fds[1]);
    // Numbers held ahead go back; what could not reach the server is said, where it waits.
    if (ledger_)
        if (const auto waiting = ledger_->finish(); !waiting.empty()) {
            records_waiting_ = true;
            view_.say("fernwick-cli station: " + waiting);
        }
    view_.end();

    if (const int signal = stop_signal()) return 128 + signal;
    return any_not_passed_ || unlogged_ || ledger_lost_ || records_waiting_ || !write_errors_.empty() ? 1 : 0;
}

void station_core::stop_now(const char* what)
{
    stopping_ = true;
    if (!stop_said_.exchange(true)) view_.say(std::string("fernwick-cli station: stopping: ") + what);
    wake_all();
    maybe_quit();
}

void station_core::stop()
{
    if (stop_asked_.exchange(true)) return;
    QMetaObject::invokeMethod(
        &loop_, [this] { stop_now("no further board is taken; every board under way finishes and is recorded"); },
        Qt::QueuedConnection);
}

}  // namespace fernwick::station
