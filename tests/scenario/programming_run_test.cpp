// Programming runs on the simulated board: the exchanges in the order that
// keeps the bootstrap loader code in flash, the whole log of each way a run
// ends, and a copy of the code in flash however a run is cut short.

#include <gtest/gtest.h>

#include <regex>
#include <sstream>

#include "programming/flash_exchange.h"
#include "programming/sector_programming.h"
#include "shell/main_menu.h"
#include "sim_app.h"

namespace {

using namespace fernwick;
using namespace fernwick::test_support;
using ek = sim::exchange_kind;

// Sixteen bytes at each segment and offset.
std::vector<std::string> hex_of(const std::vector<std::pair<int, int>>& records)
{
    std::vector<std::string> lines;
    for (std::size_t i = 0; i < records.size(); ++i) {
        const auto [segment, offset] = records[i];
        if (i == 0 || records[i - 1].first != segment) lines.push_back(linear_segment(segment));
        lines.push_back(hex_record(0, offset, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}));
    }
    lines.push_back(":00000001FF");
    return lines;
}

// Data in every sector, three blocks in sector 1, the last ending at FFFFh,
// and some right behind where the code lies.
const auto all_sectors =
    hex_of({{0, 0x60}, {0, 0x100}, {1, 0x8000}, {1, 0x8050}, {1, 0xFFF0}, {2, 0x60}, {2, 0x200}, {2, 0x9000}});
// Two blocks of sector 1 whose checksums are alike (0Ch): a stale copy of the
// first answer would pass for the second's.
const std::vector<std::string> alike = {linear_segment(1), hex_record(0, 0x8000, {0x40}), hex_record(0, 0x8040, {0}),
                                        ":00000001FF"};
const std::vector<std::string> one_block = {alike[0], alike[1], alike[3]};

std::string notice(const std::string& line) { return block({line}, bar); }
const std::string restart = "     Please Re-Start the Fernwick !";
const std::string still_in_2 = "     The Bootstrap Loader Code still lies in Sector 2 !",
                  flag = "     A Flag Error occured ! ";
std::string failed(const std::string& m, const std::string& code = still_in_2) { return block({m, code, "", restart}); }
const std::string stray = "     I received the unexpected Byte : 0x0C" + le + "     I wasn't waiting for any byte ! ";

// The log of the steps "P1" (sector 1 programmed), "S2" (the code saved in
// sector 2) and "end" (the run finished).
std::string logged(const std::string& steps)
{
    std::istringstream in(steps);
    std::string log;
    for (std::string s; in >> s;)
        log +=
            s == "end" ? le + notice("                        Programming sucessfully finished !") + le + le +
                             "                       You can continue with another operation..." + le + le
            : s[0] == 'P'
                ? notice("                         Sector  " + s.substr(1) + "   successfully programmed")
                : notice("                         Bootstrap Loader Code successfully saved in Sector " + s.substr(1));
    return log;
}

struct choices {
    int now = 2, target = 2, segment = 0;
    std::vector<int> ticked = {0, 1, 2, 3};
    int code = -1;  // the sector that holds the code at the end
};

struct run_row {
    choices how;
    std::string sent;  // the exchanges the chip received
    std::string log;   // after the "Please wait" notice
    sim::chip_config chip = {};
    int block = 0;  // of a failure, counted from 1
    std::vector<std::string> hex = all_sectors;
    std::string listed;                       // the notice of the file's bytes that reach no flash
    std::vector<std::string> rewritten = {};  // the file as another program writes it after OK
    const char* left = nullptr;               // where a failure left the code, as the preselection says it
};

sim::chip_config status(ek kind, int nth, std::uint8_t byte) { return {.faults = {{kind, nth, false, byte}}}; }
sim::chip_config silent(ek kind, int nth) { return {.faults = {{.kind = kind, .nth = nth, .silence = true}}}; }

