#pragma once
// What the operator sees while boards run: the message log line by line and
// where each board stands, live on a terminal, as plain lines otherwise.

#include <functional>
#include <mutex>
#include <streambuf>
#include <string>
#include <vector>

#include "station/board_session.h"
#include "station/line_buffer.h"

namespace fernwick::cli {

// The station and the boards it runs, as every command sees them.
using namespace fernwick::station;

// The terminal's width in characters (80 when it cannot be told).
int terminal_width();
// A line cut to the terminal's width, so that the lines drawn can be counted.
std::string fitted_to_terminal(std::string line);
// Takes back the `drawn` lines last drawn, the cursor left at the first.
void erase_lines(std::size_t& drawn);

// On a terminal, one live line per board redrawn in place (with a single
// board, below its log); otherwise plain lines prefixed with the device,
// never a control character. Safe to call from every board's thread.
class console {
public:
    console(std::vector<std::string> devices, bool live);

    bool single() const { return devices_.size() == 1; }
    void log_line(std::size_t board, const std::string& line);
    void progress(std::size_t board, const board_progress& b);
    void redraw();
    // The last picture stays; what follows starts on a line of its own.
    void finish();

private:
    void erase_live();
    void draw_live();

    std::mutex mutex_;
    std::vector<std::string> devices_;
    bool live_;
    std::vector<board_progress> boards_;
    std::size_t device_width_ = 0;
    std::size_t drawn_ = 0;
};

}  // namespace fernwick::cli
