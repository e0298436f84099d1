#include "command/reply_engine.h"

#include "command/commands.h"
#include "core/hex_text.h"
#include "core/protocol.h"
#include "core/timeouts.h"

namespace fernwick::command {

using core::app_state;

namespace {

constexpr int k_status_command = protocol::status_command;
constexpr int k_reset_command = protocol::reset_command;
constexpr std::uint8_t k_status_done = protocol::done;
constexpr std::uint8_t k_reset_confirmed = protocol::reset_ack;
constexpr int k_last_status_code = protocol::status_command + 3;  // status of sector 3

void report_unexpected(app_state& s, std::uint8_t b)
{
    core::hide_command_menus(s);
    core::error_block(s.log(), {"     I received the unexpected Byte : 0x" + core::hex2(b),
                                "     I wasn't waiting for any byte ! ", "", "      Please Re-Start the Fernwick !"});
    if (s.mainform.COM->is_open()) s.mainform.COM->close();
}

void judge_reset_answer(app_state& s, std::uint8_t b)
{
    core::hide_command_menus(s);
    if (b != k_reset_confirmed) {
        core::error_block(s.log(), {"     I didn't receive the right confirmation after reset the microcontroller !"});
        return;
    }
    s.reply_awaited = core::k_false;
    core::fresh_notice_block(s.log(), {"                             Software Reset sucessfully executed !"});
    core::note(s.log(), "                     To execute further commands 'Re-Start' the Fernwick !");
}

void finish_sector(app_state& s)
{
    const int code = s.status_sector_code;
    if (code < k_status_command || code > k_last_status_code) return;
    s.statusform.status_sector[code - k_status_command] = s.status_hex_1 + s.status_hex_2;
    if (code == k_last_status_code) {
        s.reply_awaited = core::k_false;
        s.status_sector_code = -1;
        s.reply_step = -1;
        s.statusform.visible = true;
        s.give_focus(core::window_id::mainform);
        return;
    }
    s.status_sector_code = static_cast<std::int16_t>(code + 1);
    s.reply_step = 1;
    send_command(s, core::byte_string{char(k_status_command), char(s.status_sector_code)});
}

void judge_status_answer(app_state& s, std::uint8_t b)
{
    switch (s.reply_step) {
    case 1:
    case 2:
        (s.reply_step == 1 ? s.status_hex_1 : s.status_hex_2) = core::hex2(b);
        ++s.reply_step;
        s.mainform.Timer->start(core::k_reply_timeout_ms);
        return;
    case 3:
        if (b == 256 - ((s.status_sector_code + k_status_command) % 256)) {
            s.reply_step = 4;
            s.mainform.Timer->start(core::k_reply_timeout_ms);
            return;
        }
        core::hide_command_menus(s);
        core::error_block(s.log(), {"     Wrong checksum byte received", "     Please Re-Start the Fernwick !"});
        return;
    case 4:
        if (b == k_status_done) {
            finish_sector(s);
            return;
        }
        core::hide_command_menus(s);
        core::error_block(s.log(), {"     Something went wrong when reading the Flash-status !",
                                    "      Please Re-Start the Fernwick !"});
        return;
    default: report_unexpected(s, b);
    }
}

// One answer byte, judged in the state the engine is in.
void judge(app_state& s, std::uint8_t b)
{
    if (!s.reply_awaited) {
        report_unexpected(s, b);
        return;
    }
    s.mainform.Timer->stop();
    if (s.command_code == k_reset_command)
        judge_reset_answer(s, b);
    else if (s.command_code == k_status_command)
        judge_status_answer(s, b);
}

}  // namespace

void COM_OnComm(app_state& s, int comm_event)
{
    if (comm_event != core::k_comm_event_receive) return;
    auto& com = *s.mainform.COM;
    s.last_received = com.read_all();
    if (s.last_received.empty()) {
        judge(s, 0x00);
        return;
    }
    // Bytes that arrive together are judged one after the other, as if each
    // had come alone; a closed link would have delivered no more of them.
    for (const char c : s.last_received) {
        judge(s, static_cast<std::uint8_t>(c));
        if (!com.is_open()) break;
    }
}

void Timer_Timer(app_state& s)
{
    core::hide_command_menus(s);
    const auto& com = *s.mainform.COM;
    if (com.gone()) {
        s.run.gone = true;
        auto lines = core::gone_lines(com);
        lines.emplace_back("     Please Re-Start the Fernwick !");
        core::error_block(s.log(), lines);
    } else {
        core::error_block(s.log(), {"     TimeOut Error !",
                                    "     I was waiting for a byte from the microcontroller that I didn't receive !",
                                    "     Please Re-Start the Fernwick !"});
    }
    s.mainform.Timer->stop();
}

}  // namespace fernwick::command
