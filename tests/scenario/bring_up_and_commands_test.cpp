// The bring-up and the commands of the command phase over a scripted chip:
// the zero byte, the identification byte, the loader and the main program
// with their acknowledges, the flash status reading and the software reset,
// every answer judged as it comes, each way with its whole log; and the
// bench's modem lines and the wait for a board on the simulated board. (The
// main menu's Re-Start and ways out run through the windows in tests/ui.)

#include <gtest/gtest.h>

#include <optional>

#include "bootstrap/handshake.h"
#include "bootstrap/loader_images.h"
#include "bootstrap/reset_step.h"
#include "command/commands.h"
#include "command/reply_engine.h"
#include "core/shared_port.h"
#include "shell/main_menu.h"
#include "sim_app.h"

namespace {

using namespace fernwick;
using namespace test_support;

void answer_bring_up(scripted_app& app, const core::byte_string& bytes)
{
    app.MSCom0().rx += bytes;
    bootstrap::MSCom0_OnComm(app.state, core::k_comm_event_receive);
}

const std::string sending = le + "     Sending the zero byte to the uC... " + le;
const std::string identified = le + "     Identification byte from the Mirel received" + le;
const std::string loader_sent = le + "     First level loader routine to the uC (32 bytes) sent" + le;
const std::string restart = "     Please Re-Start the Fernwick !";
const std::string wrong_ack = "     I didn't receive the right acknowledge byte from the uC !";
const std::string ready = le + le + bar + le + le +
                          "                       The uC is ready for receiving commands from you ..." + le + le + bar +
                          le + le;

std::string unknown(const std::string& first)
{
    return block({first, "     Transmission error possible !", "     however I'll try to send the 32 bytes"});
}

enum class broken { nothing, port, command_port };

TEST(bring_up, each_answer_of_the_chip_leads_to_its_log_and_state)
{
    struct row {
        std::vector<std::optional<core::byte_string>> answers;  // nullopt: the reply timer runs out
        std::string log;                                        // the whole log at the end
        broken port = broken::nothing;
        int restart_before = -1;         // Re-Start and OK again before this answer
        core::byte_string on_line = {};  // before OK: the late answer of the last exchange
    };
    const row rows[] = {
        {{std::nullopt},
         sending + block({"     There was a data transmission error ! ", "      No identification byte received", "",
                          restart})},
        {{"\xD5"}, sending + identified + loader_sent},
        {{"\x05"}, sending + unknown("     I have received the unknown identification byte:    0x5") + loader_sent},
        {{""}, sending + unknown("     I have received an unknown identification byte (0x00) !") + loader_sent},
        // a program still running took the zero byte for its reset: once more, then as any other byte
        {{"\x12", "\x12"},
         sending + le + "     The uC's program was still running and has reset: sending the zero byte again" + le +
             unknown("     I have received the unknown identification byte:    0x12") + loader_sent},
        {{"\xD5", "\x23"}, sending + identified + loader_sent + block({wrong_ack, restart})},
        {{"\xD5", "\x22\x11"}, sending + identified + loader_sent + block({wrong_ack, restart})},  // not one byte
        {{"\xD5", std::nullopt},
         sending + identified + loader_sent +
             block({"     No acknowledge byte from the microcontroller received !", "", restart})},
        {{"\xD5", "\x22", "\x11"}, ready},
        {{"\xD5", "\x11"}, ready},                                      // no main program needed
        {{"\xD5", "\xD5", "\x22", "\x11"}, ready, broken::nothing, 1},  // while the loader's acknowledge is awaited
        {{},
         block({" Serial Port currently used by another application !", " fake", "",
                " Close that application and Re-Start Fernwick !"}),
         broken::port},
        {{"\xD5", "\x22", "\x11"},
         ready + block({"     I couldn't open the serial port for the commands !", "     fake", "", restart}),
         broken::command_port},
        {{"\xD5"},
         le + "     A late answer of the last exchange was on the line (BE 88); it was discarded" + le + sending +
             identified + loader_sent,
         broken::nothing,
         -1,
         "\xBE\x88"},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.log);
        scripted_app app;
        bootstrap::bs_19200_Click(app.state);
        bootstrap::com2__Click(app.state);
        app.MSCom0().fail_open = r.port == broken::port;
        app.COM().fail_open = r.port == broken::command_port;
        app.MSCom0().rx = r.on_line;
        bootstrap::RESET_OK_Click(app.state);
        core::byte_string wrote = r.port == broken::port ? "" : core::byte_string(1, '\0');
        const bool again = !r.answers.empty() && r.answers[0] == core::byte_string("\x12");
        for (std::size_t i = 0; i < r.answers.size(); ++i) {
            if (static_cast<int>(i) == r.restart_before) {  // nothing of it left: no time-out, link or acknowledge
                shell::restart_flash__Click(app.state);
                EXPECT_FALSE(app.Timer0().active() || app.MSCom0().is_open() || app.state.ack_pending);
                bootstrap::RESET_OK_Click(app.state);
                wrote += '\0' + bootstrap::first_loader_bytes();  // the loader after the identification byte
            }
            if (!r.answers[i]) {
                app.Timer0().fire();
                continue;
            }
            answer_bring_up(app, *r.answers[i]);
            // Whatever the identification byte, the loader goes out; the main program after each 22h.
            if (i == 0 && again)
                wrote += '\0';
            else if (i == (again ? 1U : 0U))
                wrote += bootstrap::first_loader_bytes();
            if (r.answers[i] == "\x22") wrote += bootstrap::main_program_bytes();
        }
        EXPECT_EQ(app.log(), r.log);
        EXPECT_EQ(app.MSCom0().written, wrote);
        // Only while an acknowledge is awaited are the link open and the reply timer running.
        const bool waiting = r.log.ends_with(loader_sent);
        EXPECT_EQ(std::pair(app.MSCom0().is_open(), app.Timer0().active()), std::pair(waiting, waiting));
        // 2 s from when the loader's 32 bytes have left the wire, rounded up to the ms.
        EXPECT_TRUE(!waiting || app.Timer0().interval == 2000 + 17) << app.Timer0().interval;
        const bool ready_for_commands = r.log == ready;
        EXPECT_EQ(app.state.mainform.program_.visible && app.COM().is_open(), ready_for_commands);
        // The command link takes the bring-up's port and settings.
        EXPECT_TRUE(!ready_for_commands ||
                    app.COM().settings() + " COM" + std::to_string(app.COM().comm_port()) == "19200,n,8,1 COM2");
    }
}

