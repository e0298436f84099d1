#pragma once
// The station, shared by its two sources: the fixtures and the file
// (station_command.cpp), and the boards of one fixture (station_board.cpp).

#include <QEventLoop>
#include <QThread>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "cli/board_outcome.h"
#include "cli/fixtures.h"
#include "cli/ledger.h"
#include "cli/options.h"
#include "cli/program_command.h"
#include "cli/serial_numbers.h"
#include "cli/station_file.h"
#include "cli/station_view.h"
#include "cli/written_files.h"

namespace fernwick::cli {

// The fixtures that match the patterns, each served by a thread of its own
// while its device is there; the main thread's event loop only learns of
// ports and of the hex file changing, and hands work on.
class station {
public:
    station(const cli_request& r, station_view& view) : r_(r), view_(view) {}

    // The file and the records; false with the reason said (exit 2).
    bool prepare();
    // Until a stop or --count; the exit status.
    int run();

private:
    // One device, whatever its names, served by one thread at a time.
    struct fixture {
        std::string key;
        std::string port;             // its name on the lines: the first it had when it came
        std::set<std::string> known;  // the names said to be its (the main thread's)
        std::size_t index = 0;
        log_file* log = nullptr;
        QThread* thread = nullptr;
        std::atomic<bool> present{true};
        std::atomic<bool> in_command{false};
        std::mutex mutex;
        std::condition_variable wake;
        // Its thread's:
        std::optional<device_hold> hold;
        std::string waiting = "waiting";  // the line while no chip answers
        bool hinted = false;              // the latency hint was given
        // A board it served may still be in it, its device still there (the
        // thread ended for a stop or a name gone): whether it can be asked.
        std::optional<bool> board_in;
    };
    struct fixture_log {
        std::string port;  // whose log it is
        std::unique_ptr<log_file> file;
        std::set<std::string> clashes;  // other fixtures whose log name it is too, said
    };

    bool gone(const fixture& f) const { return !f.present || (f.hold && f.hold->gone()); }
    bool ending(const fixture& f) const { return stop_signal() != 0 || count_reached_ || ledger_lost_ || gone(f); }
    bool ledger_gone();
    void sleep(fixture& f, std::chrono::milliseconds time);
    void wake_all();
    void ports_changed(const std::vector<port_device>& devices);
    void name_new(fixture& f, const std::vector<std::string>& names);
    log_file* log_of(const std::string& port);
    void start(fixture& f);
    void serve(fixture& f);
    bool take_hold(fixture& f, bool& taken_over);
    void serve_board(fixture& f);
    std::string record(fixture& f, board_outcome o, const station_file& file,
                       const std::optional<serial_value>& number);
    void hint_latency(fixture& f, const board_outcome& o);
    void wait_until_gone(fixture& f, bool can_be_asked, const std::string& line);
    void watch_board(fixture& f, bool can_be_asked, const std::string& line);
    void file_changed(const std::shared_ptr<const station_file>& file, const std::string& why);
    void maybe_quit();
    std::shared_ptr<const station_file> current_file() const;

    const cli_request& r_;
    station_view& view_;
    std::map<std::string, std::unique_ptr<fixture>> fixtures_;  // by device
    std::map<std::string, fixture_log> logs_;                   // by path
    std::shared_ptr<const station_file> file_;                  // nullptr while the file on disk cannot be used
    mutable std::mutex file_mutex_;
    std::atomic<int> generation_{0};  // of the file: a fixture waiting with an older one starts again
    std::atomic<bool> count_reached_{false};
    std::atomic<bool> ledger_lost_{false};  // its file deleted or replaced: no board may be taken
    std::mutex totals_mutex_;
    station_totals totals_;
    bool any_not_passed_ = false;
    bool unlogged_ = false;  // a fixture's log could not be written
    std::vector<std::string> write_errors_;
    QEventLoop loop_;
    std::atomic<bool> stopping_{false};
    std::string hex_stamp_;
    std::unique_ptr<ledger> ledger_;
    std::unique_ptr<serial_book> serials_;
};

}  // namespace fernwick::cli
