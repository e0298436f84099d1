#include <gtest/gtest.h>

#include "programming/bsl_code.h"
#include "support_chip.h"

namespace {

using namespace fernwick::sim;
using namespace fernwick::sim::testing;
using fernwick::bootstrap::first_loader_bytes;
using fernwick::bootstrap::main_program_bytes;

std::string with_bit_flipped(std::string bytes, std::size_t at)
{
    bytes[at] = static_cast<char>(bytes[at] ^ 0x01);
    return bytes;
}

TEST(chip_model, bootstrap_loader_answers_only_the_exact_images)
{
    struct row {
        const char* name;
        std::vector<std::string> writes;
        std::vector<std::string> answers;
        chip_phase phase;
    };
    const auto loader = first_loader_bytes();
    const auto program = main_program_bytes();
    const std::vector<row> rows = {
        {"bring-up", {zero_byte, loader, program}, {"D5", "22", "11"}, chip_phase::resident},
        {"first byte not zero", {"\x01", zero_byte, loader}, {"", "", ""}, chip_phase::halted},
        {"loader one bit off", {zero_byte, with_bit_flipped(loader, 31), program}, {"D5", "", ""}, chip_phase::halted},
        {"loader in two writes",
         {zero_byte, loader.substr(0, 5), loader.substr(5)},
         {"D5", "", "22"},
         chip_phase::receiving_program},
        {"program one bit off",
         {zero_byte, loader, with_bit_flipped(program, 0)},
         {"D5", "22", ""},
         chip_phase::halted},
        {"program one byte short",
         {zero_byte, loader, program.substr(1)},
         {"D5", "22", ""},
         chip_phase::receiving_program},
    };
    for (const auto& r : rows) {
        chip_model chip;
        std::vector<std::string> answers;
        for (const auto& w : r.writes) answers.push_back(answer_to(chip, w));
        EXPECT_EQ(answers, r.answers) << r.name;
        EXPECT_EQ(chip.phase(), r.phase) << r.name;
    }
}

TEST(chip_model, resident_program_answers_the_documented_bytes)
{
    const auto code = [](std::string_view hex) { return bytes_of(std::string(hex)); };
    const std::vector<std::pair<std::string, const char*>> rows = {
        {bytes_of("40 40"), "00 10 80 88"},
        {bytes_of("40 41"), "01 11 7F 88"},
        {bytes_of("40 42"), "02 12 7E 88"},
        {bytes_of("40 43"), "03 13 7D 88"},
        {bytes_of("40 44"), "94"},
        {bytes_of("40 3F"), "94"},
        {bytes_of("20 20"), "C0 88"},
        {bytes_of("20 21"), "BF 88"},
        {bytes_of("20 22"), "BE 88"},
        {bytes_of("20 23"), "BD 88"},
        {bytes_of("20 24"), "94"},
        {bytes_of("55"), "91"},
        {bytes_of("FF"), "91"},
        {bytes_of("00"), "12"},
        {block(0, 0x0000, code(fernwick::programming::bsl_code_1)), "B1 88"},
        {block(0, 0x0040, code(fernwick::programming::bsl_code_2)), "68 88"},
        {block(2, 0x0000, code(fernwick::programming::bsl_code_1)), "AF 88"},
        {block(2, 0x0040, code(fernwick::programming::bsl_code_2)), "66 88"},
        {block(0, 0x0100, bytes_of("00 00 11 22 33 44")), "22 88"},
        {block(0, 0x0000, bytes_of("CD")), "00 88"},  // the sum is a multiple of 256
    };
    for (const auto& [command, answer] : rows) {
        chip_model chip;
        bring_up(chip);
        EXPECT_EQ(answer_to(chip, command), answer) << hex_of(command.substr(0, 4));
    }
    chip_config config;
    config.sector_status[1] = {0x0A, 0x00};
    chip_model chip(config);
    bring_up(chip);
    EXPECT_EQ(answer_to(chip, bytes_of("40 41")), "0A 00 7F 88");
}

TEST(chip_model, flash_only_clears_bits_within_one_sector)
{
    struct row {
        const char* name;
        int segment;
        int offset;
        const char* data;  // written after a block starting 0F F0 at the same place
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
        answer_to(chip, block(r.segment, r.offset, bytes_of("0F F0")));
        EXPECT_EQ(answer_to(chip, block(r.segment, r.offset, bytes_of(r.data))).substr(3), r.status) << r.name;
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
    answer_to(chip, bytes_of("20 22"));
    for (int sector = 0; sector < k_sector_count; ++sector)
        EXPECT_EQ(chip.flash().sector(sector)[0], sector == 2 ? 0xFF : 0x00) << sector;
}

// Whatever the chip was doing, a reset leaves it ready for a fresh bring-up.
TEST(chip_model, resets_return_to_the_bootstrap_loader)
{
    struct row {
        const char* name;
        std::string sent;
        const char* answers;
        bool board_reset;
    };
    const std::vector<row> rows = {
        {"software reset", bring_up_bytes() + zero_byte, "D5 22 11 12", false},
        {"board reset amid a block", bring_up_bytes() + bytes_of("33 00"), "D5 22 11", true},
        {"board reset of a halted chip", "\x01" + zero_byte, "", true},
    };
    for (const auto& r : rows) {
        chip_model chip;
        EXPECT_EQ(answer_to(chip, r.sent), r.answers) << r.name;
        if (r.board_reset) chip.board_reset();
        EXPECT_EQ(chip.phase(), chip_phase::awaiting_zero) << r.name;
        EXPECT_EQ(answer_to(chip, bring_up_bytes() + bytes_of("40 40")), "D5 22 11 00 10 80 88") << r.name;
    }
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
}

}  // namespace