// Load Hex-File, the choices, the boxes, Program; the exchanges the chip received.
std::string run(sim_app& app, const std::string& hex, const choices& how,
                const std::vector<std::string>& rewritten = {})
{
    app.choose(hex, how.now, how.target, how.segment);
    if (!rewritten.empty()) write_hex(hex, rewritten);
    app.tick_only(how.ticked);
    const auto mark = app.board.received().size();
    programming::program_button_Click(app.state);
    return exchanges(app.board.received().substr(mark));
}

// After a failure the next Load Hex-File offers where the code lies now and
// says whose run left it there; on another port it offers nothing.
void expect_preselection(sim_app& app, const std::string& hex, const run_row& r, bool succeeded)
{
    programming::load_hex__Click(app.state, hex);
    EXPECT_TRUE(succeeded || r.how.code < 0 || app.state.LocationForm.now_choice == r.how.code);
    const std::string where =
        r.left != nullptr ? r.left : "(the code only in Sector [02]|the code in Sector 0 and in Sector 2)";
    const std::regex said(" preselected: the run on COM 1 at [0-2][0-9]:[0-5][0-9] left " + where +
                          "; for another board, choose where its code lies");
    const std::string& log = app.state.log().text();
    EXPECT_EQ(std::regex_search(log.substr(log.rfind(" Program Hex-File")), said), !succeeded) << log;
    shell::restart_flash__Click(app.state);
    bootstrap::com2__Click(app.state);
    programming::load_hex__Click(app.state, hex);
    EXPECT_EQ(app.state.log().text().find("preselected", log.size()), std::string::npos);
    EXPECT_TRUE(succeeded || app.state.LocationForm.now_choice == 2);
}

void expect_run(const run_row& r)
{
    SCOPED_TRACE(r.sent + r.log);
    sim_app app(r.chip);
    if (r.how.now == 0 || r.how.now == 2) {  // the code lies where the operator says
        std::vector<std::uint8_t> image(sim::k_flash_size, 0xFF);
        const auto code = bsl_code_bytes();
        std::copy(code.begin(), code.end(), image.begin() + static_cast<long>(r.how.now * sim::k_sector_size));
        EXPECT_TRUE(app.board.chip().flash().load(image));
    }
    const auto hex = write_hex(test::scratch_dir() / "app.hex", r.hex);
    const auto sent = run(app, hex, r.how, r.rewritten);
    EXPECT_EQ(sent, r.sent);
    EXPECT_EQ(app.state.log().text(), notice(" Program Hex-File : " + hex) + r.listed +
                                          notice("                             Please wait one moment !") + r.log);
    // After a failure the chip's state is unknown: only Re-Start is offered.
    const bool succeeded = r.log.ends_with(logged("end"));
    EXPECT_EQ(app.state.mainform.program_.visible, succeeded);
    EXPECT_TRUE(app.state.mainform.enabled && !app.state.mainform.progress.visible);
    const auto blocks = std::count(sent.begin(), sent.end(), 'B');
    EXPECT_TRUE(!succeeded || app.state.mainform.progress.blocks_total == blocks);  // a save counts the code's two
    EXPECT_EQ(app.state.run.block, succeeded ? blocks : r.block);
    EXPECT_EQ(app.state.run.gone, r.log.find("The board is gone") != std::string::npos);
    EXPECT_TRUE(r.how.code < 0 || holds_bsl_code(app.board, r.how.code));
    // The sector window lists what the log's notice lists, which it may cover.
    std::string shown;
    for (const auto& line : app.state.ConfirmForm.unplaced) shown += le + line;
    EXPECT_EQ(shown.empty() ? shown : le + bar + shown + le + bar + le, r.listed);
    expect_preselection(app, hex, r, succeeded);
}

