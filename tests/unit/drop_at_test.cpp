// The faults of the whole line and of the bring-up that the fault matrix
// needs: a line that dies at a given host byte, a software reset that goes
// wrong, and bring-up faults that hit only the first bring-ups.

#include <gtest/gtest.h>

#include <functional>

#include "bootstrap/loader_images.h"
#include "chip_model.h"
#include "sim_options.h"
#include "support_chip.h"

namespace {

using namespace fernwick::sim;
using namespace fernwick::sim::testing;
using fernwick::bootstrap::first_loader_bytes;
using fernwick::bootstrap::main_program_bytes;

constexpr std::uint64_t k_bring_up_bytes = 1 + 32 + 510;  // zero byte, first-level loader, main program
const std::string zero(1, '\0');

chip_config dying_at(std::uint64_t nth)
{
    chip_config config;
    config.drop_at_byte = nth;
    return config;
}

// Every answer byte until the chip is quiet, as one hex text.
std::string all_answers(chip_model& chip)
{
    std::string text;
    for (const auto& w : writes_until_quiet(chip)) text += (text.empty() ? "" : " ") + w.bytes;
    return text;
}

TEST(drop_at, the_line_dies_right_after_the_chip_took_the_nth_host_byte)
{
    struct row {
        const char* name;
        std::uint64_t nth;
        std::vector<std::string> writes;  // the host's writes, in order
        std::string answers;              // everything that reaches the host
    };
    const std::string status_0 = bytes_of("40 40");
    const std::string status_1 = bytes_of("40 41");
    const std::vector<std::string> bring_up = {zero, first_loader_bytes(), main_program_bytes()};
    const auto then = [&bring_up](std::vector<std::string> more) {
        more.insert(more.begin(), bring_up.begin(), bring_up.end());
        return more;
    };
    const std::vector<row> rows = {
        {"the zero byte", 1, bring_up, ""},
        {"inside the first-level loader", 20, bring_up, "D5"},
        {"the loader's last byte: its acknowledge is lost", 33, bring_up, "D5"},
        {"the main program's last byte", k_bring_up_bytes, bring_up, "D5 22"},
        {"after the bring-up, nothing sent", k_bring_up_bytes + 1, bring_up, "D5 22 11"},
        {"a status command's last byte", k_bring_up_bytes + 2, then({status_0, status_1}), "D5 22 11"},
        {"the next command's first byte", k_bring_up_bytes + 3, then({status_0, status_1}),
         "D5 22 11 00 10 80 88"},
    };
    for (const auto& r : rows) {
        chip_model chip(dying_at(r.nth));
        std::uint64_t written = 0;
        for (const auto& w : r.writes) {
            chip.receive(w, 0);
            written += w.size();
        }
        EXPECT_EQ(all_answers(chip), r.answers) << r.name;
        EXPECT_EQ(chip.received().size(), std::min(r.nth, written)) << r.name;
        EXPECT_EQ(chip.link_dropped(), r.nth <= written) << r.name;
    }
}

TEST(drop_at, bytes_after_the_last_never_reach_the_chip)
{
    chip_model chip(dying_at(k_bring_up_bytes + 2));
    bring_up(chip);
    chip.flash().program(0, 0x0000, std::array<std::uint8_t, 1>{0x00});
    chip.receive(bytes_of("20 20 40 40"), 0);
    EXPECT_EQ(chip.received().size(), k_bring_up_bytes + 2);
    EXPECT_TRUE(chip.take_output(10).empty());
    EXPECT_TRUE(chip.link_dropped());
    // The chip acted on the erase it took in full; only its answer was lost.
    EXPECT_EQ(chip.flash().sector(0)[0], 0xFF);
    chip.receive(bytes_of("40 40"), 20);
    EXPECT_EQ(chip.received().size(), k_bring_up_bytes + 2);
    EXPECT_EQ(chip.next_event_ms(), std::nullopt);
}

TEST(drop_at, the_count_goes_on_over_board_resets)
{
    chip_model chip(dying_at(k_bring_up_bytes + 2));
    bring_up(chip);
    chip.board_reset();
    EXPECT_EQ(answer_to(chip, zero), "D5");
    EXPECT_EQ(answer_to(chip, first_loader_bytes()), "");
    EXPECT_TRUE(chip.link_dropped());
}

TEST(drop_at, a_board_reset_that_loses_the_last_byte_kills_the_line)
{
    auto config = dying_at(k_bring_up_bytes + 3);
    config.timing.erase_ms = 100;
    chip_model chip(std::move(config));
    bring_up(chip);
    chip.receive(bytes_of("20 20"), 0);
    chip.receive(bytes_of("40"), 10);  // waits while the chip erases
    EXPECT_EQ(hex_of(chip.take_output(10).front().bytes), "C0");
    chip.board_reset();
    EXPECT_TRUE(chip.link_dropped());
}

exchange_fault fault_of(exchange_kind kind, int nth, const std::function<void(exchange_fault&)>& change)
{
    exchange_fault f;
    f.kind = kind;
    f.nth = nth;
    change(f);
    return f;
}

exchange_fault reset_fault(int nth, const std::function<void(exchange_fault&)>& change)
{
    return fault_of(exchange_kind::reset, nth, change);
}

TEST(reset_faults, a_wrong_or_missing_confirmation_leaves_the_program_running)
{
    struct row {
        const char* name;
        exchange_fault fault;
        std::string answers;  // to the first reset
        chip_phase phase;
    };
    const std::vector<row> rows = {
        {"wrong confirmation", reset_fault(1, [](auto& f) { f.status = 0x13; }), "13", chip_phase::resident},
        {"silence", reset_fault(1, [](auto& f) { f.silence = true; }), "", chip_phase::resident},
        {"late confirmation", reset_fault(1, [](auto& f) { f.delay_ms = 30; }), "12", chip_phase::awaiting_zero},
        {"a fault for the second reset", reset_fault(2, [](auto& f) { f.status = 0x13; }), "12",
         chip_phase::awaiting_zero},
        {"status faults leave the reset alone", fault_of(exchange_kind::status, 1, [](auto& f) { f.status = 0x13; }),
         "12", chip_phase::awaiting_zero},
    };
    for (const auto& r : rows) {
        chip_config config;
        config.faults = {r.fault};
        chip_model chip(std::move(config));
        bring_up(chip);
        chip.receive(bytes_of("00"), 0);
        EXPECT_EQ(all_answers(chip), r.answers) << r.name;
        EXPECT_EQ(chip.phase(), r.phase) << r.name;
    }
}

TEST(reset_faults, a_chip_that_did_not_reset_still_serves_commands)
{
    chip_config config;
    config.faults = {reset_fault(1, [](auto& f) { f.status = 0x13; })};
    chip_model chip(std::move(config));
    bring_up(chip);
    EXPECT_EQ(answer_to(chip, bytes_of("00")), "13");
    EXPECT_EQ(answer_to(chip, bytes_of("40 40")), "00 10 80 88");
    EXPECT_EQ(answer_to(chip, bytes_of("00")), "12");
    EXPECT_EQ(chip.phase(), chip_phase::awaiting_zero);
}

TEST(reset_faults, a_dropped_reset_answers_nothing_more)
{
    chip_config config;
    config.faults = {reset_fault(1, [](auto& f) { f.drop = true; })};
    chip_model chip(std::move(config));
    bring_up(chip);
    chip.receive(bytes_of("00"), 0);
    EXPECT_EQ(all_answers(chip), "");
    EXPECT_TRUE(chip.link_dropped());
}

TEST(faulty_bring_ups, later_bring_ups_go_through)
{
    struct row {
        const char* name;
        std::optional<int> faulty;
        std::string first, second;  // the answers of two bring-ups with a board reset between
    };
    const std::vector<row> rows = {
        {"every bring-up", std::nullopt, "00 C5 EE 11", "00 C5 EE 11"},
        {"only the first", 1, "00 C5 EE 11", "D5 22 11"},
        {"none", 0, "D5 22 11", "D5 22 11"},
    };
    for (const auto& r : rows) {
        chip_config config;
        config.echo_zero = true;
        config.id_byte = 0xC5;
        config.loader_ack = 0xEE;
        config.faulty_bring_ups = r.faulty;
        chip_model chip(std::move(config));
        std::string answers[2];
        for (auto& a : answers) {
            for (const auto& w : {zero, first_loader_bytes(), main_program_bytes()}) chip.receive(w, 0);
            a = all_answers(chip);
            chip.board_reset();
        }
        EXPECT_EQ(answers[0], r.first) << r.name;
        EXPECT_EQ(answers[1], r.second) << r.name;
    }
}

TEST(fault_options, line_reset_and_bring_up_faults)
{
    const auto parsed = parse_options({"--fault", "drop-at:600", "--fault", "reset:2:status=13,delay=5",
                                       "--faulty-bring-ups", "1"});
    ASSERT_TRUE(parsed.options) << parsed.error;
    const auto& chip = parsed.options->chip;
    EXPECT_EQ(chip.drop_at_byte, 600u);
    EXPECT_EQ(chip.faulty_bring_ups, 1);
    ASSERT_EQ(chip.faults.size(), 1u);
    EXPECT_EQ(chip.faults[0].kind, exchange_kind::reset);
    EXPECT_EQ(chip.faults[0].nth, 2);
    EXPECT_EQ(chip.faults[0].status, 0x13);
    EXPECT_EQ(chip.faults[0].delay_ms, 5);
}

TEST(fault_options, malformed_ones_are_refused)
{
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"--fault", "drop-at:0"},
             {"--fault", "drop-at:x"},
             {"--fault", "drop-at:1:2"},
             {"--fault", "reset:1:checksum"},
             {"--fault", "reset:0:silence"},
             {"--faulty-bring-ups", "-1"},
             {"--faulty-bring-ups", "two"},
         }) {
        const auto parsed = parse_options(args);
        EXPECT_FALSE(parsed.options) << args[1];
        EXPECT_EQ(parsed.error, "bad value for " + args[0] + ": " + args[1]);
    }
}

}  // namespace
