#include "support_matrix.h"

#include <chrono>
#include <sstream>
#include <thread>

namespace fernwick::e2e::matrix {

namespace {

std::string framed(const std::string& frame, const std::vector<std::string>& lines)
{
    std::string text = "\n" + frame;
    for (const auto& l : lines) text += "\n" + l;
    return text + "\n" + frame + "\n";
}

std::string line(const std::string& text) { return "\n" + text + "\n"; }

}  // namespace

std::string error_block(const std::vector<std::string>& lines) { return framed(std::string(37, '*'), lines); }
std::string notice_block(const std::vector<std::string>& lines) { return framed(std::string(155, '|'), lines); }
std::string failure_block(const std::string& message) { return error_block({message, "", k_restart}); }

std::string time_out_block()
{
    return error_block({"     TimeOut Error !",
                        "     I was waiting for a byte from the microcontroller that I didn't receive !", k_restart});
}

std::string bring_up(stage until, const std::optional<std::string>& identification)
{
    std::string log = line("     Sending the zero byte to the uC... ");
    if (until == stage::zero_byte) return log;
    log += identification.value_or(line("     Identification byte from the Mirel received")) +
           line("     First level loader routine to the uC (32 bytes) sent");
    if (until == stage::loader) return log;
    log += line("     The uC is ready for downloading the main program ...") + line("     Main program sent");
    if (until == stage::main_program) return log;
    const std::string bar(155, '|');
    return log + "\n\n" + bar + "\n\n                       The uC is ready for receiving commands from you ...\n\n" +
           bar + "\n\n";
}

std::string without_summary(const std::string& out)
{
    const auto at = out.rfind("\nBlocks sent: ");
    return at == std::string::npos ? out : out.substr(0, at + 1);
}

bool wait_for_event(const std::string& trace_path, const std::string& event)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (read_file(trace_path).find(event + "\n") == std::string::npos) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

std::size_t host_bytes_before(const std::string& trace, const std::string& event)
{
    std::istringstream lines(trace);
    std::size_t bytes = 0;
    for (std::string l; std::getline(lines, l) && !l.ends_with(event);) {
        std::istringstream words(l);
        std::string ms, who, byte;
        words >> ms >> who;
        while (who == "host" && words >> byte) ++bytes;
    }
    return bytes;
}

}  // namespace fernwick::e2e::matrix
