#include "bootstrap/reset_step.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "bootstrap/loader_images.h"
#include "bootstrap/modem_entry.h"
#include "core/hex_text.h"
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

// False after an error block.
bool send_zero_byte(app_state& s)
{
    if (s.RESETFORM.MSCom0->write(core::byte_string(1, k_zero_byte))) return true;
    report_port_in_use(s);
    return false;
}

// The line is quiet once no byte has come for a few line times and an
// adapter's latency (the one measured in the last run on top); at least
// k_quiet_ms, as a busy system delays a byte that much.
constexpr int k_quiet_ms = 100;
constexpr int k_adapter_latency_ms = 20;
constexpr std::size_t k_quiet_bytes = 4;
// A line that never falls quiet (noise, a board that babbles) holds the
// bring-up no longer than this; the waits are counted, not the clock, so it
// also ends on a link whose waits return at once.
constexpr int k_drain_limit_ms = 1000;
constexpr int k_drain_slice_ms = 20;
constexpr std::size_t k_late_bytes_shown = 16;

int quiet_ms(const app_state& s)
{
    const double measured = s.mainform.COM->answer_delay_ms().value_or(0);
    const int line = core::line_time_ms(k_quiet_bytes, std::atoi(s.baud_rate.c_str()));
    return std::max(k_quiet_ms, line + k_adapter_latency_ms + static_cast<int>(std::ceil(measured)));
}

struct drained {
    core::byte_string bytes;
    bool quiet = true;  // false: the limit ended the wait
};

// What is on the line before the zero byte is no answer to it: the late
// answer of the last exchange, or a chip still amid a command. Taken as the
// identification byte, it would send the loader into a chip that runs its
// program. The wait goes in slices, the windows painted between them, as
// the entry sequence's waits do.
drained drain_line(app_state& s)
{
    auto& link = *s.RESETFORM.MSCom0;
    drained d{link.read_all()};
    const int quiet = quiet_ms(s);
    int silent = 0;
    for (int waited = 0; silent < quiet && !link.gone(); waited += k_drain_slice_ms) {
        if (waited >= k_drain_limit_ms) {
            d.quiet = false;
            break;
        }
        const int slice = std::min(k_drain_slice_ms, quiet - silent);
        if (link.wait_for_data(slice)) {
            d.bytes += link.read_all();
            silent = 0;
        } else {
            silent += slice;
        }
        s.keep_alive_now();
    }
    return d;
}

std::string shown(const core::byte_string& bytes)
{
    if (bytes.size() <= k_late_bytes_shown) return core::hex_bytes(bytes);
    return core::hex_bytes(std::string_view(bytes).substr(0, k_late_bytes_shown)) + " ... " +
           std::to_string(bytes.size()) + " bytes";
}

// True when it wrote a line: the log of this bring-up has begun.
bool say_drained(app_state& s, const drained& d)
{
    if (d.bytes.empty()) return false;
    const std::string line =
        d.quiet ? "     A late answer of the last exchange was on the line (" + shown(d.bytes) + "); it was discarded"
                : "     The line did not fall quiet within " + std::to_string(k_drain_limit_ms / 1000) +
                      " s; what came (" + shown(d.bytes) + ") was discarded";
    // After the entry sequence's line, the log goes on.
    (s.bench.entry.empty() ? core::fresh_line_with_break : core::line_with_break)(s.log(), line);
    s.repaint_now();
    return true;
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
    // No wait for quiet between the repeats: a byte now is the board's answer.
    if (enter_bootstrap_mode(s, true) && send_zero_byte(s))
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
    if (!enter_bootstrap_mode(s, false)) return;
    const bool said = say_drained(s, drain_line(s));
    if (!send_zero_byte(s)) return;
    // After the entry sequence's line or the late answer's, the log goes on.
    (s.bench.entry.empty() && !said ? core::fresh_line_with_break : core::line_with_break)(
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
