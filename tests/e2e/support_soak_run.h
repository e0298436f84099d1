#pragma once
// One soak run's folder, stations and boards as they went, and the checks
// of the station's promises after it.

#include <QJsonObject>

#include <atomic>
#include <chrono>
#include <climits>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "support_board.h"
#include "support_flash.h"
#include "support_soak.h"

namespace fernwick::e2e {

// A board as it went: where its flash and its chip's bytes are.
struct board_seen {
    int fixture = 0;
    int number = 0;  // in its fixture, from 1
    bool fixed = false;
    std::string dump, trace;
    std::chrono::steady_clock::time_point sim_start;  // the trace's clock starts about then
    int last_ms = INT_MAX;                            // a USB board's end on that clock
    // When it left: its records are those begun since the board before it left.
    std::chrono::system_clock::time_point left = std::chrono::system_clock::time_point::max();
    bool unrecorded_at_limit = false;
};

inline int ms_between(std::chrono::steady_clock::time_point from,
                      std::chrono::steady_clock::time_point to = std::chrono::steady_clock::now())
{
    return static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(to - from).count());
}

inline std::string board_name(const board_seen& b)
{
    return "f" + std::to_string(b.fixture) + " board " + std::to_string(b.number);
}

class soak_run {
public:
    explicit soak_run(const soak_plan& p);

    std::string link(int f) const;
    std::string folder(int f) const;
    std::string ledger() const;  // the file or the server the stations share
    void add(board_seen b);
    void keep(std::unique_ptr<simulated_board> b);
    void say_broken(const std::string& invariant, const std::string& detail);

    // From one thread only: SIGTERM to the stations still running, and
    // whether all have ended.
    void stop_all();
    void look_at_stations();
    // SIGTERM to those still running, their ends waited for, the fixed
    // adapters' simulators stopped.
    void finish();
    std::vector<broken_promise> check();

    const soak_plan& plan;
    std::string dir, hex;
    std::vector<std::string> reports;
    std::atomic<bool> ended{false};  // every station has ended

private:
    struct station {
        std::unique_ptr<started_program> program;
        std::optional<std::chrono::steady_clock::time_point> signalled, ended;
        run_result result;
    };
    void check_fixture(int f, const std::vector<QJsonObject>& records, const std::vector<QJsonObject>& rows);
    // A board against the records begun while it was in its fixture.
    void check_board(const board_seen& b, const std::vector<QJsonObject>& its);
    void check_passed(const board_seen& b, const QJsonObject& record);
    void check_exit(std::size_t k);
    void check_job(const std::vector<QJsonObject>& rows);
    // The file's image with a board's own number where it goes.
    image numbered_image(image flash, unsigned serial) const;
    struct chip_words {
        bool heard = false;     // it answered in time for the host to read it
        bool commands = false;  // and the host sent more than zero bytes after
        bool any = false;       // it said anything at all
        // Its loader heard a presence reading first and answered it at a wrong
        // rate: deaf until a reset, it cannot be programmed and is not recorded.
        bool deaf = false;
    };
    chip_words chip_said(const board_seen& b) const;

    std::vector<station> stations_;
    std::mutex mutex_;
    std::vector<board_seen> boards_;
    std::vector<std::unique_ptr<simulated_board>> kept_;
    std::vector<broken_promise> broken_;
    std::map<std::string, image> expected_;  // by the file's SHA-256
    std::size_t place_ = 0;                  // the serial number's, in sector 1
    std::vector<std::string> job_sha256_;    // of each station's job
    std::string first_sha256_;               // of the file the run begins with, a job's
};

}  // namespace fernwick::e2e
