#include <gtest/gtest.h>

#include "sim_options.h"

namespace {

using namespace fernwick::sim;

TEST(sim_options, command_lines_are_taken_or_refused_with_a_reason)
{
    struct row {
        std::vector<std::string> args;
        std::string error;  // empty: taken
    };
    const std::vector<row> rows = {
        {{}, ""},
        {{"-h"}, ""},
        {{"--fault", "id:none", "--fault", "echo-zero", "--fault", "ack2:none", "--fault", "ack1:11"}, ""},
        {{"--fault", "status:1:silence", "--fault", "reset:2:status=13,delay=5", "--split-answers"}, ""},
        {{"--colour"}, "unknown option --colour"},
        {{"--dump"}, "--dump needs a value"},
        {{"--id-byte", "1D5"}, "bad value for --id-byte: 1D5"},
        {{"--line-rate", "fast"}, "bad value for --line-rate: fast"},
        {{"--sector-status", "4:0000"}, "bad value for --sector-status: 4:0000"},
        {{"--faulty-bring-ups", "-1"}, "bad value for --faulty-bring-ups: -1"},
        {{"--fault", "erase:0:drop"}, "bad value for --fault: erase:0:drop"},
        {{"--fault", "erase:1:status=XY"}, "bad value for --fault: erase:1:status=XY"},
        {{"--fault", "write:1:drop"}, "bad value for --fault: write:1:drop"},
        {{"--fault", "block:1:drop,later"}, "bad value for --fault: block:1:drop,later"},
        {{"--fault", "ack3:none"}, "bad value for --fault: ack3:none"},
        {{"--fault", "drop-at:0"}, "bad value for --fault: drop-at:0"},
        // The reset's answer has no checksum byte to spoil.
        {{"--fault", "reset:1:checksum"}, "bad value for --fault: reset:1:checksum"},
    };
    for (const auto& r : rows) {
        const auto parsed = parse_options(r.args);
        EXPECT_EQ(parsed.options.has_value(), r.error.empty()) << ::testing::PrintToString(r.args);
        EXPECT_EQ(parsed.error, r.error);
    }
}

TEST(sim_options, values_reach_the_board)
{
    const auto parsed =
        parse_options({"--sector-status", "2:0A00", "--program-ms", "3", "--joined-answers", "--fault", "ack1:wrong",
                       "--fault", "block:5:delay=300,checksum,drop,repeat", "--fault", "drop-at:600",
                       "--faulty-bring-ups", "1", "--replay", "bug.trace", "--line-rate", "follow"});
    ASSERT_TRUE(parsed.options) << parsed.error;
    const auto& chip = parsed.options->chip;
    EXPECT_EQ(chip.sector_status[2], (status_register{0x0A, 0x00}));
    EXPECT_EQ(chip.timing.program_ms, 3);
    EXPECT_EQ(chip.grouping, answer_grouping::joined);
    EXPECT_EQ(chip.loader_ack, 0xDD);  // the right byte's complement
    ASSERT_EQ(chip.faults.size(), 1u);
    const auto& f = chip.faults[0];
    EXPECT_TRUE(f.kind == exchange_kind::block && f.nth == 5 && f.delay_ms == 300 && f.wrong_checksum && f.drop &&
                f.repeat);
    EXPECT_EQ(chip.drop_at_byte, 600u);
    EXPECT_EQ(chip.faulty_bring_ups, 1);
    EXPECT_EQ(parsed.options->replay_path, "bug.trace");
    EXPECT_TRUE(parsed.options->follow_line_rate);
}

}  // namespace
