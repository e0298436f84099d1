#include <gtest/gtest.h>

#include "support_chip.h"
#include "trace_replay.h"

namespace {

using namespace fernwick::sim;
using fernwick::sim::testing::bytes_of;

// A bring-up and a status reading as fernwick-cli traces them, shortened;
// one line end as an editor on Windows leaves it, and a blank line.
const char* const k_trace =
    "0 MSCom0 open COM 1 9600,n,8,1\n"
    "0 MSCom0 out 00\r\n"
    "1 MSCom0 in D5\n"
    "\n"
    "2 MSCom0 out E6 58 22\n"
    "2 MSCom0 in 22\n"
    "3 MSCom0 out-failed E6 08\n"
    "4 MSCom0 close\n"
    "9 COM open COM 1 9600,n,8,1\n"
    "10 COM out 40 40\n"
    "18 COM in 00 10\n"
    "25 COM in 80 88\n";

replay_script script_of(const std::string& text)
{
    auto parsed = parse_trace(text);
    EXPECT_TRUE(parsed.script) << parsed.error;
    return parsed.script.value_or(replay_script{});
}

TEST(trace_replay, pairs_each_read_with_the_bytes_written_before_it_over_both_links)
{
    const auto script = script_of(k_trace);
    ASSERT_EQ(script.writes.size(), 3u);
    EXPECT_EQ(script.writes[1].line, 5);
    EXPECT_EQ(script.writes[1].offset, 1u);
    // The failed write never reached the chip, so the command link's write follows on.
    EXPECT_EQ(script.writes[2].line, 10);
    EXPECT_EQ(script.writes[2].offset, 4u);
    EXPECT_EQ(script.writes[2].bytes, bytes_of("40 40"));

    using answer = std::tuple<int, std::size_t, long long, std::optional<std::size_t>, std::string>;
    const std::vector<answer> answers = {
        {3, 1, 1, 0, bytes_of("D5")},
        {6, 4, 0, 1, bytes_of("22")},
        {11, 6, 8, 2, bytes_of("00 10")},             // from the write, not from the open
        {12, 6, 7, std::nullopt, bytes_of("80 88")},  // from the read before
    };
    ASSERT_EQ(script.answers.size(), answers.size());
    for (std::size_t i = 0; i < answers.size(); ++i) {
        const auto& a = script.answers[i];
        EXPECT_EQ(answer(a.line, a.after, a.delay_ms, a.since_write, a.bytes), answers[i]) << i;
    }
}

TEST(trace_replay, refuses_a_malformed_record_with_its_line)
{
    const std::vector<std::pair<const char*, const char*>> rows = {
        {"0 COM out 40\nCOM in 00\n", "line 2: not \"<ms> <link> <event> [details]\""},
        {"-3 COM in 00\n", "line 1: not"},
        {"12 COM\n", "line 1: not"},
        {"0 host 40 40\n", "line 1: unknown event 40"},  // mirel-sim's own --trace
        {"0 COM in 4\n", "line 1: bad bytes \"4\""},
        {"0 COM out 4040\n", "line 1: bad bytes"},
        {"0 COM in G0\n", "line 1: bad bytes"},
        {"0 COM out-failed 40  40\n", "line 1: bad bytes"},
        {"0 COM in\n", "line 1: bad bytes"},  // a read is never empty
    };
    for (const auto& [text, error] : rows) {
        const auto parsed = parse_trace(text);
        EXPECT_FALSE(parsed.script) << text;
        EXPECT_TRUE(parsed.error.starts_with(error)) << text << " gave " << parsed.error;
    }
}

TEST(trace_replay, plays_each_read_once_the_host_has_written_what_preceded_it)
{
    trace_player player(script_of(k_trace));
    EXPECT_FALSE(player.take_due(100));
    EXPECT_TRUE(player.host_wrote(bytes_of("00"), 100).empty());
    EXPECT_EQ(player.next_due_ms(), 101);
    EXPECT_FALSE(player.take_due(100));
    EXPECT_EQ(player.take_due(101), bytes_of("D5"));
    // Part of the loader is not enough.
    player.host_wrote(bytes_of("E6 58"), 110);
    EXPECT_FALSE(player.next_due_ms());
    player.host_wrote(bytes_of("22"), 120);
    EXPECT_EQ(player.take_due(120), bytes_of("22"));
    // Bytes written before an answer is played still count for the next one.
    player.host_wrote(bytes_of("40 40"), 130);
    EXPECT_EQ(player.take_due(138), bytes_of("00 10"));
    EXPECT_EQ(player.next_due_ms(), 145);
    EXPECT_EQ(player.take_due(150), bytes_of("80 88"));
    EXPECT_EQ(player.answers_left(), 0u);
    // Exhausted: silent, whatever the host sends.
    player.host_wrote(bytes_of("40 41"), 160);
    EXPECT_FALSE(player.next_due_ms());
    EXPECT_FALSE(player.take_due(10'000));
}

TEST(trace_replay, an_answer_is_as_late_as_in_the_trace)
{
    // Writes in a row share a line stamped with the first of them.
    trace_player late(script_of("1000 COM out 33 01 02\n3500 COM in 88\n"));
    late.host_wrote(bytes_of("33"), 100);
    late.host_wrote(bytes_of("01 02"), 135);
    EXPECT_FALSE(late.take_due(2599));
    EXPECT_EQ(late.take_due(2600), bytes_of("88"));
    // Before any write: at once, and the next one after the same gap.
    trace_player first(script_of("0 COM open COM 1 9600,n,8,1\n4 COM in 55\n6 COM in 66\n"));
    EXPECT_EQ(first.take_due(0), bytes_of("55"));
    EXPECT_EQ(first.next_due_ms(), 2);
}

TEST(trace_replay, warns_where_the_host_departs_from_the_trace_and_goes_on)
{
    trace_player player(script_of(k_trace));
    const std::vector<std::pair<std::string, std::vector<std::string>>> rows = {
        {bytes_of("00 E6 58"), {}},
        // One warning for a write, at its first wrong byte.
        {bytes_of("21"),
         {"trace line 5, byte 3 of the write (byte 4 of the host's): the host sent 21, the trace has 22"}},
        {bytes_of("41 41"),
         {"trace line 10, byte 1 of the write (byte 5 of the host's): the host sent 41, the trace has 40"}},
        {bytes_of("40 43 00"), {"the host wrote more than the trace holds, from its byte 7 on"}},
        {bytes_of("40"), {}},
    };
    for (const auto& [sent, warnings] : rows) EXPECT_EQ(player.host_wrote(sent, 0), warnings);
    // The answers went on in step with the count of bytes.
    long long now = 0;
    for (const auto& answer : {"D5", "22", "00 10"}) EXPECT_EQ(player.take_due(now += 100), bytes_of(answer));
}

}  // namespace