TEST(programming_run, sends_the_exchanges_in_the_order_that_keeps_the_code_and_logs_how_it_ended)
{
    const std::string p = "E1 B1:8000 B1:8040 B1:FFC0 E3 B2:9000 ";  // sectors 1 and 3 come first
    const run_row rows[] = {
        {{.code = 2},
         p + "E0 B0:0000 B0:0040 E2 B2:0000 B2:0040 B2:0200 E0 B0:0040 B0:0100",
         logged("P1 P3 S0 P2 P0 end")},
        {{.now = 0, .target = 0, .code = 0},
         p + "E2 B2:0000 B2:0040 E0 B0:0000 B0:0040 B0:0100 E2 B2:0040 B2:0200",
         logged("P1 P3 S2 P0 P2 end")},
        {{.now = 0, .code = 2}, p + "E2 B2:0000 B2:0040 B2:0200 E0 B0:0040 B0:0100", logged("P1 P3 P2 P0 end")},
        // A USB adapter may hand over the checksum and the status byte in one read.
        {{.target = 0, .code = 0},
         p + "E0 B0:0000 B0:0040 B0:0100 E2 B2:0040 B2:0200",
         logged("P1 P3 P0 P2 end"),
         {.grouping = sim::answer_grouping::joined}},
        // Sector 3 from its first byte without sector 2, and an erase of 9 s still awaited.
        {{},
         "E1 B1:8000 E3 B2:8000",
         logged("P1 P3 end"),
         {.timing = {.erase_ms = 9000}},
         0,
         hex_of({{1, 0x8000}, {2, 0x8000}})},
        // The chip sees sector 0 at segment 0 whatever the file maps it to.
        {{.segment = 1}, "E0 B0:0100", logged("P0 end"), {}, 0, hex_of({{1, 0x100}})},
        {{.ticked = {}}, "", logged("end"), {}, 0, one_block},
        // Data under the code is listed when the location is chosen, and the code takes its place.
        {{.code = 2},
         "E0 B0:0000 B0:0040 E2 B2:0000 B2:0040 E0",
         logged("S0 P2 P0 end"),
         {},
         0,
         hex_of({{2, 0x40}}),
         block({"     These bytes of the Hex-file reach no flash and will not be programmed :",
                "       02'0040h-02'004Fh (line 2, 16 bytes): under the bootstrap loader code of sector 2",
                "     Use Back to change the choices, or Cancel; Program Flash programs the rest."},
               bar)},
        // No data in any sector and no code kept: the Warning's Cancel is the way back.
        {{.target = -99, .ticked = {}},
         "",
         logged("end"),
         {},
         0,
         hex_of({{0, 0x8000}}),
         block({"     This Hex-file has no data for any flash sector with Sector 0 mapped to Segment 0 (00'0000h - "
                "00'7FFFh) !",
                "     Sectors 1 to 3 lie at 01'8000h - 01'FFFFh and 02'0000h - 02'FFFFh.",
                "     These bytes of the Hex-file reach no flash and will not be programmed :",
                "       00'8000h-00'800Fh (line 2, 16 bytes): in no flash sector with sector 0 mapped to segment 0",
                "     Use Cancel to choose another mapping."},
               bar)},
        {{},
         p + "E0",
         logged("P1 P3") + failed("     I didn't received the byte that I was waiting for ! "),
         silent(ek::erase, 3),
         4},  // an erase leaves the number of the block before it
        // Sector 2 fails once the code was saved in sector 0: the code lies there alone.
        {{.code = 0},
         p + "E0 B0:0000 B0:0040 E2 B2:0000",
         logged("P1 P3 S0") + failed(flag, "     The Bootstrap Loader Code now lies only in Sector 0 !"),
         status(ek::block, 7, 0x93),
         7,
         all_sectors,
         "",
         {},
         "the code only in Sector 0"},
        // Sector 2 fails behind the code's two blocks: the code lies in both sectors.
        {{.now = 0, .code = 0},
         p + "E2 B2:0000 B2:0040 B2:0200",
         logged("P1 P3") + failed(flag, "     The Bootstrap Loader Code now lies in Sector 0 and in Sector 2 !"),
         status(ek::block, 7, 0x93),
         7,
         all_sectors,
         "",
         {},
         "the code in Sector 0 and in Sector 2"},
        // The file rewritten after OK: what OK read is programmed, nothing of the new file.
        {{.ticked = {1}}, "E1 B1:8000", logged("P1 end"), {}, 0, one_block, "", hex_of({{1, 0x9000}, {2, 0x8000}})},
    };
    for (const auto& r : rows) expect_run(r);
}

