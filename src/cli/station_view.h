#pragma once
// What the operator of a station sees: on a terminal one line per fixture,
// redrawn in place, and the totals below them; otherwise one plain line per
// event, never a control character. It follows the station's model, told of
// each change in the thread that made it.

#include <chrono>
#include <mutex>
#include <string>
#include <vector>

#include "station/board_session.h"
#include "station/station_model.h"

namespace fernwick::cli {

// The station and the boards it runs, as every command sees them.
using namespace fernwick::station;

class station_view {
public:
    station_view(bool live, station_model& model);
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
