#pragma once
// The station soak's runs: a plan of random events, carried out against
// fernwick-cli station and mirel-sim boards, and the station's promises
// checked after it (listed in station_soak_test.cpp).

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace fernwick::e2e {

struct board_plan {
    int arrive_ms = 0;  // after the last board of its fixture left
    int stay_ms = 0;    // taken out then; 0: once it has a record (or 15 s), leave_ms later
    int leave_ms = 0;
    std::vector<std::string> sim;  // its own mirel-sim options (a USB fixture's board only)
};

struct fixture_plan {
    int station = 0;               // the folder its link is in: s0 or s1, the stations' patterns
    bool fixed = false;            // a fixed adapter: one simulator, each swap by SIGUSR2
    std::vector<std::string> sim;  // a fixed adapter's options, the same for each of its boards
    std::vector<board_plan> boards;
};

enum class file_change { renamed_over, rewritten, damaged_first };

struct soak_plan {
    unsigned seed = 0;
    int stations = 1;
    bool shared_fixtures = false;  // two stations whose patterns match the same fixtures
    int retries = 0;
    std::uint64_t serial_start = 1;
    int change_ms = -1;  // the hex file changed then, as `change` says
    file_change change = file_change::renamed_over;
    int sigterm_ms = -1;  // every station sent SIGTERM then
    int count = 0;        // --count of a single station
    bool job = false;     // each station runs a job made of the same choices; a file change comes back
    // A factory ledger: the stations share the ledger of this PostgreSQL
    // server (a connection string) instead of a file, each as a host of its
    // own ("host 0", "host 1") with a spool of its own, holding
    // `serial_lease` numbers ahead; `events` (a server's faults) run at
    // their time from the start.
    std::string server;
    int serial_lease = 0;
    std::vector<std::pair<int, std::function<void()>>> events;
    int record_limit_s = 15;  // "bounded": a board's record within this
    std::string must_say;     // a station's words, the fault seen
    std::vector<fixture_plan> fixtures;
};

std::string describe(const soak_plan& p);

struct broken_promise {
    std::string invariant;  // as named in the test's list
    std::string detail;
};

// Carries the plan out in a folder of its own and checks every promise.
std::vector<broken_promise> run_and_check(const soak_plan& p);

}  // namespace fernwick::e2e
