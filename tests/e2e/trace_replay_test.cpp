// A trace written by fernwick-cli (FERNWICK_TRACE) played back by
// mirel-sim --replay: the run repeats without the board it was made on.

#include <cstdlib>
#include <tuple>

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

// A run that failed on the board fails the same way without it, so a trace
// from a bug report shows the failure again.
TEST(trace_replay, a_replayed_run_prints_what_the_traced_run_printed)
{
    const std::tuple<std::vector<std::string>, int, std::string> rows[] = {
        {{}, 0, "Sector 3: 0313\n"},
        {{"--fault", "status:2:checksum"}, 1, "     Wrong checksum byte received"},
    };
    for (const auto& [board_options, exit_status, shown] : rows) {
        SCOPED_TRACE(shown);
        const auto trace = temp_dir() + "/trace";
        run_result traced;
        {
            simulated_board board(board_options);
            traced = status(board, trace);
        }
        ASSERT_EQ(traced.status, exit_status) << traced.out << traced.err;
        ASSERT_NE(traced.out.find(shown), std::string::npos) << traced.out;
        simulated_board replay({"--replay", trace});
        const auto replayed = status(replay);
        EXPECT_EQ(replayed.status, exit_status);
        EXPECT_EQ(replayed.out, traced.out);
    }
}

}  // namespace