// Each wiring is brought up by its entry sequence, its commands go on over the
// port kept open, and its exit starts the board's program; a board reset
// without its bootstrap pin, a wrong wiring and a port without modem lines
// are named; a board reset by hand at 5 s is found while the bring-up waits;
// the late answer of a Flash-Status reading is no identification byte.
TEST(bench, the_modem_lines_and_the_wait_bring_up_the_board_as_it_is_wired)
{
    const sim::modem_wiring direct, inverted{.reset_level = false, .boot_level = false}, jumper{.boot = {}};
    const auto entering = [](const std::string& sequence) {
        return le + "     Entering the bootstrap mode by the modem lines: " + sequence + le + sending;
    };
    const auto no_id = [](const std::string& hint) {
        const std::string error = "     There was a data transmission error ! ",
                          none = "      No identification byte received";
        return hint.empty() ? block({error, none, "", restart}) : block({error, none, hint, "", restart});
    };
    const std::string direct_entry = "reset-rts-boot-dtr (both=1,1,wait=100,rts=0,wait=50)",
                      hint = "     Check that the entry sequence fits the wiring of reset and the bootstrap pin: ";
    const sim::chip_config silent_once{.id_byte = {}, .faulty_bring_ups = 1};
    const auto hex =
        write_hex(test::scratch_dir() / "app.hex", {linear_segment(1), hex_record(0, 0x8000, {1}), ":00000001FF"});
    struct row {
        sim::chip_config chip;
        std::string entry, exit, log;  // the log once the bring-up has ended
        int wait_s = 0, reset_at_ms = 0;
        std::string given_in = {};       // where the windows took the sequences from
        bool after_slow_status = false;  // Re-Start and OK 100 ms after a Flash-Status reading timed out
    };
    // Its answer comes 50 ms into the wait for the line to fall quiet.
    const sim::chip_config slow_status{.faults = {{.kind = sim::exchange_kind::status, .delay_ms = 2150}}};
    const std::string ini = "/home/op/.config/fernwick/fernwick.ini",
                      other_port = "     Re-Start with a port that has modem lines, or ",
                      k_exit = "     Exit sequence: reset-rts-boot-dtr (dtr=0,rts=1,wait=100,rts=0)";
    // The refusal of a port without modem lines, then what follows it.
    const auto no_lines = [](std::vector<std::string> then) {
        then.insert(then.begin(),
                    {"     I couldn't set the modem lines of the port !", "     COM1: the port has no modem lines"});
        return block(then);
    };
    const auto entry_refused = [&](std::vector<std::string> then) {
        then.insert(then.begin(), "     Entry sequence: " + direct_entry);
        return le + "     Entering the bootstrap mode by the modem lines: " + direct_entry + le + no_lines(then);
    };
    const row rows[] = {
        {{.wiring = direct}, "reset-rts-boot-dtr", "reset-rts-boot-dtr", ready},
        {{.wiring = inverted}, "reset-rts-boot-dtr-inverted", "reset-rts-boot-dtr-inverted", ready},
        {{.wiring = jumper}, "reset-rts-boot-jumper", "", ready},
        {{.wiring = direct},
         "dtr=0,rts=1,wait=10,rts=0",
         "",
         entering("dtr=0,rts=1,wait=10,rts=0") + no_id(hint + "dtr=0,rts=1,wait=10,rts=0")},
        {{.wiring = inverted}, "reset-rts-boot-dtr", "", entering(direct_entry) + no_id(hint + direct_entry)},
        {{}, "reset-rts-boot-dtr", "", entry_refused({"", restart})},
        // the exit sequence would meet the same port once the board is programmed
        {{}, "", "reset-rts-boot-dtr", no_lines({k_exit, "", restart})},
        // The windows' sequences are fixed at start-up: a Re-Start on this port would meet the same refusal.
        {{},
         "reset-rts-boot-dtr",
         "",
         entry_refused({"     given by --entry", "", other_port + "start Fernwick without --entry !"}),
         0,
         0,
         "--entry"},
        {{},
         "",
         "reset-rts-boot-dtr",
         no_lines({k_exit, "     given by the key exit of " + ini, "",
                   other_port + "remove the key exit from " + ini + " and start Fernwick again !"}),
         0,
         0,
         ini},
        {silent_once, "", "", ready, 10, 5000},
        {{.id_byte = {}, .faulty_bring_ups = 1, .wiring = direct}, "reset-rts-boot-dtr", "", ready, 10},  // reset again
        {silent_once, "", "", sending + le + "     Waiting for the board (no answer yet), up to 4 s" + le + no_id(""),
         4, 5000},
        {slow_status, "", "", ready, 0, 0, {}, true},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.entry + r.log);
        sim::sim_board board(r.chip);
        core::app_state s(core::sharing_one_port(board.platform()));
        core::StartModul(s);
        shell::connect_events(s, {});
        std::string why;
        if (!r.entry.empty()) s.bench.entry = *core::parse_modem_sequence(r.entry, false, why);
        if (!r.exit.empty()) s.bench.exit = *core::parse_modem_sequence(r.exit, true, why);
        s.bench.entry.given_in = s.bench.exit.given_in = r.given_in;
        s.bench.wait_ms = r.wait_s * 1000;
        if (r.after_slow_status) {
            bootstrap::RESET_OK_Click(s);
            board.run_for(1000);
            command::show_status_Click(s);
            board.run_for(2100);
            ASSERT_NE(s.log().text().find("     TimeOut Error !"), std::string::npos);
            shell::restart_flash__Click(s);
        }
        bootstrap::RESET_OK_Click(s);
        for (int ms = 0; ms < 3000 + r.wait_s * 1000 && s.RESETFORM.Timer0->active(); ms += 10) {
            if (ms == r.reset_at_ms && ms > 0) board.chip().board_reset();
            board.run_for(10);
        }
        EXPECT_EQ(s.log().text(), r.log);
        EXPECT_EQ(board.received().empty(), r.log.find("modem lines of the port") != std::string::npos);
        EXPECT_FALSE(s.RESETFORM.MSCom0->is_open());
        if (r.log != ready) continue;
        programming::load_hex__Click(s, hex);
        programming::LocationForm_Command1_Click(s);
        programming::program_button_Click(s);  // its exchanges go on on the port kept open
        EXPECT_EQ(s.run.outcome, core::run_record::result::succeeded);
        EXPECT_EQ(board.chip().phase(), r.exit.empty() ? sim::chip_phase::resident : sim::chip_phase::halted);
        EXPECT_EQ(s.mainform.program_.visible, r.exit.empty());
    }
}

