#include <gtest/gtest.h>

#include "programming/conversion.h"
#include "programming/flash_exchange.h"
#include "programming/sector_programming.h"
#include "scripted.h"
#include "sim_app.h"

namespace {

using namespace fernwick;
using namespace fernwick::test_support;
using sim::exchange_fault;
using sim::exchange_kind;

std::string framed(const std::string& frame, std::initializer_list<std::string> lines) { return block(lines, frame); }

std::string flash_error_block(const std::string& message)
{
    return framed(star, {message, "", "     Please Re-Start the Fernwick !"});
}

const std::vector<int> sixteen = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};

// Data in every sector, two blocks in sector 1.
std::vector<std::string> all_sectors()
{
    return {linear_segment(0),
            hex_record(0, 0x0100, sixteen),
            linear_segment(1),
            hex_record(0, 0x8000, sixteen),
            hex_record(0, 0x8050, sixteen),
            linear_segment(2),
            hex_record(0, 0x0200, sixteen),
            hex_record(0, 0x9000, sixteen),
            ":00000001FF"};
}

// One exchange as the chip saw it: "E2" an erase, "B1:8000" a block.
std::vector<std::string> exchanges(const core::byte_string& wire)
{
    std::vector<std::string> seen;
    for (std::size_t i = 0; i < wire.size();) {
        const auto byte = [&](std::size_t k) { return static_cast<std::uint8_t>(wire[k]); };
        char text[16];
        if (byte(i) == 0x20) {
            std::snprintf(text, sizeof text, "E%d", byte(i + 1) - 0x20);
            i += 2;
        } else {
            std::snprintf(text, sizeof text, "B%d:%02X%02X", byte(i + 1), byte(i + 2), byte(i + 3));
            i += 68;
        }
        seen.push_back(text);
    }
    return seen;
}

std::vector<std::string> erases(const core::byte_string& wire)
{
    std::vector<std::string> seen;
    for (const auto& e : exchanges(wire))
        if (e[0] == 'E') seen.push_back(e);
    return seen;
}

TEST(flash_exchanges, saving_the_bootstrap_code_sends_the_documented_bytes)
{
    for (const int sector : {0, 2}) {
        sim_app app;
        ASSERT_TRUE(app.command_phase());
        const auto mark = app.board.received().size();
        app.state.current_sector = static_cast<std::int16_t>(sector);
        programming::save_bsl_code(app.state);
        const core::byte_string erase{'\x20', char(0x20 + sector)};
        const auto code1 = bytes_of(programming::bsl_code_1);
        const auto code2 = bytes_of(programming::bsl_code_2_block);
        const auto expected = erase + "\x33" + core::byte_string{char(sector), 0, 0} +
                              core::byte_string(code1.begin(), code1.end()) + "\x33" +
                              core::byte_string{char(sector), 0, 0x40} + core::byte_string(code2.begin(), code2.end());
        EXPECT_EQ(app.received_since(mark), expected);
        EXPECT_EQ(app.state.flash_error, 0);
        EXPECT_TRUE(holds_bsl_code(app.board, sector));
        const std::string saved = "                         Bootstrap Loader Code successfully saved in Sector ";
        EXPECT_TRUE(app.state.log().text().ends_with(framed(bar, {saved + char('0' + sector)})));
    }
}

TEST(flash_exchanges, every_failure_is_reported_once_and_ends_the_procedure)
{
    struct row {
        exchange_fault fault;
        std::string message;  // empty: the procedure's own time-out wording
        std::size_t exchanges_sent;
    };
    const row rows[] = {
        {{.kind = exchange_kind::erase, .wrong_checksum = true}, "     A Checksum Error occured ! ", 1},
        {{.kind = exchange_kind::erase, .status = 0x91}, "     A Command Error occured ! ", 1},
        {{.kind = exchange_kind::block, .status = 0x92}, "     A TimeOut Error occured ! ", 2},
        {{.kind = exchange_kind::block, .nth = 2, .status = 0x93}, "     A Flag Error occured ! ", 3},
        {{.kind = exchange_kind::erase, .status = 0x94}, "     A Operand Error occured ! ", 1},
        {{.kind = exchange_kind::block, .status = 0x55}, "     A unknown status Error byte was received ! ", 2},
        {{.kind = exchange_kind::erase, .silence = true}, "", 1},
        {{.kind = exchange_kind::block, .nth = 2, .silence = true}, "", 3},
    };
    const auto dir = test::scratch_dir();
    const auto hex = write_hex(dir / "app.hex", all_sectors());
    for (const auto& r : rows) {
        for (const bool save : {true, false}) {
            sim::chip_config config;
            config.faults = {r.fault};
            sim_app app(config);
            const auto mark = app.board.received().size();
            app.state.current_sector = save ? 2 : 1;
            if (save) {
                programming::save_bsl_code(app.state);
            } else {
                app.state.new_file_text = programming::convert_hex({hex, {true, true, true, true}, 2, 0}).block_text;
                programming::program_sector(app.state);
            }
            const auto time_out = save ? "     I didn't received the byte that I was waiting for ! "
                                       : "     TimeOut: I didn't received the byte that I was waiting for ! ";
            const auto message = r.message.empty() ? std::string(time_out) : r.message;
            EXPECT_TRUE(app.state.log().text().ends_with(flash_error_block(message))) << message;
            EXPECT_EQ(app.state.flash_error, -1) << message;
            EXPECT_EQ(exchanges(app.received_since(mark)).size(), r.exchanges_sent) << message;
        }
    }
}

