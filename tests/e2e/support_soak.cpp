#include "support_soak.h"

#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>
#include <thread>

#include "support_board.h"
#include "support_flash.h"
#include "support_soak_run.h"

namespace fernwick::e2e {

namespace {

namespace fs = std::filesystem;
using steady = std::chrono::steady_clock;

constexpr int k_impatient_ms = 3000;

// Sleeps `ms` unless every station ends first; false then.
bool pause(const soak_run& s, int ms)
{
    const auto until = steady::now() + std::chrono::milliseconds(ms);
    while (!s.ended && steady::now() < until) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return !s.ended;
}

long recorded(const soak_run& s, const std::string& link)
{
    long n = 0;
    for (const auto& report : s.reports) n += static_cast<long>(records_of(json_lines(read_file(report)), link).size());
    return n;
}

// The board in its fixture for its planned time, or until it has a record;
// after one board of the fixture waited in vain, the others for a while only.
void stay(soak_run& s, const board_plan& b, const std::string& link, long before, board_seen& seen, bool& patient)
{
    if (b.stay_ms > 0 || !patient) {
        pause(s, patient ? b.stay_ms : k_impatient_ms);
        return;
    }
    const auto until = steady::now() + std::chrono::seconds(s.plan.record_limit_s);
    while (!s.ended && recorded(s, link) <= before && steady::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    seen.unrecorded_at_limit = !s.ended && recorded(s, link) <= before;
    patient = !seen.unrecorded_at_limit;
    pause(s, b.leave_ms);
}

// A board of fixture `f` with its flash dumped to `dump`, its bytes traced to `trace`.
std::vector<std::string> sim_options(const soak_run& s, int f, const std::string& dump, const std::string& trace,
                                     const std::vector<std::string>& own)
{
    std::vector<std::string> o{"--link", s.link(f), "--preload", s.dir + "/before.bin",
                               "--dump", dump,      "--trace",   trace};
    o.insert(o.end(), own.begin(), own.end());
    return o;
}

// A fixture whose link comes and goes with each board: a simulator each.
void usb_fixture(soak_run& s, int f)
{
    const auto& plan = s.plan.fixtures[static_cast<std::size_t>(f)];
    const auto link = s.link(f);
    bool patient = true;
    for (std::size_t b = 0; b < plan.boards.size(); ++b) {
        if (!pause(s, plan.boards[b].arrive_ms)) return;
        board_seen seen{f, static_cast<int>(b) + 1, false};
        seen.dump = s.folder(f) + "/dump." + std::to_string(b + 1);
        seen.trace = s.folder(f) + "/trace." + std::to_string(b + 1);
        const auto before = recorded(s, link);
        simulated_board board(sim_options(s, f, seen.dump, seen.trace, plan.boards[b].sim));
        seen.sim_start = steady::now();
        stay(s, plan.boards[b], link, before, seen, patient);
        seen.last_ms = ms_between(seen.sim_start);
        seen.left = std::chrono::system_clock::now();
        board.stop();
        s.add(std::move(seen));
    }
}

// A fixed adapter: one simulator, whose boards are taken out and put in.
void fixed_fixture(soak_run& s, int f)
{
    const auto& plan = s.plan.fixtures[static_cast<std::size_t>(f)];
    const auto dump = s.folder(f) + "/dump", trace = s.folder(f) + "/trace";
    auto options = sim_options(s, f, dump, trace, plan.sim);
    options.push_back("--fixed-adapter");
    std::unique_ptr<simulated_board> board;
    steady::time_point started;
    bool patient = true;
    for (std::size_t b = 0; b < plan.boards.size(); ++b) {
        if (!pause(s, plan.boards[b].arrive_ms)) break;
        const auto before = recorded(s, s.link(f));
        if (board) {
            board->take_out_or_put_in();
        } else {
            board = std::make_unique<simulated_board>(options);
            started = steady::now();
        }
        board_seen seen{f, static_cast<int>(b) + 1, true};
        seen.dump = b ? dump + "." + std::to_string(b + 1) : dump;
        seen.trace = trace;
        seen.sim_start = started;
        stay(s, plan.boards[b], s.link(f), before, seen, patient);
        // The last board stays in until the end.
        if (b + 1 < plan.boards.size() && !s.ended) {
            seen.left = std::chrono::system_clock::now();
            board->take_out_or_put_in();
        }
        s.add(std::move(seen));
    }
    if (board) s.keep(std::move(board));
}

void change_file(soak_run& s)
{
    if (s.plan.change_ms < 0 || !pause(s, s.plan.change_ms)) return;
    const auto next = read_file(s.dir + "/b/gen.hex");
    switch (s.plan.change) {
    case file_change::rewritten: write_file(s.hex, next); break;
    case file_change::damaged_first:
        write_file(s.hex, ":020000040001F9\n:01800000116F\n:00000001FF\n");  // a wrong checksum
        if (!pause(s, 1000)) return;
        [[fallthrough]];
    case file_change::renamed_over: write_file(s.hex + ".saved", next); fs::rename(s.hex + ".saved", s.hex);
    }
    // A job takes no other file: its own comes back for the boards held up meanwhile.
    if (!s.plan.job || !pause(s, 1500)) return;
    write_file(s.hex + ".saved", read_file(s.dir + "/a/gen.hex"));
    fs::rename(s.hex + ".saved", s.hex);
}

// Until every fixture's boards have come and gone: SIGTERM at its moment,
// and whether every station has ended.
void watch_stations(soak_run& s, const std::atomic<int>& fixtures_left)
{
    const auto began = steady::now();
    while (fixtures_left > 0) {
        if (s.plan.sigterm_ms >= 0 && ms_between(began) >= s.plan.sigterm_ms) s.stop_all();
        s.look_at_stations();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

}  // namespace

std::string describe(const soak_plan& p)
{
    const char* const changes[] = {"renamed over", "rewritten", "damaged, then renamed over"};  // as file_change
    std::string text = std::to_string(p.stations) + " station(s)" + (p.shared_fixtures ? " on the same fixtures" : "") +
                       ", --retries " + std::to_string(p.retries) + ", --serial-start " +
                       std::to_string(p.serial_start);
    if (p.count) text += ", --count " + std::to_string(p.count);
    if (p.job) text += ", as a job";
    if (p.sigterm_ms >= 0) text += ", SIGTERM at " + std::to_string(p.sigterm_ms) + " ms";
    if (p.change_ms >= 0)
        text += std::string(", the file ") + changes[static_cast<int>(p.change)] + " at " +
                std::to_string(p.change_ms) + " ms";
    for (std::size_t f = 0; f < p.fixtures.size(); ++f) {
        const auto& fixture = p.fixtures[f];
        text += "; f" + std::to_string(f) + " (" + (fixture.fixed ? "fixed" : "usb") + ", s" +
                std::to_string(fixture.station);
        for (const auto& o : fixture.sim) text += " " + o;
        text += "):";
        for (const auto& b : fixture.boards) {
            text += " [in " + std::to_string(b.arrive_ms) + " ms, " +
                    (b.stay_ms ? "out after " + std::to_string(b.stay_ms) + " ms"
                               : "out " + std::to_string(b.leave_ms) + " ms after its record");
            for (const auto& o : b.sim) text += " " + o;
            text += "]";
        }
    }
    return text;
}

std::vector<broken_promise> run_and_check(const soak_plan& p)
{
    soak_run s(p);
    std::atomic<int> left = static_cast<int>(p.fixtures.size());
    std::vector<std::thread> threads;
    for (std::size_t f = 0; f < p.fixtures.size(); ++f)
        threads.emplace_back([&s, &left, f] {
            try {
                (s.plan.fixtures[f].fixed ? fixed_fixture : usb_fixture)(s, static_cast<int>(f));
            } catch (const std::exception& e) {
                s.say_broken("setup", "fixture f" + std::to_string(f) + ": " + e.what());
            }
            --left;
        });
    std::thread changer([&s] { change_file(s); });
    std::thread events([&s] {
        const auto start = std::chrono::steady_clock::now();
        for (const auto& [at, event] : s.plan.events) {
            while (!s.ended && std::chrono::steady_clock::now() < start + std::chrono::milliseconds(at))
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            if (!s.ended) event();
        }
    });
    watch_stations(s, left);
    for (auto& t : threads) t.join();
    s.finish();
    changer.join();
    events.join();
    return s.check();
}

}  // namespace fernwick::e2e
