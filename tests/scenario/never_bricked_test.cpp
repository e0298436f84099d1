#include <gtest/gtest.h>

#include "sim_app.h"

namespace {

using namespace fernwick;
using namespace fernwick::test_support;
using sim::exchange_fault;
using sim::exchange_kind;

const std::vector<int> sixteen = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};

// User data in every sector, some of it where the bootstrap code lies.
std::string hex_file()
{
    const auto dir = test::scratch_dir();
    return write_hex(
        dir / "app.hex",
        {linear_segment(0), hex_record(0, 0x0000, sixteen), hex_record(0, 0x0100, sixteen), linear_segment(1),
         hex_record(0, 0x8000, sixteen), linear_segment(2), hex_record(0, 0x0040, sixteen),
         hex_record(0, 0x0200, sixteen), hex_record(0, 0x9000, sixteen), ":00000001FF"});
}

// The board as it comes: the code in `sector`, old data everywhere else.
void load_code(sim_app& app, int sector)
{
    std::vector<std::uint8_t> image(sim::k_flash_size, 0x5A);
    const auto code = bsl_code_bytes();
    std::copy(code.begin(), code.end(), image.begin() + static_cast<long>(sector * sim::k_sector_size));
    ASSERT_TRUE(app.board.chip().flash().load(image));
}

struct run_outcome {
    int erases = 0;
    int blocks = 0;
    bool code_kept = false;
};

// With `stop_at` n, the operator asks to stop just before the nth exchange.
run_outcome program(const std::string& hex, int now, int target, std::vector<exchange_fault> faults, int stop_at = 0)
{
    sim::chip_config config;
    config.faults = std::move(faults);
    sim_app app(config);
    int asked = 0;
    app.state.stop_requested = [&asked, stop_at] { return stop_at > 0 && ++asked >= stop_at; };
    load_code(app, now);
    app.choose(hex, now, target);
    app.tick_only({0, 1, 2, 3});
    const auto mark = app.board.received().size();
    programming::program_button_Click(app.state);
    run_outcome out;
    const auto wire = app.received_since(mark);
    for (std::size_t i = 0; i < wire.size(); i += wire[i] == 0x20 ? 2 : 68)
        ++(wire[i] == 0x20 ? out.erases : out.blocks);
    out.code_kept = holds_bsl_code(app.board, 0) || holds_bsl_code(app.board, 2);
    return out;
}

// Whenever the code lies in sector 0 or 2 and shall stay in flash, a copy of
// it is in flash whatever exchange of the run fails, and however, or wherever
// the run is stopped.
TEST(never_bricked, the_bootstrap_code_survives_a_failure_or_a_stop_at_every_exchange)
{
    const auto hex = hex_file();
    const std::vector<std::pair<const char*, exchange_fault>> kinds = {
        {"wrong checksum", {.wrong_checksum = true}},
        {"flag error", {.status = 0x93}},
        {"command error", {.status = 0x91}},
        {"silence", {.silence = true}},
        {"link dropped", {.drop = true}},
    };
    int runs = 0;
    for (const int now : {0, 2}) {
        for (const int target : {0, 2}) {
            const auto clean = program(hex, now, target, {});
            ASSERT_TRUE(clean.code_kept);
            for (int nth = 1; nth <= clean.erases + clean.blocks; ++nth) {
                const auto stopped = program(hex, now, target, {}, nth);
                EXPECT_TRUE(stopped.code_kept) << "now " << now << ", target " << target << ", stop at " << nth;
                EXPECT_EQ(stopped.erases + stopped.blocks, nth - 1) << "sent after the stop at " << nth;
                ++runs;
            }
            for (const auto kind : {exchange_kind::erase, exchange_kind::block}) {
                const int count = kind == exchange_kind::erase ? clean.erases : clean.blocks;
                for (int nth = 1; nth <= count; ++nth) {
                    for (const auto& [name, pattern] : kinds) {
                        auto fault = pattern;
                        fault.kind = kind;
                        fault.nth = nth;
                        EXPECT_TRUE(program(hex, now, target, {fault}).code_kept)
                            << "now " << now << ", target " << target << ", " << name << " at "
                            << (kind == exchange_kind::erase ? "erase " : "block ") << nth;
                        ++runs;
                    }
                }
            }
        }
    }
    EXPECT_GT(runs, 100);
}

}  // namespace
