#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/port_names.h"
#include "core/serial_link.h"

namespace {

using namespace fernwick::core;

TEST(parse_settings, reads_the_line_settings_of_every_rate_and_line_format)
{
    struct row {
        const char* text;
        line_settings expected;
    };
    const std::vector<row> rows = {
        {"2400,n,8,1", {2400, 'n', 8, 1}},   {"4800,n,8,1", {4800, 'n', 8, 1}},   {"9600,n,8,1", {9600, 'n', 8, 1}},
        {"14400,n,8,1", {14400, 'n', 8, 1}}, {"19200,n,8,1", {19200, 'n', 8, 1}}, {"9600,e,7,2", {9600, 'e', 7, 2}},
        {"9600,o,5,1", {9600, 'o', 5, 1}},   {"9600,m,8,1", {9600, 'm', 8, 1}},   {"9600,s,6,1", {9600, 's', 6, 1}},
    };
    for (const auto& r : rows) {
        const auto got = parse_settings(r.text);
        ASSERT_TRUE(got.has_value()) << r.text;
        EXPECT_EQ(got->baud, r.expected.baud) << r.text;
        EXPECT_EQ(got->parity, r.expected.parity) << r.text;
        EXPECT_EQ(got->data_bits, r.expected.data_bits) << r.text;
        EXPECT_EQ(got->stop_bits, r.expected.stop_bits) << r.text;
    }
}

TEST(parse_settings, rejects_malformed_texts)
{
    const std::vector<const char*> texts = {
        "",           "9600",        "9600,n,8",     ",n,8,1",         "9600,,8,1",   "9600,n,,1",
        "9600,n,8,",  "fast,n,8,1",  "96OO,n,8,1",   "9600,n,eight,1", "-9600,n,8,1", "0,n,8,1",
        "9600,x,8,1", "9600,N,8,1",  "9600,no,8,1",  "9600,n,4,1",     "9600,n,9,1",  "9600,n,8,0",
        "9600,n,8,3", "9600,n,8,1,", "9600,n,8,1,x", " 9600,n,8,1",    "9600,n,8,1 ", "9600;n;8;1",
    };
    for (const auto* text : texts) EXPECT_FALSE(parse_settings(text).has_value()) << '"' << text << '"';
}

TEST(line_time_ms, counts_ten_bits_a_byte_rounded_up)
{
    struct row {
        std::size_t bytes;
        int baud;
        int expected_ms;
    };
    const std::vector<row> rows = {
        {0, 9600, 0},      {1, 9600, 2},  {96, 9600, 100}, {510, 14400, 355},
        {510, 2400, 2125}, {1, 19200, 1}, {5, 0, 0},       {5, -1, 0},
    };
    for (const auto& r : rows)
        EXPECT_EQ(line_time_ms(r.bytes, r.baud), r.expected_ms) << r.bytes << " bytes at " << r.baud;
}

// Leaves FERNWICK_COM1 / FERNWICK_COM2 as it found them.
class device_for_port_test : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (int i = 0; i < 2; ++i) {
            const char* value = std::getenv(k_names[i]);
            saved_[i] = value ? std::optional<std::string>(value) : std::nullopt;
            ::unsetenv(k_names[i]);
        }
    }

    void TearDown() override
    {
        for (int i = 0; i < 2; ++i) {
            if (saved_[i])
                ::setenv(k_names[i], saved_[i]->c_str(), 1);
            else
                ::unsetenv(k_names[i]);
        }
    }

    static constexpr const char* k_names[2] = {"FERNWICK_COM1", "FERNWICK_COM2"};
    std::optional<std::string> saved_[2];
};

TEST_F(device_for_port_test, maps_the_two_ports_to_the_platform_devices_or_the_named_ones)
{
#ifdef _WIN32
    const std::string first = "COM1", second = "COM2";
#else
    const std::string first = "/dev/ttyS0", second = "/dev/ttyS1";
#endif
    struct row {
        const char* name;
        const char* com1;
        const char* com2;
        std::vector<std::string> expected;  // ports 0 to 3
    };
    const std::vector<row> rows = {
        {"platform ports", nullptr, nullptr, {"", first, second, ""}},
        {"adapter on COM 1", "/dev/ttyUSB0", nullptr, {"", "/dev/ttyUSB0", second, ""}},
        {"terminal on COM 2", nullptr, "/dev/pts/7", {"", first, "/dev/pts/7", ""}},
        {"both named", "/dev/ttyUSB0", "/dev/ttyUSB1", {"", "/dev/ttyUSB0", "/dev/ttyUSB1", ""}},
        {"empty names count as unset", "", "", {"", first, second, ""}},
    };
    for (const auto& r : rows) {
        const char* values[2] = {r.com1, r.com2};
        for (int i = 0; i < 2; ++i) {
            if (values[i])
                ::setenv(k_names[i], values[i], 1);
            else
                ::unsetenv(k_names[i]);
        }
        for (int port = 0; port < 4; ++port)
            EXPECT_EQ(device_for_port(port), r.expected[static_cast<std::size_t>(port)]) << r.name << ", COM " << port;
    }
    EXPECT_EQ(device_for_port(-1), "");
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
