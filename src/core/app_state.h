#pragma once
// app_state: the one record of a run. It holds the shared variables, the
// message log and the state of every window and control that a handler
// touches; the windows only project it.

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/message_log.h"
#include "core/modem_lines.h"
#include "core/serial_link.h"
#include "core/ui_timer.h"

namespace fernwick::core {

// Flags hold true (-1) or false (0) in 16-bit integers.
using flag = std::int16_t;
inline constexpr flag k_true = -1;
inline constexpr flag k_false = 0;
inline constexpr std::int16_t k_nowhere = -99;  // bootstrap code in no sector
inline constexpr int k_reply_timeout_ms = 2000;

// What the program needs from the platform: serial links and UI timers.
struct platform {
    std::function<std::unique_ptr<serial_link>()> make_link;
    std::function<std::unique_ptr<ui_timer>()> make_timer;
};

enum class window_id { none, mainform, Warning, ConfirmForm, statusform, LocationForm, RESETFORM, AboutForm };

struct menu_state {
    bool visible = true;
};

struct check_box_state {
    int value = 0;  // 1 ticked, 0 not ticked
    bool enabled = true;
    // Ticked and locked by a code rule; `own_value` is what it held before,
    // which it returns to when no rule holds it any longer.
    bool by_rule = false;
    int own_value = 0;
};

struct window_state {
    bool visible = false;
    bool enabled = true;
};

// The progress of a programming run, shown below the log while one runs.
struct progress_state {
    bool visible = false;
    int sector = 0;
    int blocks_done = 0;
    int blocks_total = 0;
    std::chrono::steady_clock::time_point started;  // when the run's first exchange began
};

// Where the bootstrap loader code lies as far as a run's exchanges tell:
// where the operator said it lay, less each sector an erase was sent to,
// plus each sector the code was written to once that step succeeded.
struct code_location {
    bool known = false;              // a run began; before that it lies where the operator said
    std::int16_t given = k_nowhere;  // bsl_now when the run began
    bool in_0 = false, in_2 = false;

    void start(std::int16_t bsl_now) { *this = {true, bsl_now, bsl_now == 0, bsl_now == 2}; }
    bool in(int sector) const { return sector == 0 ? in_0 : sector == 2 && in_2; }
    // Sectors 1 and 3 never hold the code.
    void set(int sector, bool holds)
    {
        in_0 = sector == 0 ? holds : in_0;
        in_2 = sector == 2 ? holds : in_2;
    }
    // The bsl_now a next run needs: the one given while it still holds a copy,
    // else a sector that holds one, else k_nowhere.
    std::int16_t now() const;
};

// How a programming run went, for what reports it beyond the log (the
// production line's table and report): where it stands or stopped, and for a
// failure the exchange that failed and what the chip sent in it.
struct run_record {
    enum class result { none, running, succeeded, failed, stopped };
    result outcome = result::none;
    std::string step;      // "erase", "program block", "save code", "late-byte check"
    int sector = -1;       // of the step; -1 before the first
    int block = 0;         // the run's block being sent (1-based), 0 before the first
    byte_string received;  // what the chip sent in the failing exchange
    bool gone = false;     // the failure: the board's serial device went away
    code_location code;
    bool answered = false;  // the failure: the chip's answer came whole, its program waits
};

// A conversion made once for several boards: every run sends these blocks
// instead of converting the file again.
struct prepared_blocks {
    std::array<bool, 4> sectors{};  // the sector boxes the blocks were made for
    std::string new_file_name;
    std::string block_text;
    int block_count = 0;
    // The hex file's text as it was checked, read by every run instead of
    // the file on disk, which may have changed since (empty: the disk).
    std::string hex_text;
};

struct mainform_state : window_state {
    message_log dialog;
    menu_state program_, status_, reset_;
    std::unique_ptr<serial_link> COM;
    std::unique_ptr<ui_timer> Timer;
    progress_state progress;
};

struct resetform_state : window_state {
    int port_choice = 1;               // com1_ / com2_
    std::string baud_choice = "9600";  // bs_2400 ... bs_19200
    std::unique_ptr<serial_link> MSCom0;
    std::unique_ptr<ui_timer> Timer0;
};

struct statusform_state : window_state {
    std::array<std::string, 4> status_sector;  // status_sector_0 ... status_sector_3
};

struct locationform_state : window_state {
    std::int16_t now_choice = 2;      // sect0 / sect2 / external
    std::int16_t target_choice = 2;   // Option1 / Option2 / Option3
    std::int16_t segment_choice = 0;  // seg0 / seg1
    std::string preselected;          // why now_choice was chosen for the operator; empty when it was not
};

struct confirmform_state : window_state {
    std::array<check_box_state, 4> sector;  // sector0 ... sector3
    // The notice of the file's bytes that reach no flash, as the log has it:
    // shown in the window too, which may cover the log.
    std::vector<std::string> unplaced;
};

// Where a run that failed or was stopped left the bootstrap loader code: the
// next Load Hex-File preselects it, but only on the port the run was on, and
// says so, since another board may be on that port by then.
struct code_left_behind {
    int port = 0;       // comm_port of the run
    std::string began;  // the run's start, "10:42"
    code_location code;
};

struct focus_request {
    window_id window = window_id::none;
    std::uint64_t serial = 0;  // bumped at every request
};

struct app_state {
    explicit app_state(const platform& p);

