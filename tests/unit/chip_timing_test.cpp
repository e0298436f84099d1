#include <gtest/gtest.h>

#include "bootstrap/loader_images.h"
#include "chip_model.h"
#include "support_chip.h"

namespace {

using namespace fernwick::sim;
using namespace fernwick::sim::testing;

TEST(chip_timing, bytes_take_their_time_on_the_line)
{
    struct row {
        const char* name;
        chip_timing timing;
        answer_grouping grouping;
        std::string commands;
        std::vector<timed> answers;
    };
    const std::vector<row> rows = {
        // 10 bits at 9600 baud: 1.04 ms a byte, so the second command byte is in at 2.08 ms.
        {"status at 9600 baud", {9600, 0, 0}, answer_grouping::natural, "40 40",
         {{4, "00"}, {5, "10"}, {6, "80"}, {7, "88"}}},
        {"erase time", {0, 500, 0}, answer_grouping::natural, "20 21", {{0, "BF"}, {500, "88"}}},
        {"program time", {0, 0, 20}, answer_grouping::natural, "33 00 01 00 " + std::string(128, '0'),
         {{0, "CC"}, {20, "88"}}},
        {"a command waits for the erase", {0, 100, 0}, answer_grouping::natural, "20 20 40 43",
         {{0, "C0"}, {100, "88"}, {100, "03"}, {100, "13"}, {100, "7D"}, {100, "88"}}},
        {"split answers", {}, answer_grouping::split, "40 40", {{0, "00"}, {5, "10"}, {10, "80"}, {15, "88"}}},
        {"joined answers", {}, answer_grouping::joined, "40 40", {{0, "00 10 80 88"}}},
        {"joined answer waits for its last byte", {0, 300, 0}, answer_grouping::joined, "20 22",
         {{300, "BE 88"}}},
    };
    for (const auto& r : rows) {
        chip_config config;
        config.timing = r.timing;
        config.grouping = r.grouping;
        chip_model chip(config);
        bring_up(chip);
        writes_until_quiet(chip);
        const int start = chip.now_ms() + 100;
        chip.receive(bytes_of(r.commands), start);
        auto answers = writes_until_quiet(chip);
        for (auto& a : answers) a.arrival_ms -= start;
        EXPECT_EQ(answers, r.answers) << r.name;
    }
}

TEST(chip_timing, the_main_program_takes_over_two_seconds_at_2400_baud)
{
    chip_config config;
    config.timing.line_rate = 2400;
    chip_model chip(config);
    chip.receive(std::string(1, '\0'), 0);
    chip.receive(fernwick::bootstrap::first_loader_bytes(), 0);
    chip.receive(fernwick::bootstrap::main_program_bytes(), 0);
    // 543 bytes of 4.17 ms each reach the chip in 2262.5 ms, then the acknowledge comes back.
    const auto answers = writes_until_quiet(chip);
    ASSERT_EQ(answers.size(), 3u);
    EXPECT_EQ(answers[2], (timed{2267, "11"}));
}

TEST(chip_timing, the_zero_byte_echo_comes_before_the_identification)
{
    struct row {
        answer_grouping grouping;
        std::vector<timed> answers;
    };
    for (const auto& r : std::vector<row>{{answer_grouping::natural, {{0, "00"}, {0, "D5"}}},
                                          {answer_grouping::joined, {{0, "00 D5"}}}}) {
        chip_config config;
        config.echo_zero = true;
        config.grouping = r.grouping;
        chip_model chip(config);
        chip.receive(std::string(1, '\0'), 0);
        EXPECT_EQ(writes_until_quiet(chip), r.answers);
    }
}

}  // namespace
