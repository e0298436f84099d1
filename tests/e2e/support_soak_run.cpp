#include "support_soak_run.h"

#include <QCryptographicHash>
#include <QJsonValue>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <sstream>

namespace fernwick::e2e {

namespace {

namespace fs = std::filesystem;
using steady = std::chrono::steady_clock;

constexpr int k_stop_limit_s = 30;
constexpr int k_heard_ms = 300;  // an answer the host had this long to read before the board or the station left

std::string sha256_of(const std::string& path)
{
    const auto text = read_file(path);
    return QCryptographicHash::hash(QByteArray(text.data(), static_cast<qsizetype>(text.size())),
                                    QCryptographicHash::Sha256)
        .toHex()
        .toStdString();
}

// Four bytes in sector 1 that neither file gives.
std::size_t free_place(const reference& a, const reference& b)
{
    const auto given = [](const reference& r, std::size_t at) { return r[0][at] == r[1][at]; };
    std::size_t place = 0x18000;
    while (place < 0x20000 && std::any_of(&a[0][place], &a[0][place + 4], [&](const auto& byte) {
               const auto at = static_cast<std::size_t>(&byte - &a[0][0]);
               return given(a, at) || given(b, at);
           }))
        place += 4;
    return place;
}

}  // namespace

soak_run::soak_run(const soak_plan& p) : plan(p), dir(temp_dir()), hex(dir + "/app.hex")
{
    for (const char* sub : {"a", "b", "s0", "s1"}) fs::create_directory(dir + "/" + sub);
    for (std::size_t f = 0; f < p.fixtures.size(); ++f) fs::create_directory(folder(static_cast<int>(f)));
    const auto first = generated(dir + "/a", p.seed), second = generated(dir + "/b", p.seed + 1000000);
    fs::copy_file(first, hex);
    const auto ref_a = read_with_srec_cat(first, dir + "/a"), ref_b = read_with_srec_cat(second, dir + "/b");
    const auto before = random_flash(dir, p.seed, 2);
    first_sha256_ = sha256_of(first);
    expected_[first_sha256_] = expected_flash(before, ref_a, "0,1,2,3", 2, 0);
    expected_[sha256_of(second)] = expected_flash(before, ref_b, "0,1,2,3", 2, 0);
    place_ = free_place(ref_a, ref_b);
    char serial[32];
    std::snprintf(serial, sizeof serial, "%zXh:4", place_);
    std::vector<std::vector<std::string>> commands;
    for (int k = 0; k < p.stations; ++k) {
        const auto folder = dir + "/s" + std::to_string(p.shared_fixtures ? 0 : k);
        reports.push_back(dir + "/report" + std::to_string(k) + ".jsonl");
        std::vector<std::string> argv{binary("fernwick-cli"), "station", hex, "--allow-unplaced", "--port"};
        argv.insert(argv.end(),
                    {folder + "/*", "--report", reports.back(), "--ledger", ledger(), "--serial", serial,
                     "--serial-start", std::to_string(p.serial_start), "--retries", std::to_string(p.retries)});
        if (p.count) argv.insert(argv.end(), {"--count", std::to_string(p.count)});
        if (p.job) {
            // The same choices made into a job first, then run as one.
            const auto job = dir + "/s" + std::to_string(k) + ".job";
            argv[1] = "job";
            argv.insert(argv.begin() + 2, {"make", job});
            argv.insert(argv.end(), {"--product", "Soak board"});
            if (const auto made = run(argv); made.status != 0) say_broken("setup", "job make: " + made.err);
            job_sha256_.push_back(sha256_of(job));
            argv = {binary("fernwick-cli"),
                    "station",
                    "--job",
                    job,
                    "--operator",
                    "op " + std::to_string(k),
                    "--lot",
                    "lot " + std::to_string(p.seed)};
        }
        // The host's own, beside a job as without one.
        if (!p.server.empty())
            argv.insert(argv.end(), {"--host-name", "host " + std::to_string(k), "--spool",
                                     dir + "/spool" + std::to_string(k) + ".sqlite", "--serial-lease",
                                     std::to_string(p.serial_lease)});
        commands.push_back(argv);
    }
    // Every job made before any station starts: an engineer makes them before the line runs, and a
    // station making the ledger meanwhile would show job make a database half made.
    for (const auto& argv : commands) stations_.push_back({std::make_unique<started_program>(argv), {}, {}, {}});
}

// The block that holds the number is sent with 00h padding when the file leaves it empty.
image soak_run::numbered_image(image flash, unsigned serial) const
{
    const auto at = place_ - 0x10000, block = at / 64 * 64;
    if (std::all_of(&flash[block], &flash[block + 64], [](auto b) { return b == 0xFF; }))
        std::fill(&flash[block], &flash[block + 64], 0);
    for (std::size_t i = 0; i < 4; ++i) flash[at + i] = static_cast<std::uint8_t>(serial >> (8 * i));
    return flash;
}

std::string soak_run::link(int f) const
{
    return dir + "/s" + std::to_string(plan.fixtures[static_cast<std::size_t>(f)].station) + "/f" + std::to_string(f);
}

std::string soak_run::ledger() const { return plan.server.empty() ? dir + "/ledger.db" : plan.server; }

std::string soak_run::folder(int f) const { return dir + "/f" + std::to_string(f); }

void soak_run::add(board_seen b)
{
    const std::lock_guard hold(mutex_);
    boards_.push_back(std::move(b));
}

void soak_run::keep(std::unique_ptr<simulated_board> b)
{
    const std::lock_guard hold(mutex_);
    kept_.push_back(std::move(b));
}

void soak_run::say_broken(const std::string& invariant, const std::string& detail)
{
    const std::lock_guard hold(mutex_);
    broken_.push_back({invariant, detail});
}

void soak_run::stop_all()
{
    for (auto& s : stations_)
        if (!s.signalled && !s.ended) {
            s.program->signal(SIGTERM);
            s.signalled = steady::now();
        }
}

void soak_run::look_at_stations()
{
    bool all = true;
    for (auto& s : stations_) {
        if (!s.ended && s.program->ended()) s.ended = steady::now();
        all = all && s.ended;
    }
    ended = all;
}

void soak_run::finish()
{
    look_at_stations();
    stop_all();
    for (std::size_t k = 0; k < stations_.size(); ++k) {
        auto& s = stations_[k];
        s.result = s.program->wait(k_stop_limit_s);
        if (!s.ended) s.ended = steady::now();
        write_file(dir + "/station" + std::to_string(k) + ".out", s.result.out + s.result.err);
    }
    ended = true;
    kept_.clear();  // each fixed adapter's last board dumped
}

soak_run::chip_words soak_run::chip_said(const board_seen& b) const
{
    // The station's end bounds what it can have heard.
    auto stop = steady::time_point::max();
    for (const auto& s : stations_) stop = std::min({stop, s.signalled.value_or(stop), s.ended.value_or(stop)});
    int first = 0, out = b.last_ms, last = std::min(b.last_ms, ms_between(b.sim_start, stop));
    std::istringstream lines(read_file(b.trace));
    std::vector<std::pair<int, std::string>> events;
    const auto board = "board " + std::to_string(b.number);
    for (std::string line; std::getline(lines, line);) {
        const int at = std::atoi(line.c_str());
        const auto what = line.substr(line.find(' ') + 1);
        if (b.fixed && what == board + " put in") first = at;
        if (b.fixed && what == board + " taken out") out = std::min(out, at), last = std::min(last, at);
        events.emplace_back(at, what);
    }
    chip_words said;
    std::string asked;  // the host's first bytes to this board
    for (const auto& [at, what] : events) {
        // An answer just before the stop may have been heard: the clocks differ a little.
        if (at < first || (b.fixed && at > out)) continue;
        if (asked.empty() && what.starts_with("host ")) asked = what;
        const bool answer = what.starts_with("chip ") && what.find("(lost") == std::string::npos;
        if (answer && !said.any && asked == "host 40 40") said.deaf = true;
        if (said.deaf) continue;
        said.any = said.any || answer;
        if (at > last - k_heard_ms || (b.fixed && at > last)) continue;
        said.heard = said.heard || answer;
        if (said.heard && what.starts_with("host ") && what != "host 00" &&
            what.find("(no board)") == std::string::npos)
            said.commands = true;
    }
    return said;
}

std::vector<broken_promise> soak_run::check()
{
    std::vector<QJsonObject> records;
    for (const auto& report : reports)
        for (const auto& r : json_lines(read_file(report))) records.push_back(r);
    std::vector<QJsonObject> rows;
    if (!plan.server.empty() || fs::exists(ledger())) {
        const auto listed = run({binary("fernwick-cli"), "ledger", ledger(), "--json"});
        if (listed.status != 0) say_broken("one record", "the ledger cannot be read: " + listed.err);
        rows = json_lines(listed.out);
    }
    for (std::size_t f = 0; f < plan.fixtures.size(); ++f) check_fixture(static_cast<int>(f), records, rows);
    if (plan.job) check_job(rows);
    std::map<QString, int> kept;
    for (const auto& row : rows) {
        const auto serial = row["serial"].toString();
        if (row["result"] != "passed") continue;
        if (++kept[serial] == 2)
            say_broken("one number", "serial number " + serial.toStdString() + " is kept by two passed boards");
        if (serial.toULongLong() < plan.serial_start)
            say_broken("one number", "serial number " + serial.toStdString() + " lies below --serial-start");
    }
    for (const auto& b : boards_) {
        const auto flash = read_image(b.dump);
        if (flash.size() != k_flash)
            say_broken("setup", board_name(b) + ": no flash image in " + b.dump);
        else if (!holds_the_code(flash))
            say_broken("holds the code", board_name(b) + " holds the bootstrap code in neither sector 0 nor 2");
        // A board whose loader heard a presence reading first waits for its reset (checked with its records).
        if (b.unrecorded_at_limit && !chip_said(b).deaf)
            say_broken("bounded", board_name(b) + " had no record after " + std::to_string(plan.record_limit_s) +
                                      " s in its fixture (its chip " +
                                      (chip_said(b).heard ? "answered" : "was never heard") + ")");
    }
    for (std::size_t k = 0; k < stations_.size(); ++k) check_exit(k);
    if (!plan.must_say.empty() && std::none_of(stations_.begin(), stations_.end(), [&](const station& s) {
            return (s.result.out + s.result.err).find(plan.must_say) != std::string::npos;
        }))
        say_broken("setup", "no station said \"" + plan.must_say + "\"");
    if (const char* keep = std::getenv("FERNWICK_SOAK_KEEP"); keep && !broken_.empty()) {
        std::error_code ignored;
        const auto kept = std::string(keep) + "/seed-" + std::to_string(plan.seed);
        fs::copy(dir, kept, fs::copy_options::recursive | fs::copy_options::copy_symlinks, ignored);
        write_file(kept + "/plan.txt", describe(plan) + "\n");
    }
    return broken_;
}

}  // namespace fernwick::e2e
