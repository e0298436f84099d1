// The Qt serial adapter on a pseudo-terminal whose other side plays the
// board, and the Qt timer.

#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/qt_serial_link.h"
#include "core/qt_ui_timer.h"

namespace {

using namespace fernwick::core;

// Generous bound on every wait, so a broken link fails a test instead of hanging it.
constexpr int k_patience_ms = 3000;

// The Qt event loop the receive notifications travel through.
struct qt_environment : ::testing::Environment {
    void SetUp() override { app = std::make_unique<QCoreApplication>(argc, argv); }
    void TearDown() override { app.reset(); }

    int argc = 1;
    char name[4] = "e2e";
    char* argv[2] = {name, nullptr};
    std::unique_ptr<QCoreApplication> app;
};

[[maybe_unused]] const auto* const environment = ::testing::AddGlobalTestEnvironment(new qt_environment);

// The terminal settings as the Linux driver keeps them, with the rate in
// plain numbers (the libc view only knows the standard rates).
struct driver_termios {
    tcflag_t c_iflag, c_oflag, c_cflag, c_lflag;
    cc_t c_line;
    cc_t c_cc[19];
    speed_t c_ispeed, c_ospeed;
};

void pump_events_until(const std::function<bool()>& done, int ms)
{
    const QDeadlineTimer deadline(ms);
    while (!done() && !deadline.hasExpired()) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

class qt_serial_link_test : public ::testing::Test {
protected:
    void SetUp() override
    {
        plug_in();
        link_.set_comm_port(1);
        link_.set_receive_callback([this](int event) { events_.push_back(event); });
    }

    void TearDown() override
    {
        link_.close();
        unplug();
        ::unsetenv("FERNWICK_COM1");
    }

    void plug_in()
    {
        char path[256] = {};
        ASSERT_EQ(::openpty(&board_, &device_, path, nullptr, nullptr), 0);
        termios raw{};
        ::tcgetattr(board_, &raw);
        ::cfmakeraw(&raw);
        ::tcsetattr(board_, TCSANOW, &raw);
        device_path_ = path;
        ::setenv("FERNWICK_COM1", path, 1);
    }

    // The board side closes: the device hangs up like a pulled-out adapter.
    void unplug()
    {
        if (board_ >= 0) ::close(board_);
        if (device_ >= 0) ::close(device_);
        board_ = device_ = -1;
    }

    byte_string board_receives(std::size_t n)
    {
        byte_string got(n, '\0');
        std::size_t have = 0;
        for (pollfd ready{board_, POLLIN, 0}; have<n&& ::poll(&ready, 1, k_patience_ms)> 0;) {
            const auto r = ::read(board_, got.data() + have, n - have);
            if (r <= 0) break;
            have += static_cast<std::size_t>(r);
        }
        return got.substr(0, have);
    }

    int board_ = -1;
    int device_ = -1;
    std::string device_path_;
    qt_serial_link link_;
    std::vector<int> events_;
};

TEST_F(qt_serial_link_test, every_rate_opens_carries_every_byte_value_both_ways_and_counts_what_is_pending)
{
    byte_string bytes;
    for (int b = 0; b < 256; ++b) bytes.push_back(static_cast<char>(b));
    for (const int baud : {2400, 4800, 9600, 14400, 19200}) {
        SCOPED_TRACE(baud);
        link_.set_settings(std::to_string(baud) + ",n,8,1");
        ASSERT_TRUE(link_.open()) << link_.error_text();
        driver_termios driver{};
        ::ioctl(board_, _IOR('T', 0x2A, driver_termios), &driver);  // TCGETS2
        EXPECT_EQ(driver.c_ospeed, static_cast<speed_t>(baud));
        EXPECT_TRUE(link_.write(bytes));
        EXPECT_EQ(board_receives(bytes.size()), bytes);

        EXPECT_EQ(link_.pending(), 0);
        ASSERT_EQ(::write(board_, bytes.data(), bytes.size()), 256);
        ASSERT_TRUE(link_.wait_for_data(k_patience_ms));
        pump_events_until([this] { return link_.pending() >= 256; }, k_patience_ms);
        // The zero byte counts like any other.
        EXPECT_EQ(link_.pending(), 256);
        EXPECT_EQ(link_.read_all(), bytes);
        EXPECT_EQ(link_.pending(), 0);
        link_.close();
    }
}

TEST_F(qt_serial_link_test, threshold_1_notifies_once_on_the_event_loop_and_0_never)
{
    for (const int threshold : {0, 1}) {
        SCOPED_TRACE(threshold);
        events_.clear();
        link_.set_threshold(threshold);
        ASSERT_TRUE(link_.open()) << link_.error_text();
        ASSERT_EQ(::write(board_, "ab", 2), 2);
        ASSERT_TRUE(link_.wait_for_data(k_patience_ms));
        // Never inside the call that polled: the handler that polled returns first.
        EXPECT_TRUE(events_.empty());
        pump_events_until([this] { return events_.size() > 1; }, 300);
        EXPECT_EQ(events_, std::vector<int>(threshold, k_comm_event_receive));
        link_.close();
    }
}

TEST_F(qt_serial_link_test, a_held_device_does_not_open_again_under_either_name_until_released)
{
    // COM 2 is the same device through a symlink, as under /dev/serial/by-id.
    const std::string alias = ::testing::TempDir() + "fernwick-com2-" + std::to_string(::getpid());
    ASSERT_EQ(::symlink(device_path_.c_str(), alias.c_str()), 0);
    ::setenv("FERNWICK_COM2", alias.c_str(), 1);
    ASSERT_TRUE(link_.open()) << link_.error_text();
    for (const int port : {1, 2}) {
        qt_serial_link second;
        second.set_comm_port(port);
        EXPECT_FALSE(second.open()) << "COM " << port;
        EXPECT_FALSE(second.error_text().empty()) << "COM " << port;
    }
    EXPECT_TRUE(link_.write("still mine"));
    EXPECT_EQ(board_receives(10), "still mine");

    link_.close();
    qt_serial_link second;
    second.set_comm_port(2);
    EXPECT_TRUE(second.open()) << second.error_text();
    ::unsetenv("FERNWICK_COM2");
    ::unlink(alias.c_str());
}

TEST_F(qt_serial_link_test, a_link_that_cannot_open_says_why)
{
    // name, port, device (null: the pseudo-terminal), settings
    const std::tuple<const char*, int, const char*, const char*> rows[] = {
        {"missing device", 1, "/dev/fernwick-no-such-device", "9600,n,8,1"},
        {"no such port number", 3, nullptr, "9600,n,8,1"},
        {"malformed settings", 1, nullptr, "9600,n,8"},
        {"letters for a rate", 1, nullptr, "fast,n,8,1"},
    };
    for (const auto& [name, port, device, settings] : rows) {
        SCOPED_TRACE(name);
        ::setenv("FERNWICK_COM1", device != nullptr ? device : device_path_.c_str(), 1);
        qt_serial_link link;
        link.set_comm_port(port);
        link.set_settings(settings);
        EXPECT_FALSE(link.open());
        EXPECT_FALSE(link.is_open());
        EXPECT_FALSE(link.error_text().empty());
    }
}

// Each way the link can first notice the hang-up.
TEST_F(qt_serial_link_test, a_device_that_goes_away_closes_the_link_without_hanging)
{
    const std::pair<const char*, std::function<void(qt_serial_link&)>> rows[] = {
        {"event loop", [](qt_serial_link& l) { pump_events_until([&l] { return !l.is_open(); }, k_patience_ms); }},
        {"poll", [](qt_serial_link& l) { l.wait_for_data(10); }},
        {"pending count", [](qt_serial_link& l) { l.pending(); }},
        {"write", [](qt_serial_link& l) { EXPECT_FALSE(l.write("x")); }},
    };
    for (const auto& [name, notice] : rows) {
        SCOPED_TRACE(name);
        if (board_ < 0) plug_in();
        ASSERT_TRUE(link_.open()) << link_.error_text();
        unplug();
        notice(link_);
        EXPECT_FALSE(link_.is_open());
        EXPECT_FALSE(link_.error_text().empty());
        EXPECT_FALSE(link_.wait_for_data(10));
        EXPECT_FALSE(link_.write("x"));
        EXPECT_EQ(link_.pending(), 0);
        EXPECT_EQ(link_.read_all(), "");
    }
}

TEST(qt_ui_timer, ticks_once_per_start_and_a_stop_or_restart_drops_the_pending_tick)
{
    // name, what follows the start, ticks, active after
    const std::tuple<const char*, std::function<void(qt_ui_timer&)>, int, bool> rows[] = {
        {"left alone", [](qt_ui_timer&) {}, 1, false},
        {"stopped", [](qt_ui_timer& t) { t.stop(); }, 0, false},
        {"restarted with a long period", [](qt_ui_timer& t) { t.start(60'000); }, 0, true},
    };
    for (const auto& [name, after_start, expected_ticks, active] : rows) {
        SCOPED_TRACE(name);
        qt_ui_timer timer;
        int ticks = 0;
        timer.set_tick_callback([&ticks] { ++ticks; });
        timer.start(10);
        EXPECT_TRUE(timer.active());
        after_start(timer);
        pump_events_until([&ticks] { return ticks > 0; }, expected_ticks > 0 ? k_patience_ms : 100);
        // Long enough for a second tick of the 10 ms period.
        pump_events_until([] { return false; }, 100);
        EXPECT_EQ(ticks, expected_ticks);
        EXPECT_EQ(timer.active(), active);
    }
}

}  // namespace
