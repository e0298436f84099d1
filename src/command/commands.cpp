#include "command/commands.h"

#include "core/protocol.h"
#include "core/timeouts.h"

namespace fernwick::command {

using core::app_state;

void show_status_Click(app_state& s)
{
    // A second reading would take the first one's answers for its own.
    if (s.reply_awaited && s.command_code == protocol::status_command) return;
    s.status_sector_code = 0x40;
    s.command_code = 0x40;
    s.reply_step = 1;
    send_command(s, core::byte_string{'\x40', '\x40'});  // status of sector 0
}

void reset_micro__Click(app_state& s)
{
    s.statusform.visible = false;
    s.command_code = 0;
    send_command(s, core::byte_string(1, '\x00'));  // software reset
}

void status_cancel_Click(app_state& s) { s.statusform.visible = false; }

void send_command(app_state& s, const core::byte_string& command)
{
    auto& com = *s.mainform.COM;
    com.set_threshold(1);
    if (!com.write(command)) {
        s.mainform.Timer->stop();
        s.reply_awaited = core::k_false;
        core::hide_command_menus(s);
        core::error_block_with_restart(s, core::send_failure_lines(com));
        return;
    }
    s.reply_awaited = core::k_true;
    s.mainform.Timer->start(core::reply_period_after(s, command.size()));
}

void statusform_Unload(app_state& s)
{
    // Unloaded: the next showing creates the window anew, with empty boxes.
    s.statusform.visible = false;
    s.statusform.status_sector = {};
}

}  // namespace fernwick::command
