#pragma once
// The real programs for end-to-end tests: mirel-sim on a pseudo-terminal and
// fernwick-cli against it.

#include <sys/types.h>
#include <csignal>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace fernwick::e2e {

std::string binary(const std::string& name);  // a program of this build

// mirel-sim running with the given options until stopped.
class simulated_board {
public:
    explicit simulated_board(const std::vector<std::string>& options = {});
    ~simulated_board();
    simulated_board(const simulated_board&) = delete;
    simulated_board& operator=(const simulated_board&) = delete;

    const std::string& device() const { return device_; }
    void press_reset() const;  // the board's reset button
    // The board taken out of its fixture, or the next one put in (SIGUSR2);
    // returns once the simulator has had time to do so.
    void take_out_or_put_in() const;
    // SIGTERM and wait; the exit status.
    int stop();

private:
    pid_t pid_ = -1;
    std::string device_;
};

struct run_result {
    int status = -1;
    std::string out;
    std::string err;
};

// A program started in the background with its output in files, signalled
// and waited for at will; killed when dropped while it still runs.
class started_program {
public:
    explicit started_program(const std::vector<std::string>& argv);
    ~started_program();
    started_program(const started_program&) = delete;
    started_program& operator=(const started_program&) = delete;

    void signal(int number) const;
    std::string said() const;  // its output so far, stdout then stderr
    bool ended();
    // Until its end, killed after `timeout_s` (status -1); once.
    run_result wait(int timeout_s);

private:
    std::string dir_;
    pid_t pid_ = -1;
    std::optional<int> status_;
};

// Runs a program to its end (killed after `timeout_s`, status -1), collecting
// its output; safe while other threads start programs too. With
// `reader_gone` its standard output is a pipe whose reader has already left,
// as after "| head". With `stop_after_ms` it is sent `stop_signal` then, as
// an operator stopping a line would, and again after `again_after_ms`.
run_result run(const std::vector<std::string>& argv, int timeout_s = 120, bool reader_gone = false,
               int stop_after_ms = 0, int stop_signal = SIGTERM, int again_after_ms = 0);

// Whether `done` came true within `seconds`, asked every 10 ms.
bool within(int seconds, const std::function<bool()>& done);

// A new folder under $TMPDIR, removed when the test program ends.
std::string temp_dir();
std::string read_file(const std::string& path);
void write_file(const std::string& path, const std::string& text);

}  // namespace fernwick::e2e
