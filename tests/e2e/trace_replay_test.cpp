// A trace written by fernwick-cli (FERNWICK_TRACE) played back by
// mirel-sim --replay: the run repeats without the board it was made on.

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <thread>

#include <gtest/gtest.h>

#include "support_board.h"

namespace {

using namespace fernwick::e2e;

// fernwick-cli inherits the environment, so a trace is asked for around one run.
run_result status(const simulated_board& board, const std::string& trace = "")
{
    if (!trace.empty()) ::setenv("FERNWICK_TRACE", trace.c_str(), 1);
    auto result = run({binary("fernwick-cli"), "--device", board.device(), "status"});
    ::unsetenv("FERNWICK_TRACE");
    return result;
}

// A replay of the trace; its warnings go to `errors`, as mirel-sim inherits
// the test's standard error while it starts.
std::unique_ptr<simulated_board> replay(const std::string& trace, const std::string& errors)
{
    const int saved = ::dup(STDERR_FILENO);
    const int file = ::open(errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ::dup2(file, STDERR_FILENO);
    ::close(file);
    auto board = std::make_unique<simulated_board>(std::vector<std::string>{"--replay", trace});
    ::dup2(saved, STDERR_FILENO);
    ::close(saved);
    return board;
}

// A run that failed on the board fails the same way without it, so a trace
// from a bug report shows the failure again.
TEST(trace_replay, a_replayed_run_prints_what_the_traced_run_printed)
{
    const std::tuple<std::vector<std::string>, int, std::string> rows[] = {
        {{}, 0, "Sector 3: 0313\n"},
        {{"--fault", "status:2:checksum"}, 1, "     Wrong checksum byte received"},
    };
    for (const auto& [board_options, exit_status, shown] : rows) {
        const auto dir = temp_dir();
        run_result traced;
        {
            simulated_board board(board_options);
            traced = status(board, dir + "/trace");
        }
        ASSERT_EQ(traced.status, exit_status) << traced.out << traced.err;
        ASSERT_NE(traced.out.find(shown), std::string::npos) << traced.out;
        const auto board = replay(dir + "/trace", dir + "/errors");
        const auto replayed = status(*board);
        EXPECT_EQ(replayed.status, exit_status) << shown;
        EXPECT_EQ(replayed.out, traced.out) << shown;
        // A board reset does not start the trace again: the host goes on beyond it.
        board->press_reset();
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        const auto again = status(*board);
        board->stop();
        EXPECT_EQ(again.status, 1);
        EXPECT_NE(again.out.find("No identification byte received"), std::string::npos) << again.out;
        EXPECT_NE(read_file(dir + "/errors").find("mirel-sim: replay: the host wrote more than the trace holds"),
                  std::string::npos);
    }
}

}  // namespace
