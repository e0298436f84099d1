#pragma once
// What one board's run came to, as the production line's table, report and
// failure line tell it.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/app_state.h"
#include "station/serial_numbers.h"

namespace fernwick::station {

// One attempt of a board run with retries, as the report keeps it.
struct attempt_record {
    core::run_record::result result = core::run_record::result::none;
    core::run_record run;
    std::int16_t bsl_now = 2;  // where the attempt began with the code
    double seconds = 0;
    int blocks_sent = 0;
};

struct board_outcome {
    std::string device;
    // succeeded, failed or stopped; failed also when the bring-up failed
    // (run.step is then "bring-up").
    core::run_record::result result = core::run_record::result::none;
    core::run_record run;      // step, sector, block and the bytes received
    std::vector<int> sectors;  // the sectors chosen for programming
    int blocks_sent = 0;       // blocks the chip acknowledged
    int blocks_total = 0;
    std::uint64_t bytes_sent = 0;      // on the command link
    std::uint64_t bytes_received = 0;  // on the command link
    double seconds = 0;                // from the reset step to the end
    std::chrono::system_clock::time_point started;
    int exit_status = 0;  // 0 ok, 1 failed, 2 the file could not be used
    // What the board's log said of its failure: its last error block, then
    // the advice below it.
    std::vector<std::string> reason;
    // How late the chip's answers came on average beyond the line time and
    // the chip's time (the link's measure); nullopt when no block was answered.
    std::optional<double> answer_delay_ms;
    // With retries: every attempt in turn, the last one too; the fields
    // above are the last attempt's, the bytes and seconds those of all.
    std::vector<attempt_record> attempts;
    int attempts_allowed = 0;     // 1 + the retries; 0 without retries
    bool reset_for_next = false;  // the chip confirmed a software reset after the failure
    bool port_unusable = false;   // the bring-up sent not even the zero byte: the port could not be used
    bool chip_answered = false;   // a byte came back on either link, in any attempt: a board was there

    // The serial number the board passed with and keeps; none for a board that failed.
    std::optional<serial_value> serial;
};

}  // namespace fernwick::station