TEST(flash_exchanges, a_block_whose_sum_is_a_multiple_of_256_is_answered_by_00h)
{
    sim_app app;
    programming::answer_reader reader(app.state);
    programming::block_bytes bytes{};
    bytes[0] = 0x4C;  // 33h + 01h + 80h + 00h + 4Ch = 100h
    EXPECT_FALSE(programming::erase_sector(reader, app.state, 1));
    EXPECT_FALSE(programming::program_block(reader, app.state, 1, 0x8000, bytes));
    EXPECT_EQ(app.board.chip().flash().sector(1)[0], 0x4C);
}

TEST(flash_exchanges, a_broken_block_file_line_of_any_sector_stops_the_sector)
{
    const std::string good1 = "1,32768,1,\"" + std::string(128, 'A') + "\",\"EOB\"";
    const std::string good2 = "1,32832,1,\"" + std::string(128, 'B') + "\",\"EOB\"";
    const std::string data = "\"" + std::string(128, '0') + "\"";
    const std::string broken_lines[] = {
        "3,36864,2," + data + ",\"EOX\"",  // marker of another sector
        "1,abc,1," + data + ",\"EOB\"",    // unreadable number
        "1,32800,1,\"00FF\",\"EOB\"",      // data too short
        "1,32832,1," + data,               // ends inside the record
        "1,65473,1," + data + ",\"EOB\"",  // runs past FFFFh
    };
    for (const auto& broken : broken_lines) {
        sim_app app;
        const auto mark = app.board.received().size();
        app.state.new_file_text = good1 + "\r\n" + broken + "\r\n" + good2 + "\r\n";
        app.state.current_sector = 1;
        programming::program_sector(app.state);
        EXPECT_TRUE(
            app.state.log().text().ends_with(flash_error_block("     Something is wrong with the created Hex-file ! ")))
            << broken;
        EXPECT_EQ(exchanges(app.received_since(mark)), (std::vector<std::string>{"E1", "B1:8000"})) << broken;
    }
}

TEST(programming_run, sectors_are_erased_in_the_order_that_keeps_the_bootstrap_code)
{
    struct row {
        int target, now;
        std::vector<std::string> erases;
    };
    const row rows[] = {
        {-99, 2, {"E1", "E3", "E0", "E2"}}, {0, 0, {"E1", "E3", "E2", "E0", "E2"}}, {0, 2, {"E1", "E3", "E0", "E2"}},
        {0, -99, {"E1", "E3", "E0", "E2"}}, {2, 2, {"E1", "E3", "E0", "E2", "E0"}}, {2, 0, {"E1", "E3", "E2", "E0"}},
        {2, -99, {"E1", "E3", "E2", "E0"}},
    };
    const auto hex = write_hex(test::scratch_dir() / "app.hex", all_sectors());
    for (const auto& r : rows) {
        sim_app app;
        app.choose(hex, r.now, r.target);
        app.tick_only({0, 1, 2, 3});
        const auto mark = app.board.received().size();
        programming::program_button_Click(app.state);
        EXPECT_EQ(erases(app.received_since(mark)), r.erases) << r.target << " " << r.now;
        EXPECT_EQ(app.state.flash_error, 0);
        if (r.target != -99) {
            EXPECT_TRUE(holds_bsl_code(app.board, r.target));
        }
    }
}