TEST(programming_run, a_failed_exchange_ends_the_run_with_its_reason)
{
    struct row {
        sim::chip_config chip;
        std::string sent;
        int block;
        std::string message;
        std::vector<std::string> hex = all_sectors;
        std::string done = "";  // the steps logged before the failure
    };
    const sim::exchange_fault repeat{.kind = ek::block, .repeat = true},
        flag_2{.kind = ek::block, .nth = 2, .status = 0x93},
        late_repeat{.kind = ek::block, .delay_ms = 300, .repeat = true},
        late_erase_copy{.kind = ek::erase, .nth = 2, .repeat = true, .repeat_after_ms = 40},
        flag_4{.kind = ek::block, .nth = 4, .status = 0x93};
    constexpr auto split = sim::answer_grouping::split;
    // The bring-up sends 543 bytes.
    const std::string gone = "     The board is gone !" + le + "     COM1: the device went away";
    const row rows[] = {
        {status(ek::erase, 1, 0x93), "E1", 0, flag},
        {status(ek::block, 2, 0x55), "E1 B1:8000 B1:8040", 2, "     A unknown status Error byte was received ! "},
        {{.faults = {{.kind = ek::block, .wrong_checksum = true}}},
         "E1 B1:8000",
         1,
         "     A Checksum Error occured ! "},
        {silent(ek::block, 2), "E1 B1:8000 B1:8040", 2,
         "     TimeOut: I didn't received the byte that I was waiting for ! "},
        {{.faults = {repeat, flag_2}}, "E1 B1:8000", 2, stray, alike},
        // The copy comes once the next block was written and passes for its answer; the late answer is its own.
        {{.timing = {9600}, .grouping = split, .faults = {repeat, flag_2}}, "E1 B1:8000 B1:8040", 2, flag, alike},
        // The same from a chip 40 ms slower than its usual 2 ms on every block: the check waits that out too.
        {{.timing = {9600, 0, 42}, .grouping = split, .faults = {repeat, flag_2}},
         "E1 B1:8000 B1:8040",
         2,
         flag,
         alike},
        {{.grouping = split, .faults = {late_repeat}}, "E1 B1:8000", 1, stray, one_block},  // the run's last answer
        {{.drop_at_byte = 543 + 2 + 4 + 10}, "E1 B1:8000", 1, gone, alike},  // amid the first block's data
        // Sector 3's one block answers BD like its erase, whose copy passes for that answer; only sector 1's
        // blocks showed the adapter's 30 ms, which the check after sector 3 waits out too.
        {{.timing = {9600, 0, 0, 30}, .faults = {late_erase_copy, flag_4}},
         "E1 B1:8000 B1:8040 B1:8080 E3 B2:8000",
         4,
         flag,
         {linear_segment(1), hex_record(0, 0x8000, {0x11}), hex_record(0, 0x8040, {0x22}),
          hex_record(0, 0x8080, {0x33}), linear_segment(2), hex_record(0, 0x8000, {0x8E}), ":00000001FF"},
         "P1"},
    };
    for (const auto& r : rows) expect_run({{}, r.sent, logged(r.done) + failed(r.message), r.chip, r.block, r.hex});
}

TEST(programming_run, a_broken_block_file_line_of_any_sector_stops_the_sector)
{
    const std::string data = "\"" + std::string(128, '0') + "\"";
    const std::string broken_lines[] = {
        "3,36864,2," + data + ",\"EOX\"",  // marker of another sector
        "1,65473,1," + data + ",\"EOB\"",  // runs past FFFFh
    };
    for (const auto& broken : broken_lines) {
        SCOPED_TRACE(broken);
        sim_app app;
        const auto mark = app.board.received().size();
        app.state.new_file_text =
            "1,32768,1," + data + ",\"EOB\"\r\n" + broken + "\r\n1,32832,1," + data + ",\"EOB\"\r\n";
        app.state.current_sector = 1;
        app.state.run.code.start(2);
        app.state.log().replace("");
        programming::program_sector(app.state);
        EXPECT_EQ(app.state.log().text(), failed("     Something is wrong with the created Hex-file ! "));
        EXPECT_EQ(exchanges(app.board.received().substr(mark)), "E1 B1:8000");
    }
}

