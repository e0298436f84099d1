// The plan of a run against what the run sends and how long it takes on a
// board with a real board's timing.

#include <gtest/gtest.h>

#include <sstream>

#include "hex_test_files.h"

#include "bootstrap/reset_step.h"
#include "cli/options.h"
#include "cli/plan_command.h"
#include "shell/events.h"
#include "sim_link.h"
#include "station/programming_flow.h"

namespace {

using namespace hex_test;
using namespace fernwick;

TEST(run_estimate, has_the_blocks_bytes_and_time_of_a_run_on_a_board_with_real_timing)
{
    temp_folder folder;
    const auto hex = folder.file(
        "app.hex", joined({linear(1), data(0, "11"), data(0x8000, fill(200, 0x22, 1)), data(0x9000, fill(100, 0x5A)),
                           linear(2), data(0x100, "33"), data(0x8000, "44")}));
    // The command line, and the latency timer of the adapter between the board and the host.
    const std::vector<std::pair<std::vector<std::string>, int>> rows = {
        // sector 0 locked on by the code rules, with no blocks of its own
        {{"plan", hex, "--allow-unplaced"}, 0},
        {{"plan", hex, "--sectors", "3,1", "--bsl-target", "-99", "--allow-unplaced"}, 0},
        // the code saved in sector 2
        {{"plan", hex, "--sector0-segment", "1", "--bsl-now", "0", "--bsl-target", "0", "--allow-unplaced"}, 0},
        {{"plan", hex, "--adapter-latency", "16", "--allow-unplaced"}, 16},
    };
    for (const auto& [line, latency] : rows) {
        SCOPED_TRACE(line.size());
        std::ostringstream out, err;
        int status = 0;
        const auto request = cli::parse_command_line(line, out, err, status);
        ASSERT_TRUE(request) << err.str();
        const auto& c = request->choices;
        const auto p = cli::make_plan(c, err);
        ASSERT_TRUE(p.refusal.empty()) << p.refusal;
        const auto e = cli::estimate_run(p, c, 19200, request->adapter_latency_ms);

        sim::sim_board board({.timing = {19200, cli::k_typical_erase_ms, cli::k_typical_program_ms, latency}});
        core::app_state s(board.platform());
        core::StartModul(s);
        bootstrap::bs_19200_Click(s);
        shell::connect_events(s, {});
        bootstrap::RESET_OK_Click(s);
        const int zero_byte_ms = board.now_ms();  // the estimate counts from the zero byte, after the line fell quiet
        while (!s.mainform.program_.visible && board.now_ms() < 5000) board.run_for(1);
        const int brought_up_ms = board.now_ms() - zero_byte_ms;
        ASSERT_EQ(cli::run_programming_flow(s, c, out, err), 0) << err.str();

        EXPECT_EQ(e.blocks, s.mainform.progress.blocks_done);
        EXPECT_EQ(e.bytes_out, static_cast<long long>(board.received().size()));
        EXPECT_NEAR(e.bring_up_seconds * 1000, brought_up_ms, 5);
        EXPECT_NEAR(e.seconds * 1000, board.now_ms() - zero_byte_ms, 5 + e.seconds);  // within 0.1 %
    }
}

// The blocks were made for other sectors than the hex file fills when the board is reached.
TEST(run_estimate, program_sends_nothing_when_the_hex_file_changed_since_its_plan)
{
    temp_folder folder;
    std::ostringstream out, err;
    sim::sim_board board;
    core::app_state s(board.platform());
    core::StartModul(s);
    s.prepared = std::make_shared<const core::prepared_blocks>(core::prepared_blocks{{true, true, true, true}});
    const auto hex = folder.file("app.hex", joined({linear(2), data(0, "11")}));
    EXPECT_EQ(cli::run_programming_flow(s, {hex}, out, err), 2);
    EXPECT_NE(err.str().find(hex + " changed since it was checked; nothing was sent"), std::string::npos);
    EXPECT_EQ(board.received(), "");
}

}  // namespace
