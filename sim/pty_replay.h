#pragma once
// mirel-sim --replay: instead of the chip model, the pseudo-terminal plays
// back the chip's side of a FERNWICK_TRACE file, so that a failure from a bug
// report can be reproduced without the board.

#include <fstream>
#include <string>

#include "sim_options.h"
#include "trace_replay.h"

namespace fernwick::sim {

class pty_replay {
public:
    pty_replay(const sim_options& options, replay_script script);
    ~pty_replay();
    pty_replay(const pty_replay&) = delete;
    pty_replay& operator=(const pty_replay&) = delete;

    // Creates the pseudo-terminal (and the --link symlink); false with the reason.
    bool open(std::string& error);
    const std::string& device() const { return device_; }

    // Plays until SIGTERM or SIGINT arrives on the signal fd. A board reset
    // (SIGUSR1, the port closed) does not start the trace again: the host
    // is expected to go on as it did in the traced run.
    void run(int signal_fd);

private:
    long long now_ms() const;
    void read_host(long long now);
    void watch_host(long long now);
    void play(long long now);
    void write_backlog();
    int poll_timeout(long long now) const;
    void trace(long long now, const std::string& what);

    sim_options options_;
    trace_player player_;
    int master_ = -1;
    std::string device_;
    long long start_ns_ = 0;
    bool host_closed_ = true;  // until the host opens the device
    std::string backlog_;      // the part of an answer the pseudo-terminal has not taken yet
    std::ofstream trace_;
};

// Reads and plays the --replay file, printing the device first as the
// simulated board does; the exit status of mirel-sim.
int run_replay(const sim_options& options, int signal_fd);

}  // namespace fernwick::sim
