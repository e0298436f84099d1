#include <gtest/gtest.h>

#include "core/message_log.h"

namespace {

using namespace fernwick::core;

const std::string star(k_star_line);
const std::string bar = k_bar_line;

TEST(message_log, shapes_compose_the_exact_text)
{
    struct row {
        const char* name;
        std::string start;
        std::function<void(message_log&)> write;
        std::string expected;
    };
    const std::vector<row> rows = {
        {"line", "x", [](message_log& l) { line(l, "ab"); }, "x\r\nab"},
        {"line with break", "x", [](message_log& l) { line_with_break(l, " a "); }, "x\r\n a \r\n"},
        {"fresh line with break", "old", [](message_log& l) { fresh_line_with_break(l, "a"); }, "\r\na\r\n"},
        {"note", "x", [](message_log& l) { note(l, "n"); }, "x\r\n\r\nn\r\n\r\n"},
        {"error block into empty log", "",
         [](message_log& l) {
             error_block(l, {"a", "b"});
         },
         "\r\n" + star + "\r\na\r\nb\r\n" + star + "\r\n"},
        {"empty block line is an empty line", "",
         [](message_log& l) {
             error_block(l, {"a", "", "b"});
         },
         "\r\n" + star + "\r\na\r\n\r\nb\r\n" + star + "\r\n"},
        {"blanks kept", "", [](message_log& l) { error_block(l, {"     I wasn't waiting for any byte ! "}); },
         "\r\n" + star + "\r\n     I wasn't waiting for any byte ! \r\n" + star + "\r\n"},
        {"fresh notice block drops everything", "\r\n" + star + "\r\nunread\r\n" + star + "\r\n",
         [](message_log& l) { fresh_notice_block(l, {"n"}); }, "\r\n" + bar + "\r\nn\r\n" + bar + "\r\n"},
        {"appended notice block", "x", [](message_log& l) { notice_block(l, {"n"}); },
         "x\r\n" + bar + "\r\nn\r\n" + bar + "\r\n"},
    };
    for (const auto& r : rows) {
        message_log log;
        log.replace(r.start);
        r.write(log);
        EXPECT_EQ(log.text(), r.expected) << r.name;
    }
}

TEST(message_log, two_blocks_in_a_row_are_separated_by_one_empty_line)
{
    message_log log;
    error_block(log, {"first"});
    error_block(log, {"second"});
    EXPECT_NE(log.text().find(star + "\r\n\r\n" + star + "\r\nsecond"), std::string::npos);
    EXPECT_EQ(log.text().find("\r\n\r\n\r\n"), std::string::npos);
}

TEST(message_log, trimming_keeps_whole_lines_and_a_leading_empty_line)
{
    message_log log(1000);
    fresh_notice_block(log, {"start"});
    for (int i = 0; i < 200; ++i) {
        line(log, "line " + std::to_string(i));
        EXPECT_TRUE(log.text().starts_with("\r\n")) << "cut in the middle of a line, after line " << i;
    }
    const auto& t = log.text();
    EXPECT_LE(t.size(), 1000u);
    EXPECT_GE(t.size(), 1000u / 4 * 3 - 20);  // a trim keeps most of the log
    ASSERT_GE(t.size(), 2u);
    EXPECT_EQ(t.substr(0, 2), "\r\n");
    EXPECT_EQ(t.substr(t.size() - 10), "\r\nline 199");
    // Every remaining line is one the writer wrote whole.
    std::size_t pos = 2;
    while (pos < t.size()) {
        auto end = t.find("\r\n", pos);
        if (end == std::string::npos) end = t.size();
        EXPECT_EQ(t.compare(pos, 5, "line "), 0) << t.substr(pos, end - pos);
        pos = end + 2;
    }
}

TEST(message_log, trimming_changes_the_generation_but_appending_does_not)
{
    message_log log(100);
    const auto g0 = log.generation();
    line(log, "short");
    EXPECT_EQ(log.generation(), g0);
    for (int i = 0; i < 20; ++i) line(log, "0123456789");
    EXPECT_GT(log.generation(), g0);
}

}  // namespace
