#include "bootstrap/reset_step.h"

#include <algorithm>
#include <cstdlib>

#include "bootstrap/loader_images.h"
#include "bootstrap/modem_entry.h"
#include "core/protocol.h"
#include "core/timeouts.h"

namespace fernwick::bootstrap {

using core::app_state;

namespace {

constexpr char k_zero_byte = protocol::zero;

void choose_baud(app_state& s, const char* rate)
{
    s.RESETFORM.baud_choice = rate;
    s.baud_rate = rate;
}

void choose_port(app_state& s, int port)
{
    // Where a run left the code is the board's on that port, not another port's.
    if (port != s.comm_port) s.code_left.reset();
    s.RESETFORM.port_choice = port;
    s.comm_port = static_cast<std::int16_t>(port);
}

void report_port_in_use(app_state& s)
{
    // The device and the system's reason: the port may as well be missing,
    // not a serial port, or not the user's to open.
    core::fresh_error_block(
        s.log(), {" Serial Port currently used by another application !", " " + s.RESETFORM.MSCom0->error_text(), "",
                  " Close that application and Re-Start Fernwick !"});
}

// The entry sequence where one is given, then the zero byte; false after an
// error block.
bool wake(app_state& s, bool again)
{
    if (!enter_bootstrap_mode(s, again)) return false;
    if (s.RESETFORM.MSCom0->write(core::byte_string(1, k_zero_byte))) return true;
    report_port_in_use(s);
    return false;
}

constexpr int k_day_ms = 24 * 3600 * 1000;

// A station asks for a zero byte more often than the reply time-out, so
// that a board put into a fixed fixture is met soon; never so often that an
// answer could come after the next zero byte.
int repeat_period(const app_state& s)
{
    return s.bench.repeat_ms > 0
               ? std::max(s.bench.repeat_ms, core::line_time_ms(1, std::atoi(s.baud_rate.c_str())) + 300)
               : core::reply_period_after(s, 1);
}

// --wait: a chip that has said nothing gets the entry sequence and the zero
// byte again while the time lasts. The time is counted in the bring-up's own
// periods, so it runs on whatever clock the timer runs on.
bool wake_again(app_state& s)
{
    auto& bench = s.bench;
    const auto& link = *s.RESETFORM.MSCom0;
    if (s.id_received || s.ack_pending || link.gone() || !link.is_open()) return false;
    const bool first = bench.waited_ms == 0;
    const bool until_answer = bench.wait_ms < 0;
    // Counted up to a day only: a station waits for its next board for weeks.
    bench.waited_ms = std::min(bench.waited_ms + bench.entry.wait_ms() + repeat_period(s), k_day_ms);
    if (!until_answer && bench.waited_ms >= bench.wait_ms) return false;
    if (first)
        core::line_with_break(s.log(), until_answer ? std::string("     Waiting for the board (no answer yet)")
                                                    : "     Waiting for the board (no answer yet), up to " +
                                                          std::to_string(bench.wait_ms / 1000) + " s");
    s.repaint_now();
    if (wake(s, true))
        s.RESETFORM.Timer0->start(repeat_period(s));
    else
        s.RESETFORM.Timer0->stop();
    return true;
}

std::vector<std::string> no_identification_lines(const app_state& s)
{
    std::vector<std::string> lines = {"     There was a data transmission error ! ",
                                      "      No identification byte received"};
    // The tool reset the board itself, so the wiring is the first suspect.
    if (!s.bench.entry.empty())
        lines.push_back("     Check that the entry sequence fits the wiring of reset and the bootstrap pin: " +
                        core::sequence_text(s.bench.entry));
    lines.insert(lines.end(), {"", "     Please Re-Start the Fernwick !"});
    return lines;
}

}  // namespace

void bs_2400_Click(app_state& s) { choose_baud(s, "2400"); }
void bs_4800_Click(app_state& s) { choose_baud(s, "4800"); }
void bs_9600_Click(app_state& s) { choose_baud(s, "9600"); }
void bs_14400_Click(app_state& s) { choose_baud(s, "14400"); }
void bs_19200_Click(app_state& s) { choose_baud(s, "19200"); }
void com1__Click(app_state& s) { choose_port(s, 1); }
void com2__Click(app_state& s) { choose_port(s, 2); }

void RESET_OK_Click(app_state& s)
{
    s.mainform.visible = true;
    s.give_focus(core::window_id::mainform);
    s.RESETFORM.visible = false;
    s.id_received = core::k_false;
    s.program_reset_seen = false;
    s.first_loader = first_loader_bytes();
    s.bench.waited_ms = 0;
    auto& link = *s.RESETFORM.MSCom0;
    link.set_comm_port(s.comm_port);
    link.set_settings(s.baud_rate + ",n,8,1");
    if (!link.open()) {
        report_port_in_use(s);
        return;
    }
    if (!wake(s, false)) return;
    // After the entry sequence's line, the log goes on.
    (s.bench.entry.empty() ? core::fresh_line_with_break : core::line_with_break)(
        s.log(), "     Sending the zero byte to the uC... ");
    s.repaint_now();
    s.RESETFORM.Timer0->start(s.bench.wait_ms != 0 ? repeat_period(s) : core::reply_period_after(s, 1));
}

void Timer0_Timer(app_state& s)
{
    if (wake_again(s)) return;
    const auto& link = *s.RESETFORM.MSCom0;
    if (link.gone()) {
        s.run.gone = true;
        auto lines = core::gone_lines(link);
        lines.insert(lines.end(), {"", "     Please Re-Start the Fernwick !"});
        core::error_block(s.log(), lines);
    } else if (s.ack_pending)
        core::error_block(s.log(), {"     No acknowledge byte from the microcontroller received !", "",
                                    "     Please Re-Start the Fernwick !"});
    else if (!s.id_received)
        core::error_block(s.log(), no_identification_lines(s));
    s.RESETFORM.Timer0->stop();
    if (s.RESETFORM.MSCom0->is_open()) s.RESETFORM.MSCom0->close();
    s.ack_pending = core::k_false;
}

void RESETFORM_Unload(app_state& s)
{
    if (s.quit) s.quit();
}

}  // namespace fernwick::bootstrap
