#include <gtest/gtest.h>

#include "bootstrap/loader_images.h"
#include "chip_model.h"
#include "support_chip.h"

namespace {

using namespace fernwick::sim;
using namespace fernwick::sim::testing;

chip_config with_faults(std::vector<exchange_fault> faults)
{
    chip_config config;
    config.faults = std::move(faults);
    return config;
}

exchange_fault fault(exchange_kind kind, int nth)
{
    exchange_fault f;
    f.kind = kind;
    f.nth = nth;
    return f;
}

exchange_fault with_status(exchange_fault f, std::uint8_t status)
{
    f.status = status;
    return f;
}

TEST(chip_faults, hit_the_nth_exchange_of_their_kind)
{
    auto wrong_checksum = fault(exchange_kind::status, 2);
    wrong_checksum.wrong_checksum = true;
    auto silent = fault(exchange_kind::erase, 1);
    silent.silence = true;
    auto late = fault(exchange_kind::block, 1);
    late.delay_ms = 30;
    auto all_at_once = with_status(fault(exchange_kind::erase, 1), 0x93);
    all_at_once.wrong_checksum = true;
    all_at_once.delay_ms = 7;

    struct row {
        const char* name;
        std::vector<exchange_fault> faults;
        std::string commands;
        std::vector<timed> answers;
        bool sector_0_erased;
    };
    const std::vector<row> rows = {
        {"no fault", {}, "20 20", {{0, "C0"}, {0, "88"}}, true},
        {"wrong checksum in the second status", {wrong_checksum}, "40 40 40 41",
         {{0, "00"}, {0, "10"}, {0, "80"}, {0, "88"}, {0, "01"}, {0, "11"}, {0, "80"}, {0, "88"}}, false},
        {"silent erase", {silent}, "20 20 40 40", {{0, "00"}, {0, "10"}, {0, "80"}, {0, "88"}}, false},
        {"flag error on erase", {with_status(fault(exchange_kind::erase, 1), 0x93)}, "20 20",
         {{0, "C0"}, {0, "93"}}, false},
        {"unknown status on the second block", {with_status(fault(exchange_kind::block, 2), 0x5A)},
         "33 00 02 00 " + std::string(128, '0') + " 33 00 01 00 " + std::string(128, '0'),
         {{0, "CB"}, {0, "88"}, {0, "CC"}, {0, "5A"}}, false},
        {"delayed block", {late}, "33 00 01 00 " + std::string(128, '0'), {{30, "CC"}, {30, "88"}}, false},
        {"faults combined", {all_at_once}, "20 20", {{7, "C1"}, {7, "93"}}, false},
        {"status faults leave erases alone", {with_status(fault(exchange_kind::status, 1), 0x91)}, "20 20",
         {{0, "C0"}, {0, "88"}}, true},
    };
    for (const auto& r : rows) {
        chip_model chip(with_faults(r.faults));
        bring_up(chip);
        chip.flash().program(0, 0x0000, std::array<std::uint8_t, 1>{0x00});
        chip.receive(bytes_of(r.commands), 0);
        EXPECT_EQ(writes_until_quiet(chip), r.answers) << r.name;
        EXPECT_EQ(chip.flash().sector(0)[0], r.sector_0_erased ? 0xFF : 0x00) << r.name;
    }
}

TEST(chip_faults, a_block_not_carried_out_leaves_the_flash_alone)
{
    chip_model chip(with_faults({with_status(fault(exchange_kind::block, 1), 0x94)}));
    bring_up(chip);
    EXPECT_EQ(answer_to(chip, block(0, 0x0100, bytes_of("12"))), "BA 94");
    EXPECT_EQ(chip.flash().sector(0)[0x100], 0xFF);
}

TEST(chip_faults, a_dropped_link_carries_nothing_more)
{
    auto drop = fault(exchange_kind::erase, 1);
    drop.drop = true;
    drop.delay_ms = 10;
    chip_model chip(with_faults({drop}));
    bring_up(chip);
    chip.receive(bytes_of("40 40 20 21"), 0);
    EXPECT_EQ(writes_until_quiet(chip), (std::vector<timed>{{0, "00"}, {0, "10"}, {0, "80"}, {0, "88"}}));
    EXPECT_TRUE(chip.link_dropped());
    EXPECT_EQ(chip.flash().sector(1)[0], 0xFF);
    chip.receive(bytes_of("40 40"), 20);
    EXPECT_TRUE(chip.take_output(30).empty());
    EXPECT_EQ(chip.next_event_ms(), std::nullopt);
}

}  // namespace
