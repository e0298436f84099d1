#include <gtest/gtest.h>

#include "bootstrap/loader_images.h"
#include "chip_model.h"
#include "support_chip.h"

namespace {

using namespace fernwick::sim;
using namespace fernwick::sim::testing;
using fernwick::bootstrap::first_loader_bytes;
using fernwick::bootstrap::main_program_bytes;

const std::string zero(1, '\0');

const std::string bsl_code_1 = bytes_of(
    "A55AA5A5E60940FAE60B40FAE60A0CFAE60800FA8AE2FEB06FA49AE2FEB06EA4F20748FE26072400E6F148005B11F25A0EFEAFE2"
    "AFE3E6D80180E658D5009AB6");
const std::string bsl_code_2_block =
    bytes_of("FE707EB64FD8E6F040FA9AB7FE70A400B2FE7EB786F05FFA3DF8FA0040FACC00") + std::string(32, '\0');

std::string with_byte_changed(std::string bytes, std::size_t at)
{
    bytes[at] = static_cast<char>(bytes[at] ^ 0x01);
    return bytes;
}

TEST(chip_model, bootstrap_loader_answers_only_the_exact_images)
{
    struct row {
        const char* name;
        chip_config config;
        std::vector<std::string> writes;
        std::vector<std::string> answers;
        chip_phase phase;
    };
    const auto with = [](auto change) {
        chip_config c;
        change(c);
        return c;
    };
    const std::vector<row> rows = {
        {"bring-up", {}, {zero, first_loader_bytes(), main_program_bytes()}, {"D5", "22", "11"}, chip_phase::resident},
        {"another identification byte", with([](chip_config& c) { c.id_byte = 0xC5; }), {zero}, {"C5"},
         chip_phase::receiving_loader},
        {"no identification byte, loader still taken", with([](chip_config& c) { c.id_byte.reset(); }),
         {zero, first_loader_bytes()}, {"", "22"}, chip_phase::receiving_program},
        {"zero byte echoed", with([](chip_config& c) { c.echo_zero = true; }), {zero}, {"00 D5"},
         chip_phase::receiving_loader},
        {"first byte not zero", {}, {"\x01", zero, first_loader_bytes()}, {"", "", ""}, chip_phase::halted},
        {"loader one bit off", {}, {zero, with_byte_changed(first_loader_bytes(), 31), main_program_bytes()},
         {"D5", "", ""}, chip_phase::halted},
        {"loader in two writes", {}, {zero, first_loader_bytes().substr(0, 5), first_loader_bytes().substr(5)},
         {"D5", "", "22"}, chip_phase::receiving_program},
        {"program one bit off", {}, {zero, first_loader_bytes(), with_byte_changed(main_program_bytes(), 0)},
         {"D5", "22", ""}, chip_phase::halted},
        {"program one byte short", {}, {zero, first_loader_bytes(), main_program_bytes().substr(1)},
         {"D5", "22", ""}, chip_phase::receiving_program},
        {"wrong loader acknowledge", with([](chip_config& c) { c.loader_ack = 0x11; }),
         {zero, first_loader_bytes(), main_program_bytes()}, {"D5", "11", "11"}, chip_phase::resident},
        {"no loader acknowledge", with([](chip_config& c) { c.loader_ack.reset(); }),
         {zero, first_loader_bytes()}, {"D5", ""}, chip_phase::receiving_program},
        {"wrong program acknowledge", with([](chip_config& c) { c.program_ack = 0x22; }),
         {zero, first_loader_bytes(), main_program_bytes()}, {"D5", "22", "22"}, chip_phase::resident},
        {"no program acknowledge", with([](chip_config& c) { c.program_ack.reset(); }),
         {zero, first_loader_bytes(), main_program_bytes()}, {"D5", "22", ""}, chip_phase::resident},
    };
    for (const auto& r : rows) {
        chip_model chip(r.config);
        std::vector<std::string> answers;
        for (const auto& w : r.writes) answers.push_back(answer_to(chip, w));
        EXPECT_EQ(answers, r.answers) << r.name;
        EXPECT_EQ(chip.phase(), r.phase) << r.name;
    }
}

TEST(chip_model, a_halted_chip_stays_silent_until_the_board_is_reset)
{
    chip_model chip;
    answer_to(chip, zero + with_byte_changed(first_loader_bytes(), 3));
    EXPECT_EQ(answer_to(chip, zero + first_loader_bytes()), "");
    chip.board_reset();
    EXPECT_EQ(answer_to(chip, zero), "D5");
}

TEST(chip_model, resident_program_answers_the_commands)
{
    struct row {
        const char* command;
        const char* answer;
    };
    const std::vector<row> rows = {
        {"40 40", "00 10 80 88"}, {"40 41", "01 11 7F 88"}, {"40 42", "02 12 7E 88"}, {"40 43", "03 13 7D 88"},
        {"40 44", "94"},          {"40 3F", "94"},          {"20 20", "C0 88"},       {"20 21", "BF 88"},
        {"20 22", "BE 88"},       {"20 23", "BD 88"},       {"20 24", "94"},          {"55", "91"},
        {"66", "91"},             {"FF", "91"},             {"00", "12"},
    };
    for (const auto& r : rows) {
        chip_model chip;
        bring_up(chip);
        EXPECT_EQ(answer_to(chip, bytes_of(r.command)), r.answer) << r.command;
    }
}

TEST(chip_model, status_registers_are_configurable)
{
    chip_config config;
    config.sector_status[1] = {0x0A, 0x00};
    chip_model chip(config);
    bring_up(chip);
    EXPECT_EQ(answer_to(chip, bytes_of("40 41")), "0A 00 7F 88");
}

TEST(chip_model, blocks_are_answered_by_their_checksum_and_status)
{
    struct row {
        const char* name;
        std::string command;
        const char* answer;
    };
    const std::vector<row> rows = {
        {"bootstrap code 1 in sector 0", block(0, 0x0000, bsl_code_1), "B1 88"},
        {"bootstrap code 2 in sector 0", block(0, 0x0040, bsl_code_2_block), "68 88"},
        {"bootstrap code 1 in sector 2", block(2, 0x0000, bsl_code_1), "AF 88"},
        {"bootstrap code 2 in sector 2", block(2, 0x0040, bsl_code_2_block), "66 88"},
        {"block with data", block(0, 0x0100, bytes_of("00 00 11 22 33 44")), "22 88"},
        {"sum a multiple of 256", block(0, 0x0000, bytes_of("CD")), "00 88"},
    };
    for (const auto& r : rows) {
        chip_model chip;
        bring_up(chip);
        EXPECT_EQ(answer_to(chip, r.command), r.answer) << r.name;
    }
}

TEST(chip_model, a_block_arrives_in_any_number_of_writes)
{
    chip_model chip;
    bring_up(chip);
    const auto command = block(0, 0x0100, bytes_of("00 00 11 22 33 44"));
    std::string answer;
    answer += answer_to(chip, command.substr(0, 1));
    answer += answer_to(chip, command.substr(1, 3));
    for (std::size_t i = 4; i < command.size(); ++i) answer += answer_to(chip, command.substr(i, 1));
    EXPECT_EQ(answer, "22 88");
    EXPECT_EQ(chip.flash().sector(0)[0x102], 0x11);
    EXPECT_EQ(chip.flash().sector(0)[0x105], 0x44);
}

TEST(chip_model, flash_is_written_like_flash)
{
    struct row {
        const char* name;
        int segment;
        int offset;
        const char* second_data;  // written after the block 0F F0 at the same place
        const char* status;
        int sector;
        std::size_t at;
        const char* after;  // the first two bytes there afterwards
    };
    const std::vector<row> rows = {
        {"clearing bits", 0, 0x0000, "0E 00", "88", 0, 0x0000, "0E 00"},
        {"same bytes again", 1, 0x8000, "0F F0", "88", 1, 0x0000, "0F F0"},
        {"a bit back to 1", 2, 0x0040, "0F F1", "93", 2, 0x0040, "0F F0"},
        {"end of sector 3", 2, 0xFFC0, "0F 00", "88", 3, 0x7FC0, "0F 00"},
        {"segment 0 upper half", 0, 0x8000, "00", "94", 0, 0x0000, "FF FF"},
        {"segment 1 lower half", 1, 0x0000, "00", "94", 1, 0x0000, "FF FF"},
        {"segment 3", 3, 0x0000, "00", "94", 0, 0x0000, "FF FF"},
        {"across the end of sector 0", 0, 0x7FC1, "00", "94", 0, 0x7FC1, "FF FF"},
        {"across sectors 2 and 3", 2, 0x7FE0, "00", "94", 2, 0x7FE0, "FF FF"},
    };
    for (const auto& r : rows) {
        chip_model chip;
        bring_up(chip);
        const bool first_fits = sector_of(r.segment, r.offset) == sector_of(r.segment, r.offset + 63);
        if (first_fits && sector_of(r.segment, r.offset)) {
            ASSERT_EQ(answer_to(chip, block(r.segment, r.offset, bytes_of("0F F0"))).substr(3), "88") << r.name;
        }
        const auto answer = answer_to(chip, block(r.segment, r.offset, bytes_of(r.second_data)));
        EXPECT_EQ(answer.substr(3), r.status) << r.name;
        const auto there = chip.flash().sector(r.sector).subspan(r.at, 2);
        EXPECT_EQ(hex_of(std::string(there.begin(), there.end())), r.after) << r.name;
    }
}

TEST(chip_model, erase_sets_only_its_sector_to_ff)
{
    chip_model chip;
    bring_up(chip);
    for (const auto& [segment, offset] : std::vector<std::pair<int, int>>{{0, 0}, {1, 0x8000}, {2, 0}, {2, 0x8000}})
        answer_to(chip, block(segment, offset, bytes_of("00")));
    EXPECT_EQ(answer_to(chip, bytes_of("20 22")), "BE 88");
    EXPECT_EQ(chip.flash().sector(0)[0], 0x00);
    EXPECT_EQ(chip.flash().sector(1)[0], 0x00);
    EXPECT_EQ(chip.flash().sector(2)[0], 0xFF);
    EXPECT_EQ(chip.flash().sector(3)[0], 0x00);
}

TEST(chip_model, software_reset_returns_to_the_bootstrap_loader)
{
    chip_model chip;
    bring_up(chip);
    EXPECT_EQ(answer_to(chip, zero), "12");
    EXPECT_EQ(chip.phase(), chip_phase::awaiting_zero);
    EXPECT_EQ(answer_to(chip, zero), "D5");
    EXPECT_EQ(answer_to(chip, first_loader_bytes()), "22");
    EXPECT_EQ(answer_to(chip, main_program_bytes()), "11");
    EXPECT_EQ(answer_to(chip, bytes_of("40 40")), "00 10 80 88");
}

TEST(chip_model, board_reset_forgets_a_half_received_command)
{
    chip_model chip;
    bring_up(chip);
    answer_to(chip, bytes_of("33 00"));
    chip.board_reset();
    EXPECT_EQ(answer_to(chip, zero), "D5");
}

TEST(chip_model, records_every_byte_the_host_wrote)
{
    chip_model chip;
    bring_up(chip);
    answer_to(chip, bytes_of("40 40 55"));
    EXPECT_EQ(chip.received(), zero + first_loader_bytes() + main_program_bytes() + bytes_of("40 40 55"));
    chip.clear_received();
    EXPECT_TRUE(chip.received().empty());
}

TEST(chip_model, flash_image_loads_only_at_full_size)
{
    flash_memory flash;
    std::vector<std::uint8_t> image(k_flash_size, 0x5A);
    image[k_sector_size * 3] = 0x01;
    EXPECT_FALSE(flash.load(std::span(image).first(k_flash_size - 1)));
    EXPECT_EQ(flash.sector(0)[0], 0xFF);
    EXPECT_TRUE(flash.load(image));
    EXPECT_EQ(flash.sector(3)[0], 0x01);
    EXPECT_EQ(flash.image(), image);
}

}  // namespace
