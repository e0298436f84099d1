#include <gtest/gtest.h>

#include <tuple>

#include "core/serial_link.h"

namespace {

using namespace fernwick::core;

TEST(parse_settings, reads_rate_parity_data_and_stop_bits_and_refuses_anything_else)
{
    const auto settings = parse_settings("14400,e,7,2");
    ASSERT_TRUE(settings);
    EXPECT_EQ(std::tuple(settings->baud, settings->parity, settings->data_bits, settings->stop_bits),
              std::tuple(14400, 'e', 7, 2));
    for (const auto* text : {"", "9600,n,8", "96OO,n,8,1", "0,n,8,1", "9600,x,8,1", "9600,N,8,1", "9600,n,4,1",
                             "9600,n,9,1", "9600,n,8,3", "9600,n,8,1,", " 9600,n,8,1", "9600;n;8;1"})
        EXPECT_FALSE(parse_settings(text)) << '"' << text << '"';
}

TEST(line_time_ms, counts_ten_bits_a_byte_rounded_up)
{
    const std::tuple<std::size_t, int, int> rows[] = {
        {0, 9600, 0}, {1, 9600, 2}, {96, 9600, 100}, {510, 14400, 355}, {1, 19200, 1}, {5, 0, 0},
    };
    for (const auto& [bytes, baud, ms] : rows) EXPECT_EQ(line_time_ms(bytes, baud), ms) << bytes << " at " << baud;
}

// Root runs the tests, so no open is ever refused here: the reason line is built from the group alone.
TEST(with_group_advice, says_which_group_lets_the_user_open_the_device)
{
    const std::pair<const char*, std::string> rows[] = {
        {"dialout",
         "Permission denied (the user must be in the group dialout that owns it: sudo usermod -aG dialout "
         "$USER, then log in again)"},
        {"root", "Permission denied"},
    };
    for (const auto& [group, expected] : rows) EXPECT_EQ(with_group_advice("Permission denied", group), expected);
}

}  // namespace