// An app in the command phase, its log emptied so each test sees only its own text.
struct command_phase : scripted_app {
    command_phase() { bring_up(); }
    void bring_up()
    {
        bootstrap::RESET_OK_Click(state);
        for (const char* ack : {"\xD5", "\x22", "\x11"}) answer_bring_up(*this, ack);
        state.log().replace("");
    }
    bool menus() const { return state.mainform.program_.visible && state.mainform.status_.visible; }
};

std::string unexpected(const std::string& byte)
{
    return block({"     I received the unexpected Byte : 0x" + byte, "     I wasn't waiting for any byte ! ", "",
                  "      Please Re-Start the Fernwick !"});
}

TEST(reply_engine, every_answer_is_judged_where_it_was_awaited)
{
    // Status, checksum and acknowledge of each sector, as each command asks.
    const std::string reading("\x12\x34\x80\x88\x0A\x00\x7F\x88\x00\x00\x7E\x88\xFF\xFE\x7D\x88", 16);
    const std::array<std::string, 4> read = {"1234", "0A00", "0000", "FFFE"};
    std::vector<std::optional<core::byte_string>> one_by_one, by_sector;  // as a USB adapter may deliver them
    for (const char b : reading) one_by_one.push_back(core::byte_string(1, b));
    for (int n = 0; n < 4; ++n) by_sector.push_back(reading.substr(4 * n, 4));
    const std::string reset_done =
        block({"                             Software Reset sucessfully executed !"}, bar) + le + le +
        "                     To execute further commands 'Re-Start' the Fernwick !" + le + le;
    const auto reset = command::reset_micro__Click, status = command::show_status_Click;
    struct row {
        void (*command)(core::app_state&);
        std::vector<std::optional<core::byte_string>> answers;  // one read each; nullopt: the reply timer runs out
        std::string log;
        std::array<std::string, 4> status = {};
        bool waiting = false;  // the reply timer running at the end
        int show_before = -1;  // Show clicked again before this answer
        bool restart = false;  // and Re-Start with a new bring-up before that
    };
    const row rows[] = {
        {status, one_by_one, "", read},
        {status, by_sector, "", read},
        {status,
         {reading.substr(0, 4), core::byte_string("\x00\x00\x80", 3)},  // sector 1 with sector 0's checksum
         block({"     Wrong checksum byte received", "     Please Re-Start the Fernwick !"}),
         {"1234"}},
        {status,
         {reading.substr(0, 3), "\x91"},
         block({"     Something went wrong when reading the Flash-status !", "      Please Re-Start the Fernwick !"})},
        // The time-out is reported once; a late byte is still taken where it was awaited.
        {status,
         {"\x12", std::nullopt, std::nullopt, "\x34"},
         block({"     TimeOut Error !",
                "     I was waiting for a byte from the microcontroller that I didn't receive !",
                "     Please Re-Start the Fernwick !"}),
         {},
         true},
        {status, {reading, "\x5A\x5B"}, unexpected("5A"), read},  // the link is closed after the first
        {status, {reading, ""}, unexpected("00"), read},
        {status, by_sector, "", read, false, 1},  // a second Show while the first reading goes on does nothing
        {status, {by_sector[0], reading}, "", read, false, 1, true},
        // A wrong confirmation is reported, the right one still taken after it.
        {reset, {"\x13"}, block({"     I didn't receive the right confirmation after reset the microcontroller !"})},
        {reset, {"\x13", "\x12"}, reset_done},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.log);
        command_phase app;
        r.command(app.state);
        for (std::size_t i = 0; i < r.answers.size(); ++i) {
            if (static_cast<int>(i) == r.show_before && r.restart) {  // the reading abandoned for good
                shell::restart_flash__Click(app.state);
                EXPECT_FALSE(app.Timer().active() || app.state.reply_awaited);
                app.bring_up();
            }
            if (static_cast<int>(i) == r.show_before) status(app.state);
            if (r.answers[i]) app.COM().rx += *r.answers[i];
            r.answers[i] ? command::COM_OnComm(app.state, core::k_comm_event_receive) : app.Timer().fire();
        }
        // Sector 0's status command goes out once, first, but for a new reading.
        EXPECT_TRUE(r.restart || app.COM().written.find("\x40\x40", 2) == std::string::npos);
        EXPECT_EQ(app.log(), r.log);
        EXPECT_EQ(app.state.statusform.status_sector, r.status);
        EXPECT_EQ(app.state.statusform.visible, !r.status[3].empty());  // once all four sectors are read
        // Any trouble hides the command menus; an unexpected byte closes the link too.
        EXPECT_EQ(app.menus(), r.log.empty());
        EXPECT_EQ(app.Timer().active(), r.waiting);
        EXPECT_EQ(app.COM().is_open(), r.log.find("unexpected") == std::string::npos);
    }
}

}  // namespace
