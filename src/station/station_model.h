#pragma once
// The station's state as data: what each fixture is doing, the totals and
// the lines said, written by the station's threads and read by its views
// (the terminal's live lines, the operator's tiles). A view registers a
// listener, told of each change in the thread that made it, and reads a
// picture of the whole under the model's lock whenever it draws.

#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "station/board_session.h"

namespace fernwick::station {

struct station_totals {
    int passed = 0;
    int failed = 0;                                       // stopped boards too: they do not hold the file
    std::chrono::steady_clock::time_point first_board{};  // when the first board arrived
    std::chrono::steady_clock::time_point last_end{};     // when the last board ended
    int batch = 0;  // a job's batch: the station ends when this many passed; 0: none
    // A ledger server's trouble: "ledger server unreachable since 10:42, 3
    // records waiting"; empty while all is well.
    std::string ledger;

    // Passed boards in whole percent of those that ended, one decimal.
    std::string yield_text() const;
    // Boards that ended per hour, from the first one's arrival to the last
    // one's end: the station's pace while it had boards, idle hours left out
    // at its ends. "-" before a board ended.
    std::string per_hour_text() const;
};

enum class fixture_state {
    waiting,      // for a board
    programming,  // its board under way
    passed,
    failed,       // or stopped: until its board is taken out
    board_gone,   // the board left, the port stays
    needs_reset,  // a board that did not come up
    held,         // by another station or program
    cannot_open,  // the port
    no_file,      // waiting for a hex file that can be used
    no_serial,    // its board waits for a serial number the ledger server cannot give now
    absent,       // its device has gone
};

// How one board ended, for a view that shows more than the line.
struct board_end {
    std::string serial;  // passed: its number
    std::string reason;  // failed: what went wrong, one line
    std::string advice;  // failed: what to do
};

struct fixture_picture {
    std::string port;
    fixture_state state = fixture_state::waiting;
    std::string text;  // its line: "waiting", "passed  serial 1042  3 s", "gone" ...
    board_end end;     // of its last board
    board_progress progress;
    std::chrono::steady_clock::time_point since{};  // of its state
    std::vector<std::string> log;                   // of its last board, line by line
};

struct station_picture {
    std::vector<fixture_picture> fixtures;  // in the order they came
    station_totals totals;
    std::vector<std::string> said;  // the last lines said, oldest first
    bool ended = false;
};

struct station_change {
    enum class kind { state, progress, totals, said, ended } what;
    std::string port;  // state, progress
    std::string text;  // state: its line; said: the line
    board_progress progress;
    station_totals totals;
};

class station_model {
public:
    using listener = std::function<void(const station_change&)>;

    // Before the station runs: listeners are called without the lock held.
    void listen(listener l) { listeners_.push_back(std::move(l)); }

    void state(const std::string& port, fixture_state s, const std::string& text, const board_end& end = {});
    void progress(const std::string& port, const board_progress& b);
    void begin_board(const std::string& port);
    void log_line(const std::string& port, const std::string& line);
    void totals(const station_totals& t);
    // A line of its own above the fixtures: the file changed, a refusal.
    void say(const std::string& line);
    void end();

    // Without the boards' logs unless asked: a view redraws often, and reads a log only to show it.
    station_picture picture(bool with_logs = false) const;

private:
    fixture_picture& fixture_of(const std::string& port);
    void tell(const station_change& c);

    mutable std::mutex mutex_;
    station_picture now_;
    std::vector<listener> listeners_;
};

}  // namespace fernwick::station