TEST(flash_exchanges, a_byte_nobody_waits_for_fails_the_next_exchange_before_it_is_sent)
{
    for (const bool erase : {true, false}) {
        scripted_app app;
        app.state.mainform.COM->open();
        app.COM().rx = "\x0C";
        programming::answer_reader reader(app.state);
        const auto result = erase ? programming::erase_sector(reader, app.state, 1)
                                  : programming::program_block(reader, app.state, 1, 0x8000, {});
        ASSERT_TRUE(result);
        EXPECT_EQ(result->lines[0] + le + result->lines[1], stray);
        EXPECT_TRUE(app.COM().written.empty());
    }
}

// Whenever the code lies in sector 0 or 2 and shall stay in flash, a copy of
// it is in flash whatever exchange of the run fails, and however, or wherever
// the run is stopped; a retry from where the run left it (the reset board
// brought up again) puts the code where it shall lie.
TEST(never_bricked, the_bootstrap_code_survives_a_failure_or_a_stop_at_every_exchange)
{
    const auto hex = write_hex(test::scratch_dir() / "app.hex", all_sectors);
    const auto run_cut = [&hex](int now, int target, std::vector<sim::exchange_fault> faults, int stop_at) {
        sim_app app({.faults = std::move(faults)});
        std::vector<std::uint8_t> image(sim::k_flash_size, 0x5A);  // old data, the code in `now`
        const auto code = bsl_code_bytes();
        std::copy(code.begin(), code.end(), image.begin() + static_cast<long>(now * sim::k_sector_size));
        EXPECT_TRUE(app.board.chip().flash().load(image));
        int asked = 0;
        app.state.stop_requested = [&asked, stop_at] { return stop_at > 0 && ++asked >= stop_at; };
        const auto sent = run(app, hex, {.now = now, .target = target});
        // The run knows a sector that holds the code, and names none that does not.
        EXPECT_TRUE(app.state.run.code.in_0 || app.state.run.code.in_2);
        for (const int n : {0, 2}) EXPECT_TRUE(!app.state.run.code.in(n) || holds_bsl_code(app.board, n)) << n;
        if (app.state.run.outcome != core::run_record::result::succeeded) {
            sim_app retry;
            EXPECT_TRUE(retry.board.chip().flash().load(app.board.chip().flash().image()));
            run(retry, hex, {.now = app.state.run.code.now(), .target = target});
            EXPECT_EQ(retry.state.run.outcome, core::run_record::result::succeeded);
            EXPECT_TRUE(holds_bsl_code(retry.board, target));
        }
        return sent;
    };
    const sim::exchange_fault faults[] = {
        {.wrong_checksum = true}, {.status = 0x93}, {.silence = true}, {.drop = true}};
    for (const auto& [now, target] : {std::pair{0, 0}, {0, 2}, {2, 0}, {2, 2}}) {
        std::istringstream sent(run_cut(now, target, {}, 0));
        int nth = 0, erases = 0, blocks = 0;
        for (std::string exchange; sent >> exchange;) {
            SCOPED_TRACE(testing::Message() << "now " << now << ", target " << target << ", at " << exchange);
            const auto stopped = run_cut(now, target, {}, ++nth);
            EXPECT_EQ(std::count(stopped.begin(), stopped.end(), ' ') + !stopped.empty(), nth - 1);
            const bool erase = exchange[0] == 'E';
            const int of_kind = erase ? ++erases : ++blocks;
            for (auto fault : faults) {
                fault.kind = erase ? ek::erase : ek::block;
                fault.nth = of_kind;
                run_cut(now, target, {fault}, 0);
            }
        }
    }
}

}  // namespace
