#pragma once
// What the operator of a station sees: on a terminal one line per fixture,
// redrawn in place, and the totals below them; otherwise one plain line per
// event, never a control character. Safe to call from every fixture's thread.

#include <chrono>
#include <mutex>
#include <string>
#include <vector>

#include "cli/board_session.h"

namespace fernwick::cli {

struct station_totals {
    int passed = 0;
    int failed = 0;                                       // stopped boards too: they do not hold the file
    std::chrono::steady_clock::time_point first_board{};  // when the first board arrived
    std::chrono::steady_clock::time_point last_end{};     // when the last board ended

    // Passed boards in whole percent of those that ended, one decimal.
    std::string yield_text() const;
    // Boards that ended per hour, from the first one's arrival to the last
    // one's end: the station's pace while it had boards, idle hours left out
    // at its ends. "-" before a board ended.
    std::string per_hour_text() const;
};

class station_view {
public:
    explicit station_view(bool live) : live_(live) {}
    bool live() const { return live_; }

    // A fixture's state in words: "waiting", "passed  serial 1042", "gone" ...
    // (plain output: a line when it changes).
    void state(const std::string& fixture, const std::string& text);
    // A board under way (plain output: a line at each tenth of the run).
    void progress(const std::string& fixture, const board_progress& b);
    void totals(const station_totals& t);
    // A line of its own above the fixtures: the file changed, a refusal.
    void say(const std::string& line);
    void redraw();
    void finish();

private:
    struct row {
        std::string fixture;
        std::string text;
        int tenth = -1;
    };
    row& row_of(const std::string& fixture);
    std::string totals_line() const;
    void erase_live();
    void draw_live();

    std::mutex mutex_;
    bool live_;
    std::vector<row> rows_;
    station_totals totals_;
    std::size_t drawn_ = 0;
};

}  // namespace fernwick::cli
