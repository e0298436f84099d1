#include "bootstrap/handshake.h"

#include <cstdio>

#include "bootstrap/loader_images.h"
#include "core/protocol.h"
#include "core/timeouts.h"

namespace fernwick::bootstrap {

using core::app_state;

namespace {

constexpr unsigned char k_identification = protocol::identification;
constexpr unsigned char k_loader_ready = protocol::loader_ack;
constexpr unsigned char k_program_ready = protocol::program_ack;

bool is_single(const core::byte_string& rx, unsigned char b)
{
    return rx.size() == 1 && static_cast<unsigned char>(rx[0]) == b;
}

// The byte in upper-case hexadecimal without leading zeros.
std::string plain_hex(unsigned char b)
{
    char text[4];
    std::snprintf(text, sizeof text, "%X", b);
    return text;
}

// A run that failed without the chip's whole answer leaves its program
// running, which takes the zero byte for its software reset and confirms it:
// its loader then waits for a zero byte of its own, and the loader routine
// would stop it. Once, so that a line that answers 12h to anything still
// ends in the usual error.
bool program_was_running(app_state& s, const core::byte_string& rx)
{
    if (s.program_reset_seen || !is_single(rx, protocol::reset_ack)) return false;
    s.program_reset_seen = true;
    core::line_with_break(s.log(),
                          "     The uC's program was still running and has reset: sending the zero byte again");
    s.repaint_now();
    s.RESETFORM.MSCom0->write(core::byte_string(1, char(protocol::zero)));
    s.RESETFORM.Timer0->start(core::reply_period_after(s, 1));
    return true;
}

void report_identification(app_state& s, const core::byte_string& rx)
{
    const std::string& le = s.line_end;
    if (is_single(rx, k_identification)) {
        core::line_with_break(s.log(), "     Identification byte from the Mirel received");
        return;
    }
    // A lone zero byte reads as nothing, as an empty read does.
    const bool nothing = rx.empty() || is_single(rx, 0x00);
    const std::string first = nothing ? "     I have received an unknown identification byte (0x00) !"
                                      : "     I have received the unknown identification byte:    0x" +
                                            plain_hex(static_cast<unsigned char>(rx[0]));
    auto& log = s.log();
    log.append(le + std::string(core::k_star_line));
    log.append(le + first + le + "     Transmission error possible !" + le +
               "     however I'll try to send the 32 bytes" + le);
    log.append(std::string(core::k_star_line) + le);
}

void send_first_loader(app_state& s, const core::byte_string& rx)
{
    report_identification(s, rx);
    s.RESETFORM.MSCom0->write(s.first_loader);
    s.id_received = core::k_true;
    s.ack_pending = core::k_true;
    s.RESETFORM.Timer0->start(core::reply_period_after(s, s.first_loader.size()));
    core::line_with_break(s.log(), "     First level loader routine to the uC (32 bytes) sent");
    s.repaint_now();
}

void send_main_program(app_state& s)
{
    core::line_with_break(s.log(), "     The uC is ready for downloading the main program ...");
    s.repaint_now();
    const auto program = main_program_bytes();
    s.RESETFORM.MSCom0->write(program);
    core::line_with_break(s.log(), "     Main program sent");
    s.repaint_now();
    s.ack_pending = core::k_true;
    s.RESETFORM.Timer0->start(core::reply_period_after(s, program.size()));
}

void enter_command_phase(app_state& s)
{
    const std::string& le = s.line_end;
    auto& log = s.log();
    log.replace(le + le + core::k_bar_line + le);
    log.append(le + "                       The uC is ready for receiving commands from you ..." + le);
    log.append(le + core::k_bar_line + le + le);
    s.RESETFORM.MSCom0->close();
    auto& com = *s.mainform.COM;
    com.set_settings(s.baud_rate + ",n,8,1");
    com.set_comm_port(s.comm_port);
    // The commands would only time out on a link that is not there.
    if (!com.open()) {
        core::error_block_with_restart(
            s, {"     I couldn't open the serial port for the commands !", "     " + com.error_text()});
        return;
    }
    s.mainform.program_.visible = true;
    s.mainform.status_.visible = true;
    s.mainform.reset_.visible = true;
}

void report_wrong_acknowledge(app_state& s)
{
    core::error_block(s.log(), {"     I didn't receive the right acknowledge byte from the uC !",
                                "     Please Re-Start the Fernwick !"});
    s.RESETFORM.MSCom0->close();
}

}  // namespace

void MSCom0_OnComm(app_state& s, int comm_event)
{
    if (comm_event != core::k_comm_event_receive) return;
    const auto rx = s.RESETFORM.MSCom0->read_all();
    s.last_received = rx;
    if (!s.id_received) {
        if (!program_was_running(s, rx)) send_first_loader(s, rx);
    } else if (s.ack_pending) {
        s.ack_pending = core::k_false;
        s.RESETFORM.Timer0->stop();
        if (is_single(rx, k_loader_ready))
            send_main_program(s);
        else if (is_single(rx, k_program_ready))
            enter_command_phase(s);
        else
            report_wrong_acknowledge(s);
    }
}

}  // namespace fernwick::bootstrap
