// mirel-sim as a host sees it: the real binary over its pseudo-terminal,
// driven with plain POSIX I/O and once through the Qt serial adapter.

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <thread>

#include <gtest/gtest.h>

#include "bootstrap/loader_images.h"
#include "core/qt_serial_link.h"
#include "e2e/support_board.h"

namespace {

using namespace fernwick;
using e2e::simulated_board;

// Bound on every wait, so that a silent simulator fails a test instead of hanging it.
constexpr int k_patience_ms = 3000;

const std::string zero(1, '\0');

// "A5 5A" or "A55A" to the bytes A5h 5Ah.
std::string bytes_of(const std::string& hex)
{
    std::string digits;
    for (const char c : hex)
        if (c != ' ') digits.push_back(c);
    std::string bytes;
    for (std::size_t i = 0; i + 1 < digits.size(); i += 2)
        bytes.push_back(static_cast<char>(std::stoi(digits.substr(i, 2), nullptr, 16)));
    return bytes;
}

const std::string bsl_code_1 = bytes_of(
    "A55AA5A5E60940FAE60B40FAE60A0CFAE60800FA8AE2FEB06FA49AE2FEB06EA4F20748FE26072400E6F148005B11F25A0EFEAFE2"
    "AFE3E6D80180E658D5009AB6");

std::string hex_of(const std::string& bytes)
{
    std::string text;
    for (const char c : bytes) {
        char pair[4];
        std::snprintf(pair, sizeof pair, "%s%02X", text.empty() ? "" : " ", static_cast<unsigned char>(c));
        text += pair;
    }
    return text;
}

void pause_ms(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// The host's end: the device opened raw, as a serial port would be.
class host_port {
public:
    explicit host_port(const std::string& device) : device_(device) { open(); }
    ~host_port() { close(); }
    host_port(const host_port&) = delete;
    host_port& operator=(const host_port&) = delete;

    void open()
    {
        fd_ = ::open(device_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        ASSERT_GE(fd_, 0) << device_;
        termios raw{};
        ::tcgetattr(fd_, &raw);
        ::cfmakeraw(&raw);
        ::tcsetattr(fd_, TCSANOW, &raw);
    }

    void close()
    {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

    void send(const std::string& bytes)
    {
        std::size_t done = 0;
        while (done < bytes.size()) {
            const auto n = ::write(fd_, bytes.data() + done, bytes.size() - done);
            if (n > 0) done += static_cast<std::size_t>(n);
            else if (!wait(POLLOUT, k_patience_ms)) break;
        }
    }

    // The next n bytes as hex, fewer when the rest does not come in time.
    std::string receive(std::size_t n)
    {
        std::string bytes;
        const QDeadlineTimer deadline(k_patience_ms);
        while (bytes.size() < n && wait(POLLIN, static_cast<int>(deadline.remainingTime()))) {
            char buffer[256];
            const auto got = ::read(fd_, buffer, std::min(sizeof buffer, n - bytes.size()));
            if (got > 0) bytes.append(buffer, static_cast<std::size_t>(got));
        }
        return hex_of(bytes);
    }

    std::string exchange(const std::string& bytes, std::size_t answer_size)
    {
        send(bytes);
        return receive(answer_size);
    }

private:
    bool wait(short events, int ms)
    {
        pollfd p{fd_, events, 0};
        return ::poll(&p, 1, ms) > 0 && (p.revents & events);
    }

    std::string device_;
    int fd_ = -1;
};

void bring_up(host_port& host)
{
    ASSERT_EQ(host.exchange(zero, 1), "D5");
    ASSERT_EQ(host.exchange(bootstrap::first_loader_bytes(), 1), "22");
    ASSERT_EQ(host.exchange(bootstrap::main_program_bytes(), 1), "11");
}

// Waits until the trace holds the text; the simulator's own moment of acting.
bool trace_shows(const std::string& path, const std::string& text)
{
    const QDeadlineTimer deadline(k_patience_ms);
    while (!deadline.hasExpired()) {
        if (e2e::read_file(path).find(text) != std::string::npos) return true;
        pause_ms(5);
    }
    return false;
}

// Every byte in the trace's host lines, in order.
std::string host_bytes_in(const std::string& trace)
{
    std::string bytes;
    std::size_t at = 0;
    while ((at = trace.find(" host ", at)) != std::string::npos) {
        const auto end = trace.find('\n', at);
        bytes += bytes_of(trace.substr(at + 6, end - at - 6));
        at = end;
    }
    return bytes;
}

TEST(mirel_sim, serves_a_whole_session_and_traces_every_byte)
{
    const auto trace = e2e::temp_dir() + "/trace";
    simulated_board board({"--trace", trace});
    host_port host(board.device());
    bring_up(host);
    for (const auto& [command, answer] : std::vector<std::pair<std::string, std::string>>{
             {"40 40", "00 10 80 88"}, {"40 41", "01 11 7F 88"}, {"40 42", "02 12 7E 88"}, {"40 43", "03 13 7D 88"}})
        EXPECT_EQ(host.exchange(bytes_of(command), 4), answer);
    EXPECT_EQ(host.exchange(bytes_of("20 22"), 2), "BE 88");
    const std::string block = bytes_of("33 02 00 00") + bsl_code_1;
    EXPECT_EQ(host.exchange(block, 2), "AF 88");
    EXPECT_EQ(host.exchange(zero, 1), "12");
    bring_up(host);
    EXPECT_EQ(host.exchange(bytes_of("40 40"), 4), "00 10 80 88");
    board.stop();
    const auto written = zero + bootstrap::first_loader_bytes() + bootstrap::main_program_bytes() +
                         bytes_of("40 40 40 41 40 42 40 43 20 22") + block + zero + zero +
                         bootstrap::first_loader_bytes() + bootstrap::main_program_bytes() + bytes_of("40 40");
    EXPECT_EQ(hex_of(host_bytes_in(e2e::read_file(trace))), hex_of(written));
}

TEST(mirel_sim, dumps_the_flash_when_stopped)
{
    const auto dir = e2e::temp_dir();
    std::string image(128 * 1024, '\xFF');
    std::fill(image.begin() + 3 * 32 * 1024, image.end(), '\x5A');
    e2e::write_file(dir + "/preload", image);
    simulated_board board({"--preload", dir + "/preload", "--dump", dir + "/dump"});
    host_port host(board.device());
    bring_up(host);
    EXPECT_EQ(host.exchange(bytes_of("20 23"), 2), "BD 88");
    EXPECT_EQ(host.exchange(bytes_of("33 01 80 40 12 34") + std::string(62, '\0'), 2), "C6 88");
    EXPECT_EQ(board.stop(), 0);
    std::fill(image.begin() + 3 * 32 * 1024, image.end(), '\xFF');
    image.replace(32 * 1024 + 0x40, 64, bytes_of("12 34") + std::string(62, '\0'));
    EXPECT_TRUE(e2e::read_file(dir + "/dump") == image);
}

TEST(mirel_sim, resets_when_the_port_stays_closed_but_not_on_a_quick_reopen)
{
    const auto trace = e2e::temp_dir() + "/trace";
    simulated_board board({"--trace", trace});
    host_port host(board.device());
    bring_up(host);
    host.close();
    pause_ms(5);
    host.open();
    EXPECT_EQ(host.exchange(bytes_of("40 40"), 4), "00 10 80 88");
    host.close();
    ASSERT_TRUE(trace_shows(trace, "reset (port closed)"));
    host.open();
    EXPECT_EQ(host.exchange(zero, 1), "D5");
}

TEST(mirel_sim, the_reset_button_brings_back_the_bootstrap_loader)
{
    const auto trace = e2e::temp_dir() + "/trace";
    simulated_board board({"--trace", trace});
    host_port host(board.device());
    bring_up(host);
    board.press_reset();
    ASSERT_TRUE(trace_shows(trace, "reset (button)"));
    EXPECT_EQ(host.exchange(zero, 1), "D5");
}

TEST(mirel_sim, faults_given_on_the_command_line_reach_the_wire)
{
    struct row {
        std::vector<std::string> options;
        std::string first_answer;
        std::string erase_answer;
    };
    const std::vector<row> rows = {
        {{"--id-byte", "C5"}, "C5", "C0 88"},
        {{"--fault", "echo-zero", "--joined-answers"}, "00 D5", "C0 88"},
        {{"--fault", "erase:1:status=93"}, "D5", "C0 93"},
        {{"--fault", "erase:1:checksum", "--line-rate", "19200", "--erase-ms", "50"}, "D5", "C1 88"},
    };
    for (const auto& r : rows) {
        simulated_board board(r.options);
        host_port host(board.device());
        EXPECT_EQ(host.exchange(zero, r.first_answer.size() / 3 + 1), r.first_answer);
        EXPECT_EQ(host.exchange(bootstrap::first_loader_bytes(), 1), "22");
        EXPECT_EQ(host.exchange(bootstrap::main_program_bytes(), 1), "11");
        EXPECT_EQ(host.exchange(bytes_of("20 20"), 2), r.erase_answer);
    }
}

// The tool's own serial adapter: receive notifications through the Qt event
// loop for the bring-up, then the command link polled.
TEST(mirel_sim, brings_up_through_the_qt_serial_adapter)
{
    int argc = 1;
    char name[] = "e2e";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    simulated_board board;
    ::setenv("FERNWICK_COM1", board.device().c_str(), 1);
    std::string received;
    core::qt_serial_link link;
    link.set_comm_port(1);
    link.set_settings("19200,n,8,1");
    link.set_receive_callback([&](int) { received += link.read_all(); });
    const auto answer_to = [&](const std::string& bytes) {
        received.clear();
        link.write(bytes);
        const QDeadlineTimer deadline(k_patience_ms);
        while (received.empty() && !deadline.hasExpired())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        return hex_of(received);
    };
    ASSERT_TRUE(link.open()) << link.error_text();
    EXPECT_EQ(answer_to(zero), "D5");
    EXPECT_EQ(answer_to(bootstrap::first_loader_bytes()), "22");
    EXPECT_EQ(answer_to(bootstrap::main_program_bytes()), "11");
    link.close();
    ASSERT_TRUE(link.open()) << link.error_text();
    link.set_threshold(0);
    link.write(bytes_of("20 21"));
    std::string answer;
    for (int polls = 0; answer.size() < 2 && polls < k_patience_ms; ++polls)
        if (link.wait_for_data(1)) answer += link.read_all();
    EXPECT_EQ(hex_of(answer), "BF 88");
    ::unsetenv("FERNWICK_COM1");
}

}  // namespace