    // Windows.
    mainform_state mainform;
    window_state Warning;
    confirmform_state ConfirmForm;
    statusform_state statusform;
    locationform_state LocationForm;
    resetform_state RESETFORM;
    window_state AboutForm;
    focus_request focus;

    // Shared variables.
    std::string line_end;
    std::string baud_rate;
    std::int16_t comm_port = 0;
    flag id_received = k_false;
    flag ack_pending = k_false;
    bool program_reset_seen = false;  // this bring-up's zero byte reset the chip's running program
    byte_string first_loader;
    std::int16_t bsl_target = 0;
    std::int16_t bsl_now = 0;
    std::int16_t sector0_segment = 0;
    flag sector0_on = k_false, sector1_on = k_false, sector2_on = k_false, sector3_on = k_false;
    std::string hex_file_name;
    // The hex file's text as OK in the location window read it: Program Flash
    // converts this, so that it programs exactly what the choices were made on.
    std::optional<std::string> hex_file_text;
    flag sector0_has_data = k_false, sector1_has_data = k_false, sector2_has_data = k_false, sector3_has_data = k_false;
    flag flash_error = k_false;
    std::int16_t current_sector = 0;
    std::string new_file_name;
    // The block records as this run's conversion made them. The sectors are
    // sent from here, never read back from the file, which another program
    // may change while the run goes on.
    std::string new_file_text;
    std::shared_ptr<const prepared_blocks> prepared;  // shared read-only between boards
    run_record run;
    std::optional<code_left_behind> code_left;
    bench_setup bench;  // the modem-line wiring and the wait for a board; none in the windows by default
    byte_string last_received;
    flag reply_awaited = k_false;
    std::int16_t command_code = 0;
    std::int16_t status_sector_code = 0;
    std::int16_t reply_step = 0;
    std::string status_hex_1, status_hex_2;

    // Set by the front end: draw the main window now; let it show progress
    // during a long blocking step (cheap, at most a few times a second); and
    // end the program.
    std::function<void()> repaint;
    std::function<void()> keep_alive;
    std::function<void()> quit;
    // Set by a front end that can be asked to stop (fernwick-cli on SIGINT):
    // checked before each exchange of a run; true ends the run there.
    std::function<bool()> stop_requested;

    message_log& log() { return mainform.dialog; }
    void repaint_now() const
    {
        if (repaint) repaint();
    }
    void keep_alive_now() const
    {
        if (keep_alive) keep_alive();
    }
    bool stop_now() const { return stop_requested && stop_requested(); }
    void give_focus(window_id w)
    {
        focus.window = w;
        ++focus.serial;
    }
};

// Start-up: windows created hidden but RESETFORM, command menus hidden,
// the defaults set.
void StartModul(app_state& s);

// Hides program_, status_ and reset_ together, as every failure does.
void hide_command_menus(app_state& s);

// The error block lines for a write the link refused: what failed and the
// link's own reason (device and the system's text); for a device that went
// away, gone_lines.
std::vector<std::string> send_failure_lines(const serial_link& link);

// The error block lines for a board whose serial device went away: that it is
// gone, and the link's reason.
std::vector<std::string> gone_lines(const serial_link& link);

// An error block of the lines, an empty line and the advice to re-start.
void error_block_with_restart(app_state& s, std::vector<std::string> lines);

}  // namespace fernwick::core
