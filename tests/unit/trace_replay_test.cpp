#include <gtest/gtest.h>

#include "sim_options.h"
#include "trace_replay.h"

namespace {

using namespace fernwick::sim;

// A bring-up and a status reading as fernwick-cli traces them, shortened.
const char* const k_trace =
    "0 MSCom0 open COM 1 9600,n,8,1\n"
    "0 MSCom0 out 00\n"
    "1 MSCom0 in D5\n"
    "2 MSCom0 out E6 58 22\n"
    "2 MSCom0 in 22\n"
    "3 MSCom0 out-failed E6 08\n"
    "4 MSCom0 close\n"
    "9 COM open COM 1 9600,n,8,1\n"
    "10 COM out 40 40\n"
    "18 COM in 00 10\n"
    "25 COM in 80 88\n";

std::string bytes(std::initializer_list<int> values)
{
    std::string s;
    for (const int v : values) s.push_back(static_cast<char>(v));
    return s;
}

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
    EXPECT_EQ(script.writes[1].line, 4);
    EXPECT_EQ(script.writes[1].offset, 1u);
    // The failed write never reached the chip, so the command link's write follows on.
    EXPECT_EQ(script.writes[2].line, 9);
    EXPECT_EQ(script.writes[2].offset, 4u);
    EXPECT_EQ(script.writes[2].bytes, bytes({0x40, 0x40}));

    struct row {
        int line;
        std::size_t after;
        long long delay_ms;
        std::optional<std::size_t> since_write;
        std::string bytes;
    };
    const row rows[] = {
        {3, 1, 1, 0, bytes({0xD5})},
        {5, 4, 0, 1, bytes({0x22})},
        {10, 6, 8, 2, bytes({0x00, 0x10})},             // from the write, not from the open
        {11, 6, 7, std::nullopt, bytes({0x80, 0x88})},  // from the read before
    };
    ASSERT_EQ(script.answers.size(), std::size(rows));
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        const auto& a = script.answers[i];
        EXPECT_EQ(a.line, rows[i].line) << i;
        EXPECT_EQ(a.after, rows[i].after) << i;
        EXPECT_EQ(a.delay_ms, rows[i].delay_ms) << i;
        EXPECT_EQ(a.since_write, rows[i].since_write) << i;
        EXPECT_EQ(a.bytes, rows[i].bytes) << i;
    }
}

TEST(trace_replay, reads_windows_line_ends_and_skips_blank_lines)
{
    const auto script = script_of("\r\n5 COM out 40 41\r\n\n7 COM in 01 11 7F 88\r\n");
    ASSERT_EQ(script.answers.size(), 1u);
    EXPECT_EQ(script.answers[0].line, 4);
    EXPECT_EQ(script.answers[0].after, 2u);
    EXPECT_EQ(script.answers[0].delay_ms, 2);
    EXPECT_EQ(script.answers[0].bytes, bytes({0x01, 0x11, 0x7F, 0x88}));
}

TEST(trace_replay, refuses_a_malformed_record_with_its_line)
{
    struct row {
        const char* text;
        const char* error;
    };
    const row rows[] = {
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
    for (const auto& r : rows) {
        const auto parsed = parse_trace(r.text);
        EXPECT_FALSE(parsed.script) << r.text;
        EXPECT_TRUE(parsed.error.starts_with(r.error)) << r.text << " gave " << parsed.error;
    }
}

TEST(trace_replay, plays_each_read_once_the_host_has_written_what_preceded_it)
{
    trace_player player(script_of(k_trace));
    EXPECT_FALSE(player.take_due(100));
    EXPECT_TRUE(player.host_wrote(bytes({0x00}), 100).empty());
    EXPECT_EQ(player.next_due_ms(), 101);
    EXPECT_FALSE(player.take_due(100));
    EXPECT_EQ(player.take_due(101), bytes({0xD5}));
    // Part of the loader is not enough.
    player.host_wrote(bytes({0xE6, 0x58}), 110);
    EXPECT_FALSE(player.next_due_ms());
    player.host_wrote(bytes({0x22}), 120);
    EXPECT_EQ(player.take_due(120), bytes({0x22}));
    // Bytes written before an answer is played still count for the next one.
    player.host_wrote(bytes({0x40, 0x40}), 130);
    EXPECT_EQ(player.take_due(138), bytes({0x00, 0x10}));
    EXPECT_EQ(player.next_due_ms(), 145);
    EXPECT_EQ(player.take_due(150), bytes({0x80, 0x88}));
    EXPECT_EQ(player.answers_left(), 0u);
    // Exhausted: silent, whatever the host sends.
    player.host_wrote(bytes({0x40, 0x41}), 160);
    EXPECT_FALSE(player.next_due_ms());
    EXPECT_FALSE(player.take_due(10'000));
}

// Writes in a row share a line stamped with the first of them.
TEST(trace_replay, a_late_answer_stays_as_late_after_the_first_byte_of_its_write)
{
    trace_player player(script_of("1000 COM out 33 01 02\n3500 COM in 88\n"));
    player.host_wrote(bytes({0x33}), 100);
    player.host_wrote(bytes({0x01, 0x02}), 135);
    EXPECT_EQ(player.next_due_ms(), 2600);
    EXPECT_FALSE(player.take_due(2599));
    EXPECT_EQ(player.take_due(2600), bytes({0x88}));
}

TEST(trace_replay, an_answer_before_any_write_is_due_at_once)
{
    trace_player player(script_of("0 COM open COM 1 9600,n,8,1\n4 COM in 55\n6 COM in 66\n"));
    EXPECT_EQ(player.take_due(0), bytes({0x55}));
    EXPECT_EQ(player.next_due_ms(), 2);
    EXPECT_EQ(player.take_due(2), bytes({0x66}));
}

TEST(trace_replay, warns_where_the_host_departs_from_the_trace_and_goes_on)
{
    trace_player player(script_of(k_trace));
    struct row {
        std::string sent;
        std::vector<std::string> warnings;
    };
    const row rows[] = {
        {bytes({0x00, 0xE6, 0x58}), {}},
        // One warning for a write, at its first wrong byte.
        {bytes({0x21}),
         {"trace line 4, byte 3 of the write (byte 4 of the host's): the host sent 21, the trace has 22"}},
        {bytes({0x41, 0x41}),
         {"trace line 9, byte 1 of the write (byte 5 of the host's): the host sent 41, the trace has 40"}},
        {bytes({0x40, 0x43, 0x00}), {"the host wrote more than the trace holds, from its byte 7 on"}},
        {bytes({0x40}), {}},
    };
    for (const auto& r : rows) EXPECT_EQ(player.host_wrote(r.sent, 0), r.warnings);
    // The answers went on in step with the count of bytes.
    long long now = 0;
    for (const auto& answer : {bytes({0xD5}), bytes({0x22}), bytes({0x00, 0x10})})
        EXPECT_EQ(player.take_due(now += 100), answer);
}

TEST(trace_replay, is_asked_for_on_the_command_line)
{
    const auto parsed = parse_options({"--replay", "bug.trace", "--link", "/tmp/board"});
    ASSERT_TRUE(parsed.options) << parsed.error;
    EXPECT_EQ(parsed.options->replay_path, "bug.trace");
    EXPECT_FALSE(parse_options({"--replay"}).options);
}

}  // namespace
