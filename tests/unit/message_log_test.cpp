#include <gtest/gtest.h>

#include "core/message_log.h"

namespace {

using namespace fernwick::core;

// The shapes of the log text are pinned by the scenario tests' exact logs;
// the trim is seen only here.
TEST(message_log, trimming_keeps_whole_lines_a_leading_empty_line_and_most_of_the_log)
{
    message_log log(1000);
    fresh_notice_block(log, {"start"});
    const auto generation = log.generation();
    for (int i = 0; i < 200; ++i) {
        line(log, "line " + std::to_string(i));
        // Checked after every line, so a cut inside a line is caught wherever it falls.
        ASSERT_TRUE(log.text().starts_with("\r\n")) << "cut in a line, after line " << i;
    }
    const auto& t = log.text();
    EXPECT_LE(t.size(), 1000u);
    EXPECT_GE(t.size(), 1000u / 4 * 3 - 20);
    EXPECT_TRUE(t.ends_with("\r\nline 199"));
    // Every remaining line is one the writer wrote whole.
    for (std::size_t pos = 2, end = 0; end != std::string::npos; pos = end + 2) {
        end = t.find("\r\n", pos);
        EXPECT_EQ(t.compare(pos, 5, "line "), 0) << t.substr(pos, 20);
    }
    EXPECT_GT(log.generation(), generation);
}

}  // namespace
