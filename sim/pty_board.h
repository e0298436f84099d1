#pragma once
// The simulated board on a pseudo-terminal: the host opens the device like
// a serial port and talks to the chip model over it in real time.

#include <fstream>
#include <memory>
#include <string>

#include "chip_model.h"
#include "sim_options.h"

namespace fernwick::sim {

// With --reset-on-close, how long the host must keep the device closed
// before the board resets: longer than the switch from the bootstrap link
// to the command link, also on a machine so busy (dozens of boards brought
// up at once) that the switch waits 100 ms and more for the processor.
inline constexpr int k_reset_after_close_ms = 500;

class pty_board {
public:
    explicit pty_board(const sim_options& options);
    ~pty_board();
    pty_board(const pty_board&) = delete;
    pty_board& operator=(const pty_board&) = delete;

    // Creates the pseudo-terminal (and the --link symlink); false with the reason.
    bool open(std::string& error);
    const std::string& device() const { return device_; }
    chip_model& chip() { return *chip_; }
    // The --preload image into the board's flash; false with the reason.
    bool preload(std::string& error);
    // The board's flash into its --dump file; false when it cannot be written.
    bool dump_flash();

    // Serves the host until SIGTERM or SIGINT arrives on the signal fd.
    void run(int signal_fd);

private:
    using micros = chip_model::micros;  // since the board started

    micros now_us() const;
    void serve(micros now, short master_events);
    void watch_host(micros now, short events);
    void read_host(micros now);
    void follow_line_rate(micros now);
    void pass_answers(micros now);
    void write_backlog();
    void reset_board(micros now, const char* why);
    bool handle_signal(int signal_fd);
    void take_out(micros now);
    void put_in(micros now);
    // -1: no time-out
    micros poll_timeout(micros now) const;
    void trace(micros now, const std::string& what);

    sim_options options_;
    std::unique_ptr<chip_model> chip_;
    int board_number_ = 1;  // of the boards put in, from 1
    bool taken_out_ = false;
    int master_ = -1;
    std::string device_;
    long long start_ns_ = 0;
    bool host_closed_ = false;  // the host had the device open and has closed it
    micros closed_since_ = 0;
    bool reset_for_close_ = false;
    std::string backlog_;  // answer bytes the pseudo-terminal has not taken yet
    std::ofstream trace_;
};

}  // namespace fernwick::sim
