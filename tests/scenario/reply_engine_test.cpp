#include <gtest/gtest.h>

#include "bootstrap/handshake.h"
#include "bootstrap/reset_step.h"
#include "command/commands.h"
#include "command/reply_engine.h"
#include "scripted.h"
#include "shell/main_menu.h"

namespace {

using namespace fernwick;
using namespace test_support;

const std::string wrong_checksum = block({"     Wrong checksum byte received", "     Please Re-Start the Fernwick !"});
const std::string time_out =
    block({"     TimeOut Error !", "     I was waiting for a byte from the microcontroller that I didn't receive !",
           "     Please Re-Start the Fernwick !"});
const std::string unexpected_00 =
    block({"     I received the unexpected Byte : 0x00", "     I wasn't waiting for any byte ! ", "",
           "      Please Re-Start the Fernwick !"});

// An app in the command phase, its log emptied so each test sees only its own text.
struct command_phase : scripted_app {
    command_phase()
    {
        bootstrap::RESET_OK_Click(state);
        for (const char* ack : {"\xD5", "\x22", "\x11"}) {
            MSCom0().feed(ack);
            bootstrap::MSCom0_OnComm(state, core::k_comm_event_receive);
        }
        state.log().replace("");
    }
    void answer(const core::byte_string& rx)
    {
        COM().feed(rx);
        command::COM_OnComm(state, core::k_comm_event_receive);
    }
    void answer_each(const core::byte_string& rx)
    {
        for (const char c : rx) answer(core::byte_string(1, c));
    }
    bool menus() const
    {
        return state.mainform.program_.visible && state.mainform.status_.visible && state.mainform.reset_.visible;
    }
};

const core::byte_string full_reading(
    "\x12\x34\x80\x88"
    "\x0A\x00\x7F\x88"
    "\x00\x00\x7E\x88"
    "\xFF\xFE\x7D\x88",
    16);

TEST(reply_engine, a_status_reading_fills_the_boxes_and_shows_the_window_whatever_the_grouping)
{
    // One byte per notification, or a whole sector's answer in one read as a
    // USB adapter delivers it.
    for (const bool joined : {false, true}) {
        command_phase app;
        command::show_status_Click(app.state);
        EXPECT_EQ(app.COM().threshold(), 1);
        for (int n = 0; n < 4; ++n) {
            EXPECT_EQ(app.COM().writes.back(), core::byte_string({'\x40', char(0x40 + n)}));
            EXPECT_FALSE(app.state.statusform.visible);
            const auto answer = full_reading.substr(4 * n, 4);
            joined ? app.answer(answer) : app.answer_each(answer);
        }
        EXPECT_EQ(app.COM().writes.size(), 4u);
        EXPECT_EQ(app.state.statusform.status_sector, (std::array<std::string, 4>{"1234", "0A00", "0000", "FFFE"}));
        EXPECT_TRUE(app.state.statusform.visible);
        EXPECT_EQ(app.state.focus.window, core::window_id::mainform);
        EXPECT_FALSE(app.state.reply_awaited);
        EXPECT_FALSE(app.Timer().active());
        EXPECT_EQ(app.log(), "");
        EXPECT_TRUE(app.menus());
    }
}

TEST(reply_engine, failures_are_reported_once_per_byte_and_keep_the_state)
{
    struct row {
        const char* name;
        core::byte_string answers;
        std::string log;
        std::array<std::string, 4> boxes;
        bool refused = false;  // the port refuses the commands after the first
    };
    const std::string something_wrong =
        block({"     Something went wrong when reading the Flash-status !", "      Please Re-Start the Fernwick !"});
    const row rows[] = {
        {"sector 1 with the checksum of sector 0",
         core::byte_string("\x12\x34\x80\x88\x00\x00\x80", 7),
         wrong_checksum,
         {"1234", "", "", ""}},
        {"the acknowledge after a wrong checksum is another wrong checksum",
         core::byte_string("\x12\x34\x81\x88", 4),
         wrong_checksum + wrong_checksum,
         {}},
        {"wrong acknowledge", core::byte_string("\x12\x34\x80\x91", 4), something_wrong, {}},
        {"the next command refused by the port",
         core::byte_string("\x12\x34\x80\x88", 4),
         block({"     I couldn't send the bytes to the uC !", "     fake", "", "     Please Re-Start the Fernwick !"}),
         {"1234", "", "", ""},
         true},
    };
    for (const auto& r : rows) {
        for (const bool joined : {false, true}) {
            command_phase app;
            command::show_status_Click(app.state);
            app.COM().fail_write = r.refused;
            joined ? app.answer(r.answers) : app.answer_each(r.answers);
            EXPECT_EQ(app.log(), r.log) << r.name;
            EXPECT_EQ(app.state.statusform.status_sector, r.boxes) << r.name;
            EXPECT_FALSE(app.menus()) << r.name;
            EXPECT_FALSE(app.Timer().active()) << r.name;
            EXPECT_TRUE(app.COM().is_open()) << r.name;
            EXPECT_FALSE(app.state.statusform.visible) << r.name;
        }
    }
}

TEST(reply_engine, a_missing_answer_times_out_once_and_a_late_byte_is_judged_where_it_was_awaited)
{
    command_phase app;
    command::show_status_Click(app.state);
    app.answer("\x12");
    app.Timer().fire();
    app.Timer().fire();
    EXPECT_EQ(app.log(), time_out);
    EXPECT_FALSE(app.menus());
    EXPECT_TRUE(app.state.reply_awaited);
    app.answer("\x34");
    EXPECT_EQ(app.state.reply_step, 3);
    EXPECT_EQ(app.log(), time_out);
}

TEST(reply_engine, bytes_nobody_waits_for_are_reported_and_close_the_link)
{
    struct row {
        const char* name;
        core::byte_string after_reading;
        std::string log;
    };
    const row rows[] = {
        {"after a finished reading", "\x5A",
         block({"     I received the unexpected Byte : 0x5A", "     I wasn't waiting for any byte ! ", "",
                "      Please Re-Start the Fernwick !"})},
        {"a lone zero byte", core::byte_string(1, '\0'), unexpected_00},
        {"an empty read", "", unexpected_00},
        {"only the first of several: the link is closed after it", core::byte_string("\x00\x01", 2), unexpected_00},
    };
    for (const auto& r : rows) {
        command_phase app;
        command::show_status_Click(app.state);
        app.answer(full_reading);
        app.answer(r.after_reading);
        EXPECT_EQ(app.log(), r.log) << r.name;
        EXPECT_FALSE(app.COM().is_open()) << r.name;
        EXPECT_FALSE(app.menus()) << r.name;
    }
}

TEST(reply_engine, software_reset_outcomes)
{
    const std::string success = block({"                             Software Reset sucessfully executed !"}, bar) +
                                le + le + "                     To execute further commands 'Re-Start' the Fernwick !" +
                                le + le;
    const std::string wrong = block({"     I didn't receive the right confirmation after reset the microcontroller !"});
    struct row {
        const char* name;
        std::vector<core::byte_string> answers;
        std::string log;
        bool still_awaited;
    };
    const row rows[] = {
        {"confirmed", {"\x12"}, success, false},
        {"wrong byte", {"\x13"}, wrong, true},
        {"lone zero byte", {core::byte_string(1, '\0')}, wrong, true},
        {"late confirmation after a wrong byte", {"\x13", "\x12"}, success, false},
    };
    for (const auto& r : rows) {
        command_phase app;
        app.state.statusform.visible = true;
        app.state.log().replace("earlier");
        command::reset_micro__Click(app.state);
        EXPECT_FALSE(app.state.statusform.visible) << r.name;
        EXPECT_EQ(app.COM().writes.back(), core::byte_string(1, '\0')) << r.name;
        for (const auto& a : r.answers) app.answer(a);
        EXPECT_EQ(app.log(), (r.still_awaited ? "earlier" : "") + r.log) << r.name;
        EXPECT_EQ(bool(app.state.reply_awaited), r.still_awaited) << r.name;
        EXPECT_FALSE(app.menus()) << r.name;
        EXPECT_FALSE(app.Timer().active()) << r.name;
    }
}

TEST(reply_engine, a_new_command_takes_over_the_answers_in_transit)
{
    command_phase app;
    command::show_status_Click(app.state);
    app.answer(core::byte_string("\x12\x34\x80\x88\x00", 5));  // sector 1 under way
    command::show_status_Click(app.state);
    EXPECT_EQ(app.state.status_sector_code, 0x40);
    EXPECT_EQ(app.state.reply_step, 1);
    command::reset_micro__Click(app.state);
    app.answer("\x12");
    EXPECT_FALSE(app.state.reply_awaited);
    EXPECT_NE(app.log().find("Software Reset sucessfully executed !"), std::string::npos);
}

TEST(reply_engine, other_events_change_nothing_not_even_the_timer)
{
    command_phase app;
    command::show_status_Click(app.state);
    app.COM().feed("\x12");
    command::COM_OnComm(app.state, 1);
    EXPECT_EQ(app.state.reply_step, 1);
    EXPECT_TRUE(app.Timer().active());
    EXPECT_EQ(app.COM().pending(), 1);
}

TEST(main_menu, re_start_returns_to_the_reset_window_from_any_phase)
{
    command_phase app;
    command::show_status_Click(app.state);
    app.state.statusform.visible = true;
    for (int times = 0; times < 2; ++times) {
        shell::restart_flash__Click(app.state);
        EXPECT_FALSE(app.state.statusform.visible);
        EXPECT_FALSE(app.state.mainform.visible);
        EXPECT_TRUE(app.state.RESETFORM.visible);
        EXPECT_FALSE(app.COM().is_open());
        EXPECT_FALSE(app.MSCom0().is_open());
        EXPECT_FALSE(app.menus() || app.state.mainform.program_.visible);
        EXPECT_FALSE(app.state.reply_awaited);
        // The abandoned command's time-out never reaches the next bring-up.
        EXPECT_FALSE(app.Timer().active());
    }
    EXPECT_EQ(app.log(), "");
}

TEST(main_menu, finish_and_the_close_boxes_end_the_program_without_a_word)
{
    for (auto handler : {shell::finish__Click, shell::mainform_Unload, bootstrap::RESETFORM_Unload}) {
        command_phase app;
        command::show_status_Click(app.state);
        handler(app.state);
        EXPECT_EQ(app.quits, 1);
        EXPECT_EQ(app.log(), "");
    }
}

TEST(main_menu, about_shows_and_close_hides_the_about_window)
{
    command_phase app;
    shell::About_flash__Click(app.state);
    EXPECT_TRUE(app.state.AboutForm.visible);
    shell::AboutForm_Command1_Click(app.state);
    EXPECT_FALSE(app.state.AboutForm.visible);
    EXPECT_TRUE(app.menus());
}

}  // namespace
