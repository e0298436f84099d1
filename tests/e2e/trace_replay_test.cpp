// A trace written by fernwick-cli (FERNWICK_TRACE) played back by
// mirel-sim --replay: the run repeats without the board it was made on.

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>

#include "support_board.h"

namespace {

using namespace fernwick::e2e;

run_result cli(const simulated_board& board, const std::vector<std::string>& command)
{
    std::vector<std::string> argv{binary("fernwick-cli"), "--device", board.device()};
    argv.insert(argv.end(), command.begin(), command.end());
    return run(argv);
}

run_result cli(const simulated_board& board, const std::string& command)
{
    return cli(board, std::vector<std::string>{command});
}

// fernwick-cli inherits the environment, so the trace is asked for around one run.
run_result traced_cli(const simulated_board& board, const std::vector<std::string>& command, const std::string& trace)
{
    ::setenv("FERNWICK_TRACE", trace.c_str(), 1);
    auto result = cli(board, command);
    ::unsetenv("FERNWICK_TRACE");
    return result;
}

// mirel-sim inherits the standard error of the test while it is started.
class stderr_to_file {
public:
    explicit stderr_to_file(const std::string& path) : saved_(::dup(STDERR_FILENO))
    {
        const int file = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ::dup2(file, STDERR_FILENO);
        ::close(file);
    }
    ~stderr_to_file()
    {
        ::dup2(saved_, STDERR_FILENO);
        ::close(saved_);
    }
    stderr_to_file(const stderr_to_file&) = delete;
    stderr_to_file& operator=(const stderr_to_file&) = delete;

private:
    int saved_;
};

// The number of the first line of `text` that contains `part`, from 1.
int line_with(const std::string& text, const std::string& part)
{
    std::istringstream lines(text);
    std::string line;
    for (int number = 1; std::getline(lines, line); ++number)
        if (line.find(part) != std::string::npos) return number;
    return 0;
}

TEST(trace_replay, a_replayed_run_prints_what_the_traced_run_printed)
{
    struct row {
        std::vector<std::string> board_options;
        std::string command;
        int status;
        std::string shown;
    };
    const row rows[] = {
        {{}, "status", 0, "Sector 3: 0313\n"},
        {{}, "reset", 0, "Software Reset sucessfully executed !"},
        {{"--fault", "status:2:checksum"}, "status", 1, "     Wrong checksum byte received"},
        {{"--fault", "ack2:wrong"}, "status", 1, "I didn't receive the right acknowledge byte from the uC !"},
    };
    const auto dir = temp_dir();
    for (const auto& r : rows) {
        const auto trace = dir + "/" + r.command + ".trace";
        simulated_board board(r.board_options);
        const auto traced = traced_cli(board, {r.command}, trace);
        ASSERT_EQ(traced.status, r.status) << traced.out << traced.err;
        ASSERT_NE(traced.out.find(r.shown), std::string::npos) << traced.out;

        simulated_board replay({"--replay", trace});
        const auto replayed = cli(replay, r.command);
        EXPECT_EQ(replayed.status, r.status) << r.shown;
        EXPECT_EQ(replayed.out, traced.out) << r.shown;
    }
}

// The summary's time differs from run to run.
std::string without_time(const std::string& out)
{
    const auto at = out.find("\nTime: ");
    return at == std::string::npos ? out : out.substr(0, at);
}

// A block goes out a byte at a time: the trace has these writes on one line.
TEST(trace_replay, a_replayed_programming_run_prints_what_the_traced_run_printed)
{
    const auto dir = temp_dir();
    const auto hex = dir + "/two_blocks.hex";
    write_file(hex,
               ":020000040001F9\n"
               ":10800000000102030405060708090A0B0C0D0E0FF8\n"
               ":10804000101112131415161718191A1B1C1D1E1FB8\n"
               ":00000001FF\n");
    const std::vector<std::string> command{"program", hex, "--bsl-target", "-99"};
    const auto trace = dir + "/program.trace";
    simulated_board board;
    const auto traced = traced_cli(board, command, trace);
    ASSERT_EQ(traced.status, 0) << traced.out << traced.err;
    ASSERT_NE(traced.out.find("Blocks sent: 2,"), std::string::npos) << traced.out;

    simulated_board replay({"--replay", trace});
    const auto replayed = cli(replay, command);
    EXPECT_EQ(replayed.status, 0);
    EXPECT_EQ(without_time(replayed.out), without_time(traced.out));
}

TEST(trace_replay, warns_where_the_host_departs_from_the_trace)
{
    const auto dir = temp_dir();
    const auto trace = dir + "/status.trace";
    {
        simulated_board board;
        ASSERT_EQ(traced_cli(board, {"status"}, trace).status, 0);
    }
    const auto warnings = dir + "/replay.err";
    std::unique_ptr<simulated_board> replay;
    {
        const stderr_to_file redirect(warnings);
        replay = std::make_unique<simulated_board>(std::vector<std::string>{"--replay", trace});
    }
    // The bring-up is the same; then a reset command where the trace has the first status request.
    const auto r = cli(*replay, "reset");
    replay->stop();
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_NE(r.out.find("TimeOut Error !"), std::string::npos) << r.out;
    const int line = line_with(read_file(trace), "COM out 40 40");
    const std::string where = "trace line " + std::to_string(line) + ", byte 1 of the write";
    EXPECT_NE(read_file(warnings).find(where), std::string::npos) << read_file(warnings);
    EXPECT_NE(read_file(warnings).find("the host sent 00, the trace has 40"), std::string::npos);
}

TEST(trace_replay, a_board_reset_does_not_start_the_trace_again)
{
    const auto trace = temp_dir() + "/status.trace";
    {
        simulated_board board;
        ASSERT_EQ(traced_cli(board, {"status"}, trace).status, 0);
    }
    simulated_board replay({"--replay", trace});
    EXPECT_EQ(cli(replay, "status").status, 0);
    replay.press_reset();
    // Closed for longer than a board reset needs.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const auto again = cli(replay, "status");
    EXPECT_EQ(again.status, 1);
    EXPECT_NE(again.out.find("No identification byte received"), std::string::npos) << again.out;
}

}  // namespace