TEST(programming_run, a_successful_run_reports_each_sector_and_the_end)
{
    const auto dir = test::scratch_dir();
    const auto hex = write_hex(dir / "app.hex", {linear_segment(1), hex_record(0, 0x8000, sixteen), linear_segment(2),
                                                 hex_record(0, 0x9000, sixteen), ":00000001FF"});
    sim_app app({.timing = {.erase_ms = 9000}});  // a slow erase is still awaited
    app.choose(hex, 2, 2);
    const auto mark = app.board.received().size();
    programming::program_button_Click(app.state);
    const auto notice = [](const std::string& line) { return framed(bar, {line}); };
    EXPECT_EQ(app.state.log().text(), notice(" Program Hex-File : " + hex).substr(0) +
                                          notice("                             Please wait one moment !") +
                                          notice("                         Sector  1   successfully programmed") +
                                          notice("                         Sector  3   successfully programmed") + le +
                                          notice("                        Programming sucessfully finished !") + le +
                                          le + "                       You can continue with another operation..." +
                                          le + le);
    EXPECT_EQ(exchanges(app.received_since(mark)), (std::vector<std::string>{"E1", "B1:8000", "E3", "B2:9000"}));
    EXPECT_TRUE(app.state.mainform.enabled);
    EXPECT_TRUE(app.command_phase());
    EXPECT_FALSE(app.state.mainform.progress.visible);
    EXPECT_EQ(app.state.mainform.progress.blocks_done, 2);
    EXPECT_EQ(app.board.chip().flash().sector(3)[0x1000], 1);
}

TEST(programming_run, answers_that_arrive_together_are_taken_one_by_one)
{
    // A USB adapter may hand over the checksum and the status byte in one read.
    sim::chip_config config;
    config.grouping = sim::answer_grouping::joined;
    sim_app app(config);
    app.choose(write_hex(test::scratch_dir() / "app.hex", all_sectors()), 2, 2);
    app.tick_only({0, 1, 2, 3});
    programming::program_button_Click(app.state);
    EXPECT_EQ(app.state.flash_error, 0);
    EXPECT_TRUE(app.state.log().text().find("Programming sucessfully finished !") != std::string::npos);
}

TEST(programming_run, no_sector_chosen_sends_nothing_and_succeeds)
{
    const auto hex =
        write_hex(test::scratch_dir() / "app.hex", {linear_segment(1), hex_record(0, 0x8000, sixteen), ":00000001FF"});
    sim_app app;
    app.choose(hex, 2, 2);
    app.tick_only({});
    const auto mark = app.board.received().size();
    programming::program_button_Click(app.state);
    EXPECT_EQ(app.received_since(mark), "");
    EXPECT_EQ(std::filesystem::file_size(app.state.new_file_name), 0u);
    EXPECT_TRUE(app.state.log().text().find("Programming sucessfully finished !") != std::string::npos);
}

TEST(programming_run, a_failure_stops_the_run_and_hides_the_command_menus)
{
    // Two blocks of sector 1 whose checksums are alike (0Ch): a stale copy of
    // the first answer would pass for the second's.
    const std::vector<std::string> alike = {linear_segment(1), hex_record(0, 0x8000, {0x40}),
                                            hex_record(0, 0x8040, {0x00}), ":00000001FF"};
    const std::string stray =
        "     I received the unexpected Byte : 0x0C" + le + "     I wasn't waiting for any byte ! ";
    struct row {
        const char* name;
        std::vector<exchange_fault> faults;
        std::vector<std::string> hex;
        std::vector<std::string> exchanges;
        std::string message;
        std::optional<std::uint64_t> line_dies_after = std::nullopt;  // host bytes, the bring-up's 543 included
    };
    const row rows[] = {
        {"a flag error at the first erase",
         {{.kind = exchange_kind::erase, .status = 0x93}},
         all_sectors(),
         {"E1"},
         "     A Flag Error occured ! "},
        {"an answer sent twice, the next block's flag error behind it",
         {{.kind = exchange_kind::block, .repeat = true}, {.kind = exchange_kind::block, .nth = 2, .status = 0x93}},
         alike,
         {"E1", "B1:8000"},
         stray},
        {"the last answer of the run sent twice",
         {{.kind = exchange_kind::block, .repeat = true}},
         {alike[0], alike[1], alike[3]},
         {"E1", "B1:8000"},
         stray},
        {"the line dead amid a block's data: refused at once",
         {},
         alike,
         {"E1", "B1:8000"},
         "     I couldn't send the bytes to the uC !" + le + "     COM1: the line is dead",
         543 + 2 + 4 + 10},
    };
    for (const auto& r : rows) {
        sim::chip_config config;
        config.faults = r.faults;
        config.drop_at_byte = r.line_dies_after;
        sim_app app(config);
        app.choose(write_hex(test::scratch_dir() / "app.hex", r.hex), 2, 2);
        app.tick_only({0, 1, 2, 3});
        const auto mark = app.board.received().size();
        programming::program_button_Click(app.state);
        EXPECT_EQ(exchanges(app.received_since(mark)), r.exchanges) << r.name;
        EXPECT_FALSE(app.command_phase()) << r.name;
        EXPECT_TRUE(app.state.mainform.enabled) << r.name;
        EXPECT_TRUE(app.state.log().text().ends_with(flash_error_block(r.message))) << r.name << app.state.log().text();
    }
}

}  // namespace
