#include "support_matrix.h"

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace fernwick::e2e::matrix {

namespace {

const std::string k_star(37, '*');
const std::string k_bar(155, '|');

std::string framed(const std::string& frame, const std::vector<std::string>& lines)
{
    std::string text = "\n" + frame;
    for (const auto& l : lines) text += "\n" + l;
    return text + "\n" + frame + "\n";
}

using steady = std::chrono::steady_clock;

int count_events(const std::string& trace, const std::string& event)
{
    std::istringstream lines(trace);
    int count = 0;
    for (std::string line; std::getline(lines, line);) count += line.ends_with(event) ? 1 : 0;
    return count;
}

}  // namespace

std::string error_block(const std::vector<std::string>& lines) { return framed(k_star, lines); }
std::string notice_block(const std::vector<std::string>& lines) { return framed(k_bar, lines); }
std::string line_with_break(const std::string& text) { return "\n" + text + "\n"; }

std::string restart_advice() { return "     Please Re-Start the Fernwick !"; }

std::string reply_time_out_block()
{
    return error_block({"     TimeOut Error !",
                        "     I was waiting for a byte from the microcontroller that I didn't receive !",
                        restart_advice()});
}

std::string flash_failure_block(const std::string& message) { return error_block({message, "", restart_advice()}); }

std::string zero_byte_line() { return line_with_break("     Sending the zero byte to the uC... "); }

std::string loader_lines(const std::optional<std::string>& identification)
{
    return zero_byte_line() +
           identification.value_or(line_with_break("     Identification byte from the Mirel received")) +
           line_with_break("     First level loader routine to the uC (32 bytes) sent");
}

std::string bring_up_lines(const std::optional<std::string>& identification)
{
    return loader_lines(identification) +
           line_with_break("     The uC is ready for downloading the main program ...") +
           line_with_break("     Main program sent");
}

std::string ready_block()
{
    return "\n\n" + k_bar + "\n\n                       The uC is ready for receiving commands from you ...\n\n" + k_bar +
           "\n\n";
}

std::string sector_lines() { return "Sector 0: 0010\nSector 1: 0111\nSector 2: 0212\nSector 3: 0313\n"; }

std::string healthy_status() { return bring_up_lines() + ready_block() + sector_lines(); }

std::string without_summary(const std::string& out)
{
    const auto at = out.rfind("\nBlocks sent: ");
    return at == std::string::npos ? out : out.substr(0, at + 1);
}

bool wait_for_event(const std::string& trace_path, const std::string& event, int count)
{
    const auto deadline = steady::now() + std::chrono::seconds(10);
    while (count_events(read_file(trace_path), event) < count) {
        if (steady::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

std::size_t host_bytes_before(const std::string& trace, const std::string& event)
{
    std::istringstream lines(trace);
    std::size_t bytes = 0;
    for (std::string line; std::getline(lines, line) && !line.ends_with(event);) {
        std::istringstream words(line);
        std::string ms, who, byte;
        words >> ms >> who;
        if (who != "host") continue;
        while (words >> byte) ++bytes;
    }
    return bytes;
}

}  // namespace fernwick::e2e::matrix
