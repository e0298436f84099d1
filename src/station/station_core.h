#pragma once
// The station, shared by its two sources: the fixtures and the file
// (station_loop.cpp), and the boards of one fixture (station_board.cpp).
// What it does is told to its model, which its views read.

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

#include "station/board_outcome.h"
#include "station/fixtures.h"
#include "station/ledger.h"
#include "station/serial_numbers.h"
#include "station/station_file.h"
#include "station/station_model.h"
#include "station/station_setup.h"
#include "station/stop_signals.h"
#include "station/written_files.h"

namespace fernwick::station {

// The fixtures that match the patterns, each served by a thread of its own
// while its device is there; the main thread's event loop only learns of
// ports and of the hex file changing, and hands work on.
class station_core {
public:
    station_core(const station_setup& r, station_model& model) : r_(r), view_(model) {}

    // The file and the records; false with the reason said on `err` (exit 2).
    bool prepare(std::ostream& err);
    // The checks of prepare() that write nothing but the block file: the
    // patterns, the files, the hex file, and a report, a ledger or a serial
    // list already there. The file; nullptr with the reason said on `err`.
    static std::shared_ptr<const station_file> check(const station_setup& r, std::ostream& err);
    // Until a stop or --count: 0 every board that arrived passed, 1 one did
    // not or a record could not be written, 128 + the signal that stopped it.
    int run();
    // No further board is taken; every board under way finishes its run and
    // is recorded, as when --count is reached. From any thread.
    void stop();
    // The records that could not be written, once it has run.
    const std::vector<std::string>& write_errors() const { return write_errors_; }

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
        std::string waiting = "waiting";                  // the line while no chip answers
        std::string job_file_stamp;                       // of the job's file on disk, hashed last
        bool hinted = false;                              // the latency hint was given
        fixture_state end_state = fixture_state::passed;  // of its last board
        board_end end;
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
    // A stop signal ends every board after its exchange under way; a view's
    // stop, as --count, ends only the waiting: boards under way finish whole.
    bool stopped() const { return stop_signal() != 0; }
    bool ending(const fixture& f) const
    {
        return stopped() || stop_asked_ || count_reached_ || ledger_lost_ || gone(f);
    }
    bool ledger_gone();
    void show_ledger_health();
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
    void job_file_changed(std::shared_ptr<const station_file> file, std::string why);
    bool job_file_moved(fixture& f, const station_file& file);
    void maybe_quit();
    std::shared_ptr<const station_file> current_file() const;

    void stop_now(const char* what);

    const station_setup& r_;
    station_model& view_;
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
    bool unlogged_ = false;         // a fixture's log could not be written
    bool records_waiting_ = false;  // in a server's spool at the end, or refused by it
    std::vector<std::string> write_errors_;
    QEventLoop loop_;
    std::atomic<bool> stopping_{false};
    std::atomic<bool> stop_asked_{false};  // by a view, not a signal
    std::atomic<bool> stop_said_{false};
    std::string hex_stamp_;
    std::string job_file_trouble_;  // why the job's file cannot be used, said once
    std::unique_ptr<ledger> ledger_;
    std::unique_ptr<serial_book> serials_;
};

}  // namespace fernwick::station
