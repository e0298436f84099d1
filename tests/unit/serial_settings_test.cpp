#include <gtest/gtest.h>

#include <tuple>

#include "core/port_names.h"
#include "core/serial_link.h"

namespace {

using namespace fernwick::core;

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
    EXPECT_EQ(with_group_advice("Permission denied", "dialout"),
              "Permission denied (the user must be in the group dialout that owns it: sudo usermod -aG dialout "
              "$USER, then log in again)");
    EXPECT_EQ(with_group_advice("Permission denied", "root"), "Permission denied");
}

}  // namespace
