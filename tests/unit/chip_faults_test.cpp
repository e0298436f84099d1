// The faults a chip can be given, the line that dies at a given host byte,
// and the time its bytes take.

#include <gtest/gtest.h>

#include "support_chip.h"

namespace {

using namespace fernwick::sim;
using namespace fernwick::sim::testing;

// The first bytes of sectors 0 and 1: whether an erase of sector 0 or a
// block into sector 1 was carried out.
std::string marks(const chip_model& chip)
{
    return hex_of({static_cast<char>(chip.flash().sector(0)[0]), static_cast<char>(chip.flash().sector(1)[0])});
}

TEST(chip_faults, each_fault_turns_the_answers_as_configured)
{
    struct row {
        const char* name;
        chip_config config;
        std::string sent;
        const char* heard;
        bool dropped = false;
        chip_phase phase = chip_phase::resident;
        const char* marks = "00 FF";  // sector 0 starts programmed
    };
    const auto up = bring_up_bytes();
    const auto block_12 = block(1, 0x8000, bytes_of("12"));  // made before `using enum` hides block()
    using enum exchange_kind;
    const std::vector<row> rows = {
        {"no identification byte, the loader still taken", {.id_byte = std::nullopt}, up, "22 11"},
        {"another identification byte", {.id_byte = 0xC5}, up, "C5 22 11"},
        {"the zero byte echoed", {.echo_zero = true}, up, "00 D5 22 11"},
        {"wrong loader acknowledge", {.loader_ack = 0xDD}, up, "D5 DD 11"},
        {"no loader acknowledge", {.loader_ack = std::nullopt}, up, "D5 11"},
        {"wrong program acknowledge", {.program_ack = 0xEE}, up, "D5 22 EE"},
        {"no program acknowledge", {.program_ack = std::nullopt}, up, "D5 22"},
        {"bring-up faults in the first bring-up only",
         {.id_byte = 0xC5, .echo_zero = true, .loader_ack = 0xDD, .program_ack = 0xEE, .faulty_bring_ups = 1},
         up + zero_byte + up,
         "00 C5 DD EE 12 D5 22 11"},
        {"wrong checksum in the second status",
         {.faults = {{.kind = status, .nth = 2, .wrong_checksum = true}}},
         up + bytes_of("40 40 40 41"),
         "D5 22 11 00 10 80 88 01 11 80 88"},
        {"another status byte: not erased",
         {.faults = {{.kind = erase, .status = 0x93}}},
         up + bytes_of("20 20"),
         "D5 22 11 C0 93"},
        {"another status byte: not written",
         {.faults = {{.kind = block, .status = 0x94}}},
         up + block_12,
         "D5 22 11 3A 94"},
        {"a silent erase, not carried out; the status after it answered",
         {.faults = {{.kind = erase, .silence = true}}},
         up + bytes_of("20 20 40 40"),
         "D5 22 11 00 10 80 88"},
        {.name = "a late block, written",
         .config = {.faults = {{.kind = block, .delay_ms = 30}}},
         .sent = up + block_12,
         .heard = "D5 22 11 3A@30 88@30",
         .marks = "00 12"},
        {"faults of one exchange combine",
         {.faults = {{.kind = erase, .wrong_checksum = true},
                     {.kind = erase, .status = 0x93},
                     {.kind = erase, .delay_ms = 3},
                     {.kind = erase, .delay_ms = 4},
                     {.kind = erase, .repeat = true}}},
         up + bytes_of("20 20"),
         "D5 22 11 C1@7 93@7 C1@7 93@7"},
        {"an erase answered twice, carried out once",
         {.faults = {{.kind = erase, .repeat = true}}},
         up + bytes_of("20 20"),
         "D5 22 11 C0 88 C0 88",
         false,
         chip_phase::resident,
         "FF FF"},
        {"a reset confirmed twice",
         {.faults = {{.kind = reset, .repeat = true}}},
         up + zero_byte,
         "D5 22 11 12 12",
         false,
         chip_phase::awaiting_zero},
        {"the line dropped instead of an erase's answer",
         {.faults = {{.kind = erase, .delay_ms = 10, .drop = true}}},
         up + bytes_of("40 40 20 20 40 40"),
         "D5 22 11 00 10 80 88",
         true},
        // A chip that did not reset still serves commands.
        {"wrong reset confirmation",
         {.faults = {{.kind = reset, .status = 0x13}}},
         up + bytes_of("00 40 40 00"),
         "D5 22 11 13 00 10 80 88 12",
         false,
         chip_phase::awaiting_zero},
        {"line dead from the zero byte", {.drop_at_byte = 1}, up, "", true, chip_phase::receiving_loader},
        {"line dead from the loader's last byte, its acknowledge lost",
         {.drop_at_byte = 33},
         up,
         "D5",
         true,
         chip_phase::receiving_program},
        {.name = "line dead from an erase's last byte: erased, the answer lost",
         .config = {.drop_at_byte = up.size() + 2},
         .sent = up + bytes_of("20 20 40 40"),
         .heard = "D5 22 11",
         .dropped = true,
         .marks = "FF FF"},
        {"line dead from a command's first byte, the answers before it kept",
         {.drop_at_byte = up.size() + 3},
         up + bytes_of("40 40 40 41"),
         "D5 22 11 00 10 80 88",
         true},
        {"line to die after the bytes sent", {.drop_at_byte = up.size() + 1}, up, "D5 22 11"},
    };
    for (const auto& r : rows) {
        chip_model chip(r.config);
        chip.flash().program(0, 0x0000, std::array<std::uint8_t, 1>{0x00});
        chip.receive(r.sent, 0);
        EXPECT_EQ(heard(chip), r.heard) << r.name;
        EXPECT_EQ(chip.link_dropped(), r.dropped) << r.name;
        EXPECT_EQ(chip.phase(), r.phase) << r.name;
        EXPECT_EQ(marks(chip), r.marks) << r.name;
        // Bytes after the last one the line carries never reach the chip.
        EXPECT_EQ(chip.received(), r.sent.substr(0, r.config.drop_at_byte.value_or(r.sent.size()))) << r.name;
    }
}

TEST(chip_faults, board_resets_neither_restart_the_count_of_host_bytes_nor_save_the_line)
{
    const auto up = bring_up_bytes();
    chip_model counted({.drop_at_byte = up.size() + 2});
    bring_up(counted);
    counted.board_reset();
    EXPECT_EQ(answer_to(counted, up), "D5");
    EXPECT_TRUE(counted.link_dropped());

    // The reset throws away the last byte the line carries while it is on its way.
    chip_model losing({.timing = {.line_rate = 9600}, .drop_at_byte = up.size() + 1});
    bring_up(losing);
    losing.receive(bytes_of("40"), losing.now_ms());
    losing.board_reset();
    EXPECT_TRUE(losing.link_dropped());
}

TEST(chip_timing, bytes_take_their_time_and_answers_are_grouped)
{
    struct row {
        const char* name;
        chip_config config;
        std::string sent;
        const char* heard;
    };
    const std::vector<row> rows = {
        // 10 bits at 9600 baud: 1.04 ms a byte, so the second command byte is in at 2.08 ms.
        {"status at 9600 baud", {.timing = {.line_rate = 9600}}, bytes_of("40 40"), "00@4 10@5 80@6 88@7"},
        {"erase time", {.timing = {.erase_ms = 500}}, bytes_of("20 21"), "BF 88@500"},
        {"program time", {.timing = {.program_ms = 20}}, block(0, 0x0100, ""), "CC 88@20"},
        {"a command waits for the erase",
         {.timing = {.erase_ms = 100}},
         bytes_of("20 20 40 43"),
         "C0 88@100 03@100 13@100 7D@100 88@100"},
        {"split answers", {.grouping = answer_grouping::split}, bytes_of("40 40"), "00 10@5 80@10 88@15"},
        {"joined answers", {.grouping = answer_grouping::joined}, bytes_of("40 40"), "00108088"},
        {"a joined answer waits for its last byte",
         {.timing = {.erase_ms = 300}, .grouping = answer_grouping::joined},
         bytes_of("20 22"),
         "BE88@300"},
    };
    for (const auto& r : rows) {
        chip_model chip(r.config);
        bring_up(chip);
        const int start = chip.now_ms() + 100;
        chip.receive(r.sent, start);
        EXPECT_EQ(heard(chip, start), r.heard) << r.name;
    }
}

}  // namespace
