#include "shell/main_menu.h"

namespace fernwick::shell {

using core::app_state;

void About_flash__Click(app_state& s)
{
    s.AboutForm.visible = true;
    s.give_focus(core::window_id::AboutForm);
}

void AboutForm_Command1_Click(app_state& s) { s.AboutForm.visible = false; }

void finish__Click(app_state& s)
{
    if (s.quit) s.quit();
}

void mainform_Unload(app_state& s) { finish__Click(s); }

void restart_flash__Click(app_state& s)
{
    s.statusform.visible = false;
    s.mainform.visible = false;
    s.RESETFORM.visible = true;
    s.give_focus(core::window_id::RESETFORM);
    if (s.RESETFORM.MSCom0->is_open()) s.RESETFORM.MSCom0->close();
    if (s.mainform.COM->is_open()) s.mainform.COM->close();
    core::hide_command_menus(s);
    s.reply_awaited = core::k_false;
    // An acknowledge the abandoned bring-up waited for is not awaited by the next.
    s.ack_pending = core::k_false;
    // A time-out of the abandoned attempt or command must not reach the next.
    s.mainform.Timer->stop();
    s.RESETFORM.Timer0->stop();
}

}  // namespace fernwick::shell
