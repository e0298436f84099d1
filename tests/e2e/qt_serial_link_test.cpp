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
class qt_environment : public ::testing::Environment {
public:
    void SetUp() override { app_ = std::make_unique<QCoreApplication>(argc_, argv_); }
    void TearDown() override { app_.reset(); }

private:
    int argc_ = 1;
    char name_[4] = "e2e";
    char* argv_[2] = {name_, nullptr};
    std::unique_ptr<QCoreApplication> app_;
};

[[maybe_unused]] const auto* const environment =
    ::testing::AddGlobalTestEnvironment(new qt_environment);

// The terminal settings as the Linux driver keeps them, with the rate in
// plain numbers (the libc view only knows the standard rates).
struct driver_termios {
    tcflag_t c_iflag, c_oflag, c_cflag, c_lflag;
    cc_t c_line;
    cc_t c_cc[19];
    speed_t c_ispeed, c_ospeed;
};

byte_string all_byte_values()
{
    byte_string bytes;
    for (int b = 0; b < 256; ++b) bytes.push_back(static_cast<char>(b));
    return bytes;
}

void pump_events_until(const std::function<bool()>& done, int ms)
{
    const QDeadlineTimer deadline(ms);
    while (!done() && !deadline.hasExpired()) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

// A pseudo-terminal pair: the link opens the device side by path, the test
// plays the board on the other side.
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

    void board_sends(const byte_string& bytes)
    {
        ASSERT_EQ(::write(board_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }

    byte_string board_receives(std::size_t n)
    {
        byte_string got;
        pollfd ready{board_, POLLIN, 0};
        while (got.size() < n && ::poll(&ready, 1, k_patience_ms) > 0) {
            char chunk[1024];
            const auto r = ::read(board_, chunk, std::min(sizeof chunk, n - got.size()));
            if (r <= 0) break;
            got.append(chunk, static_cast<std::size_t>(r));
        }
        return got;
    }

    byte_string link_receives(std::size_t n)
    {
        byte_string got;
        while (got.size() < n && link_.wait_for_data(k_patience_ms)) got += link_.read_all();
        return got;
    }

    driver_termios driver_settings() const
    {
        driver_termios t{};
        ::ioctl(board_, _IOR('T', 0x2A, driver_termios), &t);  // TCGETS2
        return t;
    }

    int board_ = -1;
    int device_ = -1;
    std::string device_path_;
    qt_serial_link link_;
    std::vector<int> events_;
};

TEST_F(qt_serial_link_test, every_rate_opens_and_carries_every_byte_value_both_ways)
{
    const auto bytes = all_byte_values();
    for (const int baud : {2400, 4800, 9600, 14400, 19200}) {
        link_.set_settings(std::to_string(baud) + ",n,8,1");
        ASSERT_TRUE(link_.open()) << baud << ": " << link_.error_text();
        EXPECT_EQ(driver_settings().c_ospeed, static_cast<speed_t>(baud));
        EXPECT_TRUE(link_.write(bytes));
        EXPECT_EQ(board_receives(bytes.size()), bytes) << baud;
        board_sends(bytes);
        EXPECT_EQ(link_receives(bytes.size()), bytes) << baud;
        link_.close();
        EXPECT_FALSE(link_.is_open());
    }
}

TEST_F(qt_serial_link_test, a_whole_main_program_goes_out_in_one_write)
{
    byte_string program;
    while (program.size() < 510) program += all_byte_values();
    program.resize(510);
    link_.set_settings("14400,n,8,1");
    ASSERT_TRUE(link_.open()) << link_.error_text();
    EXPECT_TRUE(link_.write(program));
    EXPECT_EQ(board_receives(program.size()), program);
}

TEST_F(qt_serial_link_test, pending_counts_received_bytes_a_zero_included_until_read)
{
    ASSERT_TRUE(link_.open()) << link_.error_text();
    EXPECT_EQ(link_.pending(), 0);
    EXPECT_EQ(link_.read_all(), "");
    board_sends(byte_string("\x00\x01\x02", 3));
    ASSERT_TRUE(link_.wait_for_data(k_patience_ms));
    const QDeadlineTimer deadline(k_patience_ms);
    while (link_.pending() < 3 && !deadline.hasExpired()) link_.wait_for_data(10);
    EXPECT_EQ(link_.pending(), 3);
    EXPECT_EQ(link_.read_all(), byte_string("\x00\x01\x02", 3));
    EXPECT_EQ(link_.pending(), 0);
}

TEST_F(qt_serial_link_test, threshold_one_notifies_on_the_event_loop_and_zero_stays_silent)
{
    struct row {
        int threshold;
        std::vector<int> expected_events;
    };
    for (const auto& r : std::vector<row>{{0, {}}, {1, {k_comm_event_receive}}}) {
        events_.clear();
        link_.set_threshold(r.threshold);
        ASSERT_TRUE(link_.open()) << link_.error_text();
        board_sends("ab");
        pump_events_until([this] { return !events_.empty(); }, 300);
        EXPECT_EQ(events_, r.expected_events) << "threshold " << r.threshold;
        EXPECT_EQ(link_receives(2), "ab");
        link_.close();
    }
}

TEST_F(qt_serial_link_test, a_notification_never_runs_inside_the_call_that_polled)
{
    ASSERT_TRUE(link_.open()) << link_.error_text();
    board_sends("x");
    ASSERT_TRUE(link_.wait_for_data(k_patience_ms));
    EXPECT_TRUE(events_.empty());
    pump_events_until([this] { return !events_.empty(); }, k_patience_ms);
    EXPECT_EQ(events_, std::vector<int>{k_comm_event_receive});
}

TEST_F(qt_serial_link_test, a_device_held_by_another_link_does_not_open_until_released)
{
    ASSERT_TRUE(link_.open()) << link_.error_text();
    qt_serial_link second;
    second.set_comm_port(1);
    EXPECT_FALSE(second.open());
    EXPECT_FALSE(second.is_open());
    EXPECT_FALSE(second.error_text().empty());
    EXPECT_TRUE(link_.write("still mine"));
    EXPECT_EQ(board_receives(10), "still mine");

    link_.close();
    EXPECT_TRUE(second.open()) << second.error_text();
}

TEST_F(qt_serial_link_test, a_device_held_under_another_name_does_not_open)
{
    const std::string alias = ::testing::TempDir() + "fernwick-com2-" + std::to_string(::getpid());
    ASSERT_EQ(::symlink(device_path_.c_str(), alias.c_str()), 0);
    ::setenv("FERNWICK_COM2", alias.c_str(), 1);
    ASSERT_TRUE(link_.open()) << link_.error_text();
    qt_serial_link second;
    second.set_comm_port(2);
    EXPECT_FALSE(second.open());
    EXPECT_FALSE(second.error_text().empty());
    ::unsetenv("FERNWICK_COM2");
    ::unlink(alias.c_str());
}

TEST_F(qt_serial_link_test, opening_fails_with_a_reason_for_bad_ports_and_settings)
{
    struct row {
        const char* name;
        int port;
        const char* device;
        const char* settings;
    };
    const std::vector<row> rows = {
        {"missing device", 1, "/dev/fernwick-no-such-device", "9600,n,8,1"},
        {"no such port number", 3, nullptr, "9600,n,8,1"},
        {"malformed settings", 1, nullptr, "9600,n,8"},
        {"letters for a rate", 1, nullptr, "fast,n,8,1"},
    };
    for (const auto& r : rows) {
        if (r.device != nullptr) ::setenv("FERNWICK_COM1", r.device, 1);
        qt_serial_link link;
        link.set_comm_port(r.port);
        link.set_settings(r.settings);
        EXPECT_FALSE(link.open()) << r.name;
        EXPECT_FALSE(link.is_open()) << r.name;
        EXPECT_FALSE(link.error_text().empty()) << r.name;
        ::setenv("FERNWICK_COM1", device_path_.c_str(), 1);
    }
}

TEST_F(qt_serial_link_test, a_closed_link_refuses_writes_and_has_nothing_to_read)
{
    EXPECT_FALSE(link_.write("x"));
    EXPECT_FALSE(link_.error_text().empty());
    EXPECT_EQ(link_.pending(), 0);
    EXPECT_FALSE(link_.wait_for_data(0));
    EXPECT_EQ(link_.read_all(), "");
}

TEST_F(qt_serial_link_test, a_device_that_goes_away_closes_the_link_without_hanging)
{
    struct row {
        const char* name;
        std::function<void(qt_serial_link&)> notice;
    };
    const std::vector<row> rows = {
        {"event loop", [](qt_serial_link& l) { pump_events_until([&l] { return !l.is_open(); }, k_patience_ms); }},
        {"poll", [](qt_serial_link& l) { l.wait_for_data(10); }},
        {"pending count", [](qt_serial_link& l) { l.pending(); }},
        {"write", [](qt_serial_link& l) { EXPECT_FALSE(l.write("x")); }},
    };
    for (const auto& r : rows) {
        if (board_ < 0) plug_in();
        ASSERT_TRUE(link_.open()) << r.name << ": " << link_.error_text();
        unplug();
        r.notice(link_);
        EXPECT_FALSE(link_.is_open()) << r.name;
        EXPECT_FALSE(link_.error_text().empty()) << r.name;
        EXPECT_FALSE(link_.wait_for_data(10)) << r.name;
        EXPECT_FALSE(link_.write("x")) << r.name;
        EXPECT_EQ(link_.pending(), 0) << r.name;
        EXPECT_EQ(link_.read_all(), "") << r.name;
    }
}

class qt_ui_timer_test : public ::testing::Test {
protected:
    void SetUp() override
    {
        timer_.set_tick_callback([this] { ++ticks_; });
    }

    qt_ui_timer timer_;
    int ticks_ = 0;
};

TEST_F(qt_ui_timer_test, ticks_once_per_start_and_then_rests)
{
    timer_.start(10);
    EXPECT_TRUE(timer_.active());
    pump_events_until([this] { return ticks_ > 0; }, k_patience_ms);
    pump_events_until([] { return false; }, 100);
    EXPECT_EQ(ticks_, 1);
    EXPECT_FALSE(timer_.active());
}

TEST_F(qt_ui_timer_test, stop_and_restart_discard_the_pending_period)
{
    struct row {
        const char* name;
        std::function<void(qt_ui_timer&)> after_start;
        bool active;
    };
    const std::vector<row> rows = {
        {"stopped", [](qt_ui_timer& t) { t.stop(); }, false},
        {"restarted with a long period", [](qt_ui_timer& t) { t.start(60'000); }, true},
    };
    for (const auto& r : rows) {
        ticks_ = 0;
        timer_.start(10);
        r.after_start(timer_);
        pump_events_until([] { return false; }, 100);
        EXPECT_EQ(ticks_, 0) << r.name;
        EXPECT_EQ(timer_.active(), r.active) << r.name;
        timer_.stop();
    }
}

}  // namespace
