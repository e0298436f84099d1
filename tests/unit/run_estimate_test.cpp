// The plan of a run against what the run sends and how long it takes on a
// board with a real board's timing, and the whole-run progress line.

#include <gtest/gtest.h>

#include <numeric>
#include <sstream>

#include "hex_test_files.h"

#include "app/cli_estimate.h"
#include "app/cli_options.h"
#include "app/cli_program.h"
#include "bootstrap/reset_step.h"
#include "core/progress_text.h"
#include "shell/events.h"
#include "sim_link.h"

namespace {

using namespace hex_test;
using namespace fernwick;

// Each erase the chip received and the blocks sent after it, as (sector, blocks).
std::vector<std::pair<int, int>> sent_steps(const core::byte_string& wire)
{
    std::vector<std::pair<int, int>> steps;
    for (std::size_t i = 0; i < wire.size(); i += wire[i] == 0x20 ? 2 : 68) {
        if (wire[i] == 0x20)
            steps.push_back({wire[i + 1] - 0x20, 0});
        else if (!steps.empty())
            ++steps.back().second;
    }
    return steps;
}

TEST(run_estimate, has_the_steps_blocks_and_time_of_a_run_on_a_board_with_real_timing)
{
    temp_folder folder;
    const auto hex = folder.file(
        "app.hex", joined({linear(1), data(0, "11"), data(0x8000, fill(200, 0x22, 1)), data(0x9000, fill(100, 0x5A)),
                           linear(2), data(0x100, "33"), data(0x8000, "44")}));
    const std::vector<std::vector<std::string>> rows = {
        {hex},  // sector 0 locked on by the code rules, with no blocks of its own
        {hex, "--sectors", "3,1"},
        {hex, "--bsl-target", "-99"},
        {hex, "--sector0-segment", "1"},                                         // the code saved in sector 0 first
        {hex, "--sector0-segment", "1", "--bsl-now", "0", "--bsl-target", "0"},  // and in sector 2
    };
    for (const auto& args : rows) {
        SCOPED_TRACE(std::accumulate(args.begin() + 1, args.end(), std::string("app.hex"),
                                     [](const std::string& a, const std::string& b) { return a + " " + b; }));
        std::ostringstream out, err;
        std::vector<std::string> line = {"plan"};
        line.insert(line.end(), args.begin(), args.end());
        int status = 0;
        const auto request = app::parse_command_line(line, out, err, status);
        ASSERT_TRUE(request) << err.str();
        const auto* c = &request->choices;
        const auto p = app::make_plan(*c, err);
        ASSERT_TRUE(p.refusal.empty()) << p.refusal;
        const auto e = app::estimate_run(p, *c, 19200);
        std::vector<std::pair<int, int>> planned;
        for (const auto& st : e.steps) planned.push_back({st.step.sector, st.blocks});

        sim::sim_board board({.timing = {19200, app::k_typical_erase_ms, app::k_typical_program_ms}});
        core::app_state s(board.platform());
        core::StartModul(s);
        bootstrap::bs_19200_Click(s);
        shell::connect_events(s, {});
        bootstrap::RESET_OK_Click(s);
        while (!s.mainform.program_.visible && board.now_ms() < 5000) board.run_for(1);
        const int brought_up_ms = board.now_ms();
        const auto mark = board.received().size();
        ASSERT_EQ(app::run_programming_flow(s, *c, out, err), 0) << err.str();

        EXPECT_EQ(sent_steps(board.received().substr(mark)), planned);
        EXPECT_EQ(e.blocks, s.mainform.progress.blocks_total);
        EXPECT_EQ(e.blocks, s.mainform.progress.blocks_done);
        EXPECT_EQ(e.bytes_out, static_cast<long long>(board.received().size()));
        EXPECT_NEAR(e.bring_up_seconds * 1000, brought_up_ms, 5);
        EXPECT_NEAR(e.seconds * 1000, board.now_ms(), 5 + e.seconds);  // within 0.1 %
    }
}

TEST(run_estimate, plan_refuses_a_file_that_program_would_refuse)
{
    temp_folder folder;
    const auto damaged = folder.file("damaged.hex", joined({linear(2), ":0100000011EF"}));
    std::ostringstream out, err;
    EXPECT_EQ(app::run_plan({damaged}, 19200, out, err), 2);
    EXPECT_EQ(out.str(), "");
    EXPECT_EQ(err.str(), "fernwick-cli plan: " + damaged + ": line 2 has the checksum EFh, it should be EEh\n");

    // Nor does program send blocks made for other sectors than the file fills now.
    sim::sim_board board;
    core::app_state s(board.platform());
    core::StartModul(s);
    s.prepared = std::make_shared<const core::prepared_blocks>(core::prepared_blocks{{true, true, true, true}});
    const auto hex = folder.file("app.hex", joined({linear(2), data(0, "11")}));
    EXPECT_EQ(app::run_programming_flow(s, {hex}, out, err), 2);
    EXPECT_NE(err.str().find(hex + " changed since it was checked; nothing was sent"), std::string::npos);
    EXPECT_EQ(board.received(), "");
}

TEST(progress_text, names_the_block_being_sent_and_the_time_left_once_the_pace_is_known)
{
    struct row {
        int done, total, sector, seconds_in;
        const char* text;
        int percent;
    };
    const row rows[] = {
        {0, 322, 1, 5, "Block 1 of 322, sector 1", 0},  // no block done yet
        {3, 322, 1, 1, "Block 4 of 322, sector 1", 0},  // the first erase still weighs
        {163, 322, 3, 44, "Block 164 of 322, sector 3, about 0:43 left", 50},
        {10, 2048, 0, 20, "Block 11 of 2048, sector 0, about 1:07:56 left", 0},
        {322, 322, 0, 90, "Block 322 of 322, sector 0, about 0:00 left", 100},  // only the late-byte check left
    };
    const auto started = std::chrono::steady_clock::time_point{} + std::chrono::hours(1);
    for (const auto& r : rows) {
        const core::progress_state p{true, r.sector, r.done, r.total, started};
        const auto now = started + std::chrono::seconds(r.seconds_in);
        EXPECT_EQ(core::progress_text(p, now), r.text);
        EXPECT_EQ(core::progress_percent(p), r.percent) << r.text;
    }
}

}  // namespace
