// The station's promises, checked after runs of random events that a seed
// reproduces. Each run puts boards into fixtures and takes them out at random
// moments (a swap also well under 2 s), on USB fixtures whose link comes and
// goes with the board and on fixed adapters whose port stays, with faults at
// random exchanges, --retries, a ledger and serial numbers, on one station or
// two sharing the ledger (on fixtures of their own, or both on the same
// ones), as a job or not, the hex file changed or replaced during the run, and SIGTERM at a
// random moment or --count. (A board that drops its line by itself, --fault
// drop-at, is left out: the simulator keeps its link then, and another
// simulator's new pseudo-terminal of the same number may come behind it.)
// After each run:
//
//   one record      every board whose chip answered has exactly one record in
//                   the reports and one row in the ledger, telling the same
//                   result, step, serial number and file;
//   holds the file  every board that passed holds exactly the file its record
//                   names, with the number its record gives;
//   one number      no serial number is kept by two passed boards in the ledger,
//                   nor one below --serial-start;
//   holds the code  every board holds the bootstrap code in sector 0 or 2, and
//                   where its record says the code lies, it does;
//   exit status     a station sent SIGTERM ends with 143 within 30 s; one that
//                   ended by itself reached --count and ends with 0 when every
//                   board it recorded passed, else 1;
//   bounded         a board left in its fixture for its record while a station
//                   runs gets it within 15 s;
//   the job         a station run as a job passes boards with the job's file
//                   only (a changed file holds new boards until it is back),
//                   and every record and row carries its job, operator and lot.
//
// The seed of each run is printed; FERNWICK_SEED=S runs S again, and
// FERNWICK_SOAK_RUNS=N runs N seeds from there (default 2).
// bench/station_soak.sh runs many.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <random>

#include "support_soak.h"

namespace {

using namespace fernwick::e2e;

// A run's events, all drawn from its seed.
soak_plan make_plan(unsigned seed)
{
    std::mt19937 random(seed);
    const auto pick = [&random](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
    soak_plan p;
    p.seed = seed;
    p.stations = pick(3) == 0 ? 2 : 1;
    p.shared_fixtures = p.stations == 2 && pick(2) == 0;
    p.retries = pick(3);
    p.serial_start = 1 + static_cast<std::uint64_t>(pick(5000));
    if (pick(3) == 0) {
        p.change_ms = 300 + pick(5000);
        p.change = static_cast<file_change>(pick(3));
    }
    const int fixtures = 1 + pick(3);
    int boards = 0;
    for (int f = 0; f < fixtures; ++f) {
        fixture_plan fixture;
        fixture.station = p.stations == 2 && !p.shared_fixtures ? f % 2 : 0;
        fixture.fixed = pick(3) == 0;
        if (fixture.fixed && pick(2) == 0)
            fixture.sim = {"--fault", "block:" + std::to_string(1 + pick(60)) + ":repeat"};
        for (int b = 2 + pick(3); b > 0; --b, ++boards) {
            board_plan board;
            board.arrive_ms = pick(3) == 0 ? pick(200) : pick(1500);
            board.stay_ms = pick(3) == 0 ? 100 + pick(2500) : 0;
            board.leave_ms = pick(4) == 0 ? pick(150) : pick(1200);
            if (pick(2) == 0) board.sim = {"--program-ms", std::to_string(1 + pick(4))};
            if (!fixture.fixed && pick(5) < 2) {
                const std::string n = std::to_string(1 + pick(40));
                const std::vector<std::vector<std::string>> faults = {
                    {"--fault", "block:" + n + ":status=93"},
                    {"--fault", "erase:" + std::to_string(1 + pick(4)) + ":status=93"},
                    {"--fault", "block:" + n + ":delay=" + std::to_string(200 + pick(3000))},
                    {"--fault", "block:" + n + ":repeat"},
                    {"--fault", "block:" + n + ":silence"},
                    {"--fault", "ack2:wrong", "--faulty-bring-ups", "1"},
                    {"--fault", "block:" + n + ":checksum"},
                    {"--fault", "erase:" + std::to_string(1 + pick(4)) + ":delay=" + std::to_string(200 + pick(3000))},
                };
                const auto& fault = faults[static_cast<std::size_t>(pick(static_cast<int>(faults.size())))];
                board.sim.insert(board.sim.end(), fault.begin(), fault.end());
            }
            fixture.boards.push_back(board);
        }
        p.fixtures.push_back(fixture);
    }
    if (pick(3) == 0)
        p.sigterm_ms = 500 + pick(8000);
    else if (p.stations == 1 && pick(3) == 0)
        p.count = 1 + pick(boards);
    p.job = pick(3) == 0;
    return p;
}

TEST(station_soak, every_board_keeps_the_stations_promises_whatever_comes)
{
    const char* again = std::getenv("FERNWICK_SEED");
    const char* runs_text = std::getenv("FERNWICK_SOAK_RUNS");
    const auto first =
        again ? static_cast<unsigned>(std::stoul(again)) : static_cast<unsigned>(std::random_device()() % 1000000);
    const int runs = runs_text ? std::atoi(runs_text) : 2;
    for (int i = 0; i < runs; ++i) {
        const auto plan = make_plan(first + static_cast<unsigned>(i));
        std::cout << "soak: seed " << plan.seed << ": " << describe(plan) << std::endl;
        SCOPED_TRACE("seed " + std::to_string(plan.seed) + " (FERNWICK_SEED=" + std::to_string(plan.seed) +
                     " runs it again)");
        const auto started = std::chrono::steady_clock::now();
        const auto broken = run_and_check(plan);
        for (const auto& b : broken) {
            std::cout << "soak: seed " << plan.seed << " broke " << b.invariant << ": " << b.detail << std::endl;
            ADD_FAILURE() << b.invariant << ": " << b.detail;
        }
        std::cout
            << "soak: seed " << plan.seed << " took "
            << std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started).count()
            << " ms, " << (broken.empty() ? "kept every promise" : "broke " + std::to_string(broken.size()))
            << std::endl;
    }
}

}  // namespace
