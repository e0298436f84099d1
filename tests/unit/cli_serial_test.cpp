#include <gtest/gtest.h>
#include <sys/stat.h>

#include <limits>
#include <sstream>

#include "cli/options.h"
#include "hex_test_files.h"
#include "station/serial_numbers.h"

namespace {

using namespace hex_test;
using namespace fernwick::cli;
using namespace fernwick::station;
using bytes = std::vector<std::uint8_t>;

TEST(cli_serial, numbers_are_written_in_their_format_until_they_no_longer_fit)
{
    const auto max = std::numeric_limits<std::uint64_t>::max();
    const struct {
        serial_choice c;
        std::uint64_t index;
        const char* text;  // nullptr: used up
        bytes written = {};
    } rows[] = {
        {{.bytes = 4, .start = 1000}, 2, "1002", {0xEA, 0x03, 0, 0}},
        {{.bytes = 2, .format = serial_format::be, .step = 10}, 3, "31", {0x00, 0x1F}},
        {{.bytes = 3, .format = serial_format::bcd, .start = 1042}, 0, "1042", {0x00, 0x10, 0x42}},
        {{.bytes = 5, .format = serial_format::ascii, .start = 1042}, 0, "1042", {'0', '1', '0', '4', '2'}},
        {{.bytes = 1, .start = 250, .step = 3}, 2, nullptr},  // 256
        {{.bytes = 1, .format = serial_format::bcd, .start = 99}, 1, nullptr},
        {{.bytes = 2, .format = serial_format::ascii, .start = 99}, 1, nullptr},
        {{.bytes = 8, .start = max - 1}, 2, nullptr},  // beyond 64 bits
        {{.bytes = 2, .list_file = "l"}, 1, "1A:2B", {0x1A, 0x2B}},
        {{.bytes = 2, .list_file = "l"}, 2, nullptr},
    };
    const serial_list list = {{0x00, 0x01}, {0x1A, 0x2B}};
    for (const auto& r : rows) {
        const auto v = serial_number_at(r.c, list, r.index);
        ASSERT_EQ(v.has_value(), r.text != nullptr) << r.index;
        if (!v) continue;
        EXPECT_EQ(v->text, r.text);
        EXPECT_EQ(v->bytes, r.written);
    }
}

// The place is checked on the plan before any board is touched; a place
// that passes is in the blocks as 00h, and a board's number goes there.
TEST(cli_serial, the_place_must_be_free_in_one_programmed_sector_and_takes_each_boards_number)
{
    temp_folder folder;
    const auto hex = folder.file("app.hex", joined({linear(2), data(0x100, "55"), data(0x8000, "11223344"),
                                                    data(0x8100, "FFFF"), data(0x60, "66"), data(0xFFFF, "77")}));
    const std::pair<std::string, std::string> rows[] = {
        {"1FFF0h:4", "at 01'FFF0h-01'FFF3h lies in sector 1, which this run does not program"},
        {"02'0010h:4", "lies under the bootstrap loader code of sector 2"},
        {"0x28002:4", "is not free: the file gives 02'8002h (line 3) the byte 33h"},
        {"28100h:2", "the file gives 02'8100h (line 4) the byte FFh"},
        {"28100h:2 --serial-over 00", "the file gives 02'8100h (line 4) the byte FFh"},
        {"27FFEh:4", "straddles sectors 2 and 3"},
        {"28100h:2 --serial-over ff", ""},
        {"2803Eh:4:be", ""},  // two blocks
        // the code's last byte, and right behind it where only the file's byte stands in the way
        {"2005Fh:1", "lies under the bootstrap loader code of sector 2"},
        {"20060h:1", "is not free: the file gives 02'0060h (line 5) the byte 66h"},
        {"00'0010h:4 --bsl-target 0", "lies under the bootstrap loader code of sector 0"},
        // the last byte of sectors 1 and 3, a record of one byte there
        {"1FFFFh:1", "at 01'FFFFh lies in sector 1, which this run does not program"},
        {"2FFFFh:1", "is not free: the file gives 02'FFFFh (line 6) the byte 77h"},
    };
    for (const auto& [serial, why] : rows) {
        SCOPED_TRACE(serial);
        std::vector<std::string> args = {"program", hex, "--serial"};
        std::istringstream words(serial);
        for (std::string w; words >> w;) args.push_back(w);
        std::ostringstream out, err;
        int status = 0;
        const auto r = parse_command_line(args, out, err, status);
        ASSERT_TRUE(r) << err.str();
        std::ostream quiet(nullptr);
        const auto p = make_plan(r->choices, quiet, r->serial);
        EXPECT_NE(p.refusal.find(why), std::string::npos) << p.refusal;
        if (!why.empty() || !p.refusal.empty()) continue;
        const auto block = [&](const std::string& text, int offset) {
            const auto head = "3," + std::to_string(offset) + ",2,\"";
            const auto at = text.find(head);
            return at == std::string::npos ? "none" : text.substr(at + head.size(), 128);
        };
        const auto& text = p.conversion.block_text;
        const std::uint8_t number[] = {0xA1, 0xB2, 0xC3, 0xD4};
        const auto blocks = stamp({p.sectors, "app.NEW", text, p.conversion.block_count}, r->serial.address,
                                  {0, "x", bytes(number, number + r->serial.bytes)});
        ASSERT_TRUE(blocks);
        if (r->serial.bytes == 2) {
            EXPECT_EQ(block(text, 0x8100).substr(0, 4), "0000");  // the file's FFh give way to the number's place
            EXPECT_EQ(block(blocks->block_text, 0x8100).substr(0, 6), "A1B200");
        } else {
            EXPECT_EQ(block(blocks->block_text, 0x8000).substr(0, 8) + block(blocks->block_text, 0x8000).substr(124),
                      "11223344A1B2");
            EXPECT_EQ(block(blocks->block_text, 0x8040).substr(0, 6), "C3D400");
        }
    }
}

TEST(cli_serial, the_book_gives_the_lowest_number_given_back_first_and_says_when_it_is_used_up)
{
    memory_book book({.on = true, .bytes = 1, .start = 250, .step = 2}, {});
    std::string why;
    std::vector<std::string> given;
    for (int i = 0; i < 3; ++i) given.push_back(book.take(why)->text);
    EXPECT_EQ(given, (std::vector<std::string>{"250", "252", "254"}));
    for (const auto& [index, passed] : {std::pair{2, false}, {0, true}, {1, false}})
        EXPECT_TRUE(book.settle({std::uint64_t(index), "", {}}, passed, why));
    EXPECT_EQ(book.take(why)->text, "252");
    EXPECT_EQ(book.take(why)->text, "254");
    EXPECT_FALSE(book.take(why));
    EXPECT_EQ(why, "the serial numbers are used up: the next, 256, does not fit in 1 byte (le)");
}

TEST(cli_serial, a_list_is_read_as_written_and_refuses_a_value_given_twice)
{
    temp_folder folder;
    serial_choice c{.on = true, .bytes = 2, .list_file = folder.file("l.txt", "# made today\n00:1A\n\n2b3C  # last\n")};
    std::string why;
    EXPECT_EQ(read_serial_list(c, why), (serial_list{{0x00, 0x1A}, {0x2B, 0x3C}})) << why;
    c.list_file = folder.file("twice.txt", "00:1A\n00-1B\n001a\n");
    EXPECT_FALSE(read_serial_list(c, why));
    EXPECT_EQ(why, c.list_file + " line 3: 00:1A is listed before");
    // Neither a folder nor a FIFO is a list; a FIFO must not hold the run until a writer comes.
    ASSERT_EQ(::mkfifo(folder.path("fifo").c_str(), 0600), 0);
    for (const auto& [name, reason] : {std::pair{"", "Is a directory"}, {"fifo", "not a regular file"}}) {
        c.list_file = folder.path(name);
        EXPECT_FALSE(read_serial_list(c, why));
        EXPECT_EQ(why, "the serial list " + c.list_file + " cannot be read: " + reason);
    }
}

}  // namespace
