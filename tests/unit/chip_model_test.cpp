#include <gtest/gtest.h>

#include <QByteArray>
#include <QCryptographicHash>

#include "bootstrap/loader_images.h"
#include "chip_model.h"
#include "programming/bsl_code.h"

namespace {

using namespace fernwick::sim;
namespace bootstrap = fernwick::bootstrap;

const std::string zero_byte(1, '\0');

// "A5 5A" or "A55A" to the bytes A5h 5Ah.
std::string bytes_of(const std::string& hex)
{
    std::string bytes;
    for (std::size_t i = 0; (i = hex.find_first_not_of(' ', i)) != std::string::npos; i += 2)
        bytes.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return bytes;
}

std::string hex_of(const std::string& bytes, const char* between = " ")
{
    std::string text;
    for (const char c : bytes) {
        char pair[3];
        std::snprintf(pair, sizeof pair, "%02X", static_cast<unsigned char>(c));
        text += (text.empty() ? "" : between) + std::string(pair);
    }
    return text;
}

// Zero byte, first-level loader and main program.
std::string bring_up_bytes() { return zero_byte + bootstrap::first_loader_bytes() + bootstrap::main_program_bytes(); }

// The block command: 33h, segment, address high and low, 64 data bytes.
std::string block(int segment, int offset, const std::string& data)
{
    std::string command = {'\x33', static_cast<char>(segment), static_cast<char>(offset >> 8),
                           static_cast<char>(offset & 0xFF)};
    command += data;
    command.resize(4 + k_block_size, '\0');
    return command;
}

// Every write of the chip until it is quiet: its bytes run together, then
// "@ms" when it arrives after `since`; blanks between writes.
std::string heard(chip_model& chip, int since = 0)
{
    std::string text;
    while (const auto next = chip.next_event_ms())
        for (const auto& w : chip.take_output(*next)) {
            text += (text.empty() ? "" : " ") + hex_of(w.bytes, "");
            if (w.arrival_ms != since) text += "@" + std::to_string(w.arrival_ms - since);
        }
    return text;
}

// What the chip answers to bytes sent at the end of its last answer.
std::string answer_to(chip_model& chip, const std::string& bytes)
{
    const int now = chip.now_ms();
    chip.receive(bytes, now);
    return heard(chip, now);
}

void bring_up(chip_model& chip) { answer_to(chip, bring_up_bytes()); }

using fernwick::bootstrap::first_loader_bytes;
using fernwick::bootstrap::main_program_bytes;

std::string sha256(const std::string& bytes)
{
    const QByteArray data(bytes.data(), static_cast<qsizetype>(bytes.size()));
    return QCryptographicHash::hash(data, QCryptographicHash::Sha256).toHex().toStdString();
}

// The images the tool sends, pinned by their hashes; the chip model takes
// only these.
TEST(chip_model, bootstrap_loader_answers_only_the_exact_images)
{
    struct row {
        const char* name;
        std::vector<std::string> writes, answers;
        chip_phase phase;
    };
    const auto loader = first_loader_bytes();
    const auto program = main_program_bytes();
    auto bad_loader = loader;
    bad_loader[31] ^= 0x01;
    const std::vector<row> rows = {
        {"bring-up", {zero_byte, loader, program}, {"D5", "22", "11"}, chip_phase::resident},
        // A flash status reading sent to a fresh board: its loader takes a wrong rate until a board reset.
        {"first byte not zero", {"\x40\x40", zero_byte, loader}, {"FB", "", ""}, chip_phase::halted},
        {"loader one bit off", {zero_byte, bad_loader, program}, {"D5", "", ""}, chip_phase::halted},
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
    EXPECT_EQ(sha256(loader), "172fbc952ca8edea4824c39e899f0d57aa04b947cb7a40e294c180e909a0a18b");
    EXPECT_EQ(sha256(program), "a0cec083935a275474993a7644ad69f0052ed7677f34f2d18aff3e7742179d6e");
}

TEST(chip_model, resident_program_answers_the_documented_bytes)
{
    const auto code = [](std::string_view hex) { return bytes_of(std::string(hex)); };
    const std::vector<std::pair<std::string, const char*>> rows = {
        {bytes_of("40 40"), "00 10 80 88"},
        {bytes_of("40 44"), "94"},
        {bytes_of("20 21"), "BF 88"},
        {bytes_of("55"), "91"},
        {bytes_of("00"), "12"},
        {block(2, 0x0040, code(fernwick::programming::bsl_code_2)), "66 88"},
        {block(0, 0x0100, bytes_of("00 00 11 22 33 44")), "22 88"},
        {block(0, 0x0000, bytes_of("CD")), "00 88"},  // the sum is a multiple of 256
    };
    for (const auto& [command, answer] : rows) {
        chip_model chip;
        bring_up(chip);
        EXPECT_EQ(answer_to(chip, command), answer) << hex_of(command.substr(0, 4));
    }
}

// A USB adapter on the way to the host holds what it receives until its
// latency timer, started by the first byte it holds, runs out, or until 62
// bytes wait: then they all go at once.
TEST(chip_model, an_adapter_holds_the_answers_until_its_timer_runs_out_or_a_packet_is_full)
{
    const std::string status = bytes_of("40 40"), answer = "00 10 80 88";
    std::string sixteen_status, fifteen_answers;
    for (int i = 0; i < 16; ++i) sixteen_status += status;
    for (int i = 0; i < 15; ++i) fifteen_answers += answer + " ";
    const std::vector<std::pair<std::string, std::string>> rows = {
        {status, "00@16 10@16 80@16 88@16"},
        {sixteen_status, fifteen_answers + "00 10 80@16 88@16"},
    };
    for (const auto& [command, heard_then] : rows) {
        chip_model chip({.timing = {.adapter_latency_ms = 16}});
        bring_up(chip);
        EXPECT_EQ(answer_to(chip, command), heard_then);
    }
}

TEST(chip_model, flash_only_clears_bits_within_one_sector)
{
    struct row {
        const char* name;
        int segment, offset;
        const char *data, *status;  // written after a block starting 0F F0 at the same place, and its status byte
        int sector;
        std::size_t at;
        const char* after;  // the first two bytes there afterwards
    };
    const std::vector<row> rows = {
        {"clearing bits", 0, 0x0000, "0E 00", "88", 0, 0x0000, "0E 00"},
        {"same bytes again", 1, 0x8000, "0F F0", "88", 1, 0x0000, "0F F0"},
        {"a bit back to 1", 2, 0x0040, "0F F1", "93", 2, 0x0040, "0F F0"},
        {"end of sector 3", 2, 0xFFC0, "0F 00", "88", 3, 0x7FC0, "0F 00"},
        {"segment 1 lower half", 1, 0x0000, "00", "94", 1, 0x0000, "FF FF"},
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

}  // namespace
