#include <gtest/gtest.h>

#include <optional>

#include "bootstrap/handshake.h"
#include "bootstrap/loader_images.h"
#include "bootstrap/reset_step.h"
#include "scripted.h"
#include "shell/main_menu.h"

namespace {

using namespace fernwick;
using namespace test_support;
const std::string sending = le + "     Sending the zero byte to the uC... " + le;
const std::string loader_sent = le + "     First level loader routine to the uC (32 bytes) sent" + le;
const std::string ready_block = le + le + bar + le + le +
                                "                       The uC is ready for receiving commands from you ..." + le + le +
                                bar + le + le;

void answer(scripted_app& app, const core::byte_string& rx)
{
    app.MSCom0().feed(rx);
    bootstrap::MSCom0_OnComm(app.state, core::k_comm_event_receive);
}

TEST(bring_up, start_up_shows_only_the_reset_window_with_the_defaults)
{
    scripted_app app;
    const auto& s = app.state;
    EXPECT_EQ(s.baud_rate, "9600");
    EXPECT_EQ(s.comm_port, 1);
    EXPECT_EQ(s.id_received, 0);
    EXPECT_EQ(s.ack_pending, 0);
    EXPECT_EQ(s.bsl_target, 2);
    EXPECT_EQ(s.bsl_now, 2);
    EXPECT_EQ(s.sector0_segment, 0);
    EXPECT_EQ(s.line_end, "\x0D\x0A");
    EXPECT_TRUE(s.RESETFORM.visible);
    EXPECT_FALSE(s.Warning.visible || s.AboutForm.visible || s.mainform.visible || s.ConfirmForm.visible ||
                 s.statusform.visible || s.LocationForm.visible);
    EXPECT_FALSE(s.mainform.program_.visible || s.mainform.status_.visible || s.mainform.reset_.visible);
    EXPECT_EQ(s.RESETFORM.port_choice, 1);
    EXPECT_EQ(s.RESETFORM.baud_choice, "9600");
}

TEST(bring_up, reset_step_opens_the_chosen_port_and_sends_the_zero_byte)
{
    struct row {
        void (*baud)(core::app_state&);
        void (*port)(core::app_state&);
        int expected_port;
        const char* expected_settings;
    };
    const row rows[] = {
        {nullptr, nullptr, 1, "9600,n,8,1"},
        {bootstrap::bs_19200_Click, bootstrap::com2__Click, 2, "19200,n,8,1"},
        {bootstrap::bs_2400_Click, bootstrap::com1__Click, 1, "2400,n,8,1"},
        {bootstrap::bs_4800_Click, nullptr, 1, "4800,n,8,1"},
        {bootstrap::bs_14400_Click, nullptr, 1, "14400,n,8,1"},
    };
    for (const auto& r : rows) {
        scripted_app app;
        if (r.baud) r.baud(app.state);
        if (r.port) r.port(app.state);
        bootstrap::RESET_OK_Click(app.state);
        EXPECT_EQ(app.MSCom0().comm_port(), r.expected_port);
        EXPECT_EQ(app.MSCom0().settings(), r.expected_settings);
        EXPECT_EQ(app.MSCom0().all_written(), core::byte_string(1, '\0'));
        EXPECT_EQ(app.log(), sending);
        EXPECT_TRUE(app.Timer0().active());
        EXPECT_TRUE(app.state.mainform.visible);
        EXPECT_FALSE(app.state.RESETFORM.visible);
        EXPECT_GE(app.repaints, 1);
    }
}

TEST(bring_up, a_port_that_cannot_be_used_gives_only_the_port_in_use_block)
{
    // The link's reason, device and the system's text, stands inside the block.
    const std::string block = le + star + le + " Serial Port currently used by another application !" + le + " fake" +
                              le + le + " Close that application and Re-Start Fernwick !" + le + star + le;
    for (const bool open_fails : {true, false}) {
        scripted_app app;
        app.state.log().replace("earlier text");
        app.MSCom0().fail_open = open_fails;
        app.MSCom0().fail_write = !open_fails;
        bootstrap::RESET_OK_Click(app.state);
        EXPECT_EQ(app.log(), block);
        EXPECT_FALSE(app.Timer0().active());
        EXPECT_TRUE(app.state.mainform.visible);
    }
}

TEST(bring_up, a_silent_chip_gives_the_transmission_error_and_closes_the_link)
{
    scripted_app app;
    bootstrap::RESET_OK_Click(app.state);
    app.Timer0().fire();
    EXPECT_EQ(app.log(), sending + le + star + le + "     There was a data transmission error ! " + le +
                             "      No identification byte received" + le + le + "     Please Re-Start the Fernwick !" +
                             le + star + le);
    EXPECT_FALSE(app.MSCom0().is_open());
    EXPECT_FALSE(app.Timer0().active());
}

TEST(bring_up, every_identification_reply_is_logged_and_the_loader_is_sent_anyway)
{
    const auto unknown = [](const std::string& first) {
        return le + star + le + first + le + "     Transmission error possible !" + le +
               "     however I'll try to send the 32 bytes" + le + star + le;
    };
    const std::pair<core::byte_string, std::string> rows[] = {
        {"\xD5", le + "     Identification byte from the Mirel received" + le},
        {"\xC5", unknown("     I have received the unknown identification byte:    0xC5")},
        {"\x05", unknown("     I have received the unknown identification byte:    0x5")},
        {"", unknown("     I have received an unknown identification byte (0x00) !")},
        {core::byte_string(1, '\0'), unknown("     I have received an unknown identification byte (0x00) !")},
        {core::byte_string("\0\xD5", 2), unknown("     I have received the unknown identification byte:    0x0")},
    };
    for (const auto& [rx, expected] : rows) {
        scripted_app app;
        bootstrap::RESET_OK_Click(app.state);
        answer(app, rx);
        EXPECT_EQ(app.log(), sending + expected + loader_sent);
        ASSERT_EQ(app.MSCom0().writes.size(), 2u);
        EXPECT_EQ(app.MSCom0().writes[1], bootstrap::first_loader_bytes());
        EXPECT_TRUE(app.state.id_received && app.state.ack_pending);
        EXPECT_TRUE(app.Timer0().active());
    }
}

TEST(bring_up, the_full_handshake_opens_the_command_link_with_the_same_settings)
{
    // A command link that cannot be opened is reported at once, the commands not offered.
    for (const bool opens : {true, false}) {
        scripted_app app;
        bootstrap::bs_19200_Click(app.state);
        bootstrap::com2__Click(app.state);
        app.COM().fail_open = !opens;
        bootstrap::RESET_OK_Click(app.state);
        answer(app, "\xD5");
        answer(app, "\x22");
        answer(app, "\x11");
        const std::string refused = block({"     I couldn't open the serial port for the commands !", "     fake", "",
                                           "     Please Re-Start the Fernwick !"});
        EXPECT_EQ(app.log(), ready_block + (opens ? "" : refused));
        EXPECT_FALSE(app.MSCom0().is_open());
        EXPECT_EQ(app.COM().is_open(), opens);
        EXPECT_EQ(app.COM().comm_port(), 2);
        EXPECT_EQ(app.COM().settings(), "19200,n,8,1");
        EXPECT_EQ(app.state.mainform.program_.visible && app.state.mainform.status_.visible &&
                      app.state.mainform.reset_.visible,
                  opens);
        EXPECT_FALSE(app.Timer0().active());
        EXPECT_EQ(app.MSCom0().all_written(),
                  core::byte_string(1, '\0') + bootstrap::first_loader_bytes() + bootstrap::main_program_bytes());
    }
}

TEST(bring_up, acknowledges_are_taken_whenever_one_is_awaited)
{
    const std::string program = bootstrap::main_program_bytes();
    struct row {
        std::vector<core::byte_string> acks;
        int programs_sent;
        bool command_phase;
    };
    const row rows[] = {
        {{"\x11"}, 0, true},                  // no main program needed
        {{"\x22", "\x22", "\x11"}, 2, true},  // the main program twice
    };
    for (const auto& r : rows) {
        scripted_app app;
        bootstrap::RESET_OK_Click(app.state);
        answer(app, "\xD5");
        for (const auto& a : r.acks) answer(app, a);
        int programs = 0;
        for (const auto& w : app.MSCom0().writes) programs += w == program;
        EXPECT_EQ(programs, r.programs_sent);
        EXPECT_EQ(app.state.mainform.program_.visible, r.command_phase);
    }
}

TEST(bring_up, a_wrong_or_missing_acknowledge_ends_the_attempt)
{
    const std::string wrong = le + star + le + "     I didn't receive the right acknowledge byte from the uC !" + le +
                              "     Please Re-Start the Fernwick !" + le + star + le;
    const std::string missing = le + star + le + "     No acknowledge byte from the microcontroller received !" + le +
                                le + "     Please Re-Start the Fernwick !" + le + star + le;
    const std::pair<std::optional<core::byte_string>, std::string> rows[] = {
        {"\x23", wrong}, {"", wrong}, {"\x22\x11", wrong}, {std::nullopt, missing}};
    for (const auto& [rx, block] : rows) {
        scripted_app app;
        bootstrap::RESET_OK_Click(app.state);
        answer(app, "\xD5");
        if (rx)
            answer(app, *rx);
        else
            app.Timer0().fire();
        EXPECT_EQ(app.log(),
                  sending + le + "     Identification byte from the Mirel received" + le + loader_sent + block);
        EXPECT_FALSE(app.MSCom0().is_open());
        EXPECT_FALSE(app.Timer0().active());
        EXPECT_FALSE(app.state.ack_pending);
        EXPECT_FALSE(app.state.mainform.program_.visible);
    }
}

TEST(bring_up, data_after_the_handshake_and_other_events_change_nothing)
{
    scripted_app app;
    bootstrap::RESET_OK_Click(app.state);
    bootstrap::MSCom0_OnComm(app.state, 3);
    EXPECT_FALSE(app.state.id_received);
    answer(app, "\xD5");
    answer(app, "\x11");
    const auto log = app.log();
    answer(app, "\xD5\x22");
    EXPECT_EQ(app.log(), log);
    EXPECT_EQ(app.MSCom0().writes.size(), 2u);
}

TEST(bring_up, time_outs_count_from_when_the_written_bytes_have_left_the_wire)
{
    scripted_app app;
    bootstrap::bs_2400_Click(app.state);
    bootstrap::RESET_OK_Click(app.state);
    EXPECT_EQ(app.Timer0().interval, 2000 + 5);  // the zero byte: 10 bits
    answer(app, "\xD5");
    EXPECT_EQ(app.Timer0().interval, 2000 + 134);  // 32 bytes
    answer(app, "\x22");
    EXPECT_EQ(app.Timer0().interval, 2000 + 2125);  // 510 bytes, 2.1 s on the line
}

TEST(bring_up, re_start_leaves_nothing_of_the_abandoned_attempt)
{
    const std::string no_identification = le + star + le + "     There was a data transmission error ! " + le +
                                          "      No identification byte received" + le + le +
                                          "     Please Re-Start the Fernwick !" + le + star + le;
    // Abandoned while the identification byte, then while an acknowledge was awaited.
    for (const bool identified : {false, true}) {
        scripted_app app;
        bootstrap::RESET_OK_Click(app.state);
        if (identified) answer(app, "\xD5");
        shell::restart_flash__Click(app.state);
        EXPECT_FALSE(app.Timer0().active());
        EXPECT_FALSE(app.MSCom0().is_open());
        bootstrap::RESET_OK_Click(app.state);
        EXPECT_EQ(app.log(), sending);
        EXPECT_EQ(app.MSCom0().opens, 2);
        app.Timer0().fire();  // the chip stays silent this time
        EXPECT_EQ(app.log(), sending + no_identification) << identified;
    }
}

}  // namespace
