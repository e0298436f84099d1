#include "core/app_state.h"

namespace fernwick::core {

app_state::app_state(const platform& p)
{
    mainform.COM = p.make_link();
    mainform.Timer = p.make_timer();
    RESETFORM.MSCom0 = p.make_link();
    RESETFORM.Timer0 = p.make_timer();
}

void StartModul(app_state& s)
{
    // The windows exist from construction; start-up decides what shows.
    s.mainform.visible = false;
    s.Warning.visible = false;
    s.ConfirmForm.visible = false;
    s.statusform.visible = false;
    s.LocationForm.visible = false;
    s.RESETFORM.visible = true;
    s.give_focus(window_id::RESETFORM);
    s.AboutForm.visible = false;
    s.mainform.program_.visible = false;
    s.mainform.status_.visible = false;
    s.mainform.reset_.visible = false;
    s.line_end = std::string(k_line_end);
    s.baud_rate = "9600";
    s.comm_port = 1;
    s.ack_pending = k_false;
    s.id_received = k_false;
    s.reply_awaited = k_false;
    s.bsl_target = 2;
    s.bsl_now = 2;
    s.sector0_segment = 0;
}

void hide_command_menus(app_state& s)
{
    s.mainform.program_.visible = false;
    s.mainform.status_.visible = false;
    s.mainform.reset_.visible = false;
}

std::int16_t code_location::now() const
{
    if (in(given)) return given;
    if (in_2) return 2;
    return in_0 ? std::int16_t{0} : k_nowhere;
}

std::vector<std::string> send_failure_lines(const serial_link& link)
{
    if (link.gone()) return gone_lines(link);
    return {"     I couldn't send the bytes to the uC !", "     " + link.error_text()};
}

std::vector<std::string> gone_lines(const serial_link& link)
{
    return {"     The board is gone !", "     " + link.error_text()};
}

void error_block_with_restart(app_state& s, std::vector<std::string> lines)
{
    lines.insert(lines.end(), {"", "     Please Re-Start the Fernwick !"});
    error_block(s.log(), lines);
}

}  // namespace fernwick::core
