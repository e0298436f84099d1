// mirel-sim as a host sees it: the real binary over its pseudo-terminal,
// driven with plain POSIX I/O.

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <QDeadlineTimer>
#include <thread>

#include <gtest/gtest.h>

#include "e2e/support_board.h"
#include "programming/bsl_code.h"
#include "unit/support_chip.h"

namespace {

using namespace fernwick::sim;
using namespace fernwick::sim::testing;
using fernwick::e2e::simulated_board;

// Bound on every wait, so that a silent simulator fails a test instead of hanging it.
constexpr int k_patience_ms = 3000;

// The host's end: the device opened raw, as a serial port would be.
struct host_port {
    explicit host_port(const std::string& device) : device(device) { open(); }
    ~host_port() { close(); }

    void open()
    {
        fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        termios raw{};
        ::tcgetattr(fd, &raw);
        ::cfmakeraw(&raw);
        ::tcsetattr(fd, TCSANOW, &raw);
    }
    void close() { ::close(std::exchange(fd, -1)); }

    // Sends the bytes, then the next n bytes as hex, fewer when the rest does not come in time.
    std::string exchange(const std::string& bytes, std::size_t n)
    {
        for (std::size_t done = 0; done < bytes.size() && wait(POLLOUT);)
            done += static_cast<std::size_t>(std::max<ssize_t>(::write(fd, &bytes[done], bytes.size() - done), 0));
        std::string got(n, '\0');
        std::size_t have = 0;
        while (have < n && wait(POLLIN))
            have += static_cast<std::size_t>(std::max<ssize_t>(::read(fd, &got[have], n - have), 0));
        return hex_of(got.substr(0, have));
    }
    bool wait(short events)
    {
        pollfd p{fd, events, 0};
        return ::poll(&p, 1, k_patience_ms) > 0 && (p.revents & events);
    }

    std::string device;
    int fd = -1;
};

// Waits until the trace holds the text: the simulator's own moment of acting.
bool trace_shows(const std::string& path, const std::string& text)
{
    for (const QDeadlineTimer deadline(k_patience_ms); !deadline.hasExpired();
         std::this_thread::sleep_for(std::chrono::milliseconds(5)))
        if (fernwick::e2e::read_file(path).find(text) != std::string::npos) return true;
    return false;
}

TEST(mirel_sim, serves_a_whole_session_and_dumps_the_flash)
{
    const auto dir = fernwick::e2e::temp_dir();
    std::string image(k_flash_size, '\x5A');
    image.replace(2 * k_sector_size, k_sector_size, k_sector_size, '\xFF');  // room for the block
    fernwick::e2e::write_file(dir + "/preload", image);
    simulated_board board({"--preload", dir + "/preload", "--dump", dir + "/dump"});
    host_port host(board.device());
    EXPECT_EQ(host.exchange(bring_up_bytes(), 3), "D5 22 11");
    EXPECT_EQ(host.exchange(bytes_of("40 40 40 41 40 42 40 43"), 16),
              "00 10 80 88 01 11 7F 88 02 12 7E 88 03 13 7D 88");
    EXPECT_EQ(host.exchange(bytes_of("20 23"), 2), "BD 88");
    const auto code = block(2, 0x0000, bytes_of(std::string(fernwick::programming::bsl_code_1)));
    EXPECT_EQ(host.exchange(code, 2), "AF 88");
    EXPECT_EQ(host.exchange(zero_byte, 1), "12");
    EXPECT_EQ(host.exchange(bring_up_bytes(), 3), "D5 22 11");
    EXPECT_EQ(host.exchange(bytes_of("40 40"), 4), "00 10 80 88");
    EXPECT_EQ(board.stop(), 0);
    image.replace(3 * k_sector_size, k_sector_size, k_sector_size, '\xFF');
    image.replace(2 * k_sector_size, k_block_size, code.substr(4));
    EXPECT_TRUE(fernwick::e2e::read_file(dir + "/dump") == image);
}

TEST(mirel_sim, resets_on_the_button_and_on_a_port_kept_closed_but_not_on_a_quick_reopen)
{
    const auto trace = fernwick::e2e::temp_dir() + "/trace";
    simulated_board board({"--trace", trace});
    host_port host(board.device());
    EXPECT_EQ(host.exchange(bring_up_bytes(), 3), "D5 22 11");
    host.close();
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    host.open();
    EXPECT_EQ(host.exchange(bytes_of("40 40"), 4), "00 10 80 88");
    host.close();
    ASSERT_TRUE(trace_shows(trace, "reset (port closed)"));
    host.open();
    EXPECT_EQ(host.exchange(bring_up_bytes(), 3), "D5 22 11");
    board.press_reset();
    ASSERT_TRUE(trace_shows(trace, "reset (button)"));
    EXPECT_EQ(host.exchange(zero_byte, 1), "D5");
}

TEST(mirel_sim, a_fault_given_on_the_command_line_reaches_the_wire)
{
    simulated_board board({"--fault", "echo-zero", "--fault", "erase:1:checksum"});
    host_port host(board.device());
    EXPECT_EQ(host.exchange(bring_up_bytes(), 4), "00 D5 22 11");
    EXPECT_EQ(host.exchange(bytes_of("20 20"), 2), "C1 88");
}

}  // namespace
