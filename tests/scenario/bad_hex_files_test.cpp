// Files an operator may pick by mistake as the hex file, taken through the
// whole run on the simulated board (a folder or a missing name is turned
// away at the choice, as the location flow tests show): each ends in its documented outcome,
// and a file that cannot be converted sends nothing to the chip.

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "programming/block_layout.h"
#include "programming/block_record.h"
#include "programming/flash_exchange.h"
#include "scripted.h"
#include "sim_app.h"

namespace {

namespace fs = std::filesystem;
using namespace fernwick;
using namespace fernwick::test_support;

enum class outcome { cancelled_at_load, damaged_at_ok, programmed, conversion_error };

fs::path write_text(const fs::path& file, const std::string& text)
{
    std::ofstream(file, std::ios::binary) << text;
    return file;
}

// Sector 1 at 01'8000h and sector 3 at 02'9000h, one block each; the lines
// end in turn with CR LF, LF and a lone CR, a blank line among them, and the
// end record follows unless the file is cut short.
fs::path good_file(const fs::path& dir, bool cut_short = false)
{
    const std::vector<int> sixteen(16, 0x5A);
    const std::string lines[] = {linear_segment(1), hex_record(0, 0x8000, sixteen), " ",
                                 linear_segment(2), hex_record(0, 0x9000, sixteen), ":00000001FF"};
    const char* const ends[] = {"\r\n", "\n", "\r"};
    std::string text;
    for (int i = 0; i < (cut_short ? 5 : 6); ++i) text += lines[i] + ends[i % 3];
    return write_text(dir / "app.hex", text);
}

// Random bytes, NULs among them, from a fixed seed so that every run reads
// the same file.
fs::path binary_file(const fs::path& dir)
{
    std::mt19937 random(20240601);
    std::string bytes(64 * 1024, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i)
        if (i % 1000 >= 16) bytes[i] = static_cast<char>(random() & 0xFF);
    return write_text(dir / "firmware.bin", bytes);
}

// Sector 1 written whole, then again and again with other bytes, 8 MB in
// all: every later record starts below the end of what the sector took,
// so the reading must stream past them without holding the file.
fs::path huge_file(const fs::path& dir)
{
    const auto copy = [](int value) {
        std::string text = linear_segment(1) + "\r\n";
        for (int offset = 0x8000; offset < 0x10000; offset += 16)
            text += hex_record(0, offset, std::vector<int>(16, value)) + "\r\n";
        return text;
    };
    const std::string first = copy(0x11), later = copy(0xEE);
    std::ofstream out(dir / "huge.hex", std::ios::binary);
    out << first;
    for (std::size_t size = first.size(); size < 8u * 1024 * 1024; size += later.size()) out << later;
    out << ":00000001FF\r\n";
    return dir / "huge.hex";
}

// One byte at 01'xxxxh: in sector 1 from 8000h on, below it in no sector.
fs::path sector1_byte(const fs::path& file, int offset)
{
    return write_hex(file, {linear_segment(1), hex_record(0, offset, {1}), ":00000001FF"});
}

struct bad_file {
    std::string name;
    // Makes the file in the folder and gives the path the operator chooses.
    std::function<fs::path(const fs::path& dir)> make;
    outcome expected;
    // Of a programmed run: the sectors erased and the blocks sent.
    std::vector<int> erased = {};
    int blocks = 0;
    // Of a refused file, after the path of the hex file.
    std::vector<std::string> error_lines = {};
    bool gone_before_program = false;
    int bsl_now = 2;
    std::string notice = {};  // a line the log shows after OK
};

// A notice block and the advice after it, as the log ends after a run.
std::string ending(const std::string& line)
{
    return block({line}, bar) + le + le + "                       You can continue with another operation..." + le + le;
}

// The erases the wire carried: 20h and the sector, between 68-byte blocks.
std::vector<int> erases(const core::byte_string& wire)
{
    std::vector<int> seen;
    for (std::size_t i = 0; i + 1 < wire.size(); i += wire[i] == '\x20' ? 2 : 68)
        if (wire[i] == '\x20') seen.push_back(static_cast<int>(wire[i + 1]) - 0x20);
    return seen;
}

// Every block of the block file stands in the chip's flash.
void expect_blocks_in_flash(sim_app& app, int count)
{
    std::ifstream in(app.state.new_file_name, std::ios::binary);
    int blocks = 0;
    for (std::string line; std::getline(in, line); ++blocks) {
        const auto r = programming::read_block_record(line);
        ASSERT_TRUE(r) << line;
        const auto bytes = programming::decode_block(r->data);
        const auto flash = app.board.chip().flash().sector(r->sector);
        const auto at = r->address - programming::sector_range(r->sector, 0).first;
        EXPECT_TRUE(std::equal(bytes->begin(), bytes->end(), flash.begin() + at)) << line.substr(0, 12);
    }
    EXPECT_EQ(blocks, count);
}

const std::string k_damaged = "     The Hex-file is damaged : ";

const bad_file k_bad_files[] = {
    {"empty_file",
     [](const fs::path& d) { return write_text(d / "app.hex", ""); },
     outcome::damaged_at_ok,
     {},
     0,
     {k_damaged, "     The file holds no record at all"},
     false,
     0},
    {"binary_file",
     binary_file,
     outcome::damaged_at_ok,
     {},
     0,
     {k_damaged, "     Line 1 does not begin with ':' as a record does"}},
    {"huge_file", huge_file, outcome::programmed, {1}, programming::k_blocks_per_sector},
    {"mixed_line_ends_and_a_blank_line",
     [](const fs::path& d) { return good_file(d); },
     outcome::programmed,
     {1, 3},
     2},
    {"cut_short",
     [](const fs::path& d) { return good_file(d, true); },
     outcome::damaged_at_ok,
     {},
     0,
     {k_damaged, "     Line 5 ends the file without an end record (type 01): the file may be cut short"}},
    // With sector 0 mapped to segment 0, data at 01'0000h lands in no sector.
    {"data_where_no_sector_is",
     [](const fs::path& d) { return sector1_byte(d / "app.hex", 0x100); },
     outcome::programmed,
     {},
     0,
     {},
     false,
     2,
     "     This Hex-file has no data for any flash sector with Sector 0 mapped to Segment 0 (00'0000h - 00'7FFFh) !"},
    {"a_named_pipe",
     [](const fs::path& d) {
         ::mkfifo((d / "p.hex").c_str(), 0600);
         return d / "p.hex";
     },
     outcome::cancelled_at_load},
    {"a_device_without_end", [](const fs::path&) { return fs::path("/dev/zero"); }, outcome::cancelled_at_load},
    {"no_read_permission",
     [](const fs::path& d) {
         const auto file = good_file(d);
         fs::permissions(file, fs::perms::none);
         return file;
     },
     outcome::cancelled_at_load},
    {"gone_before_program",
     [](const fs::path& d) { return good_file(d); },
     outcome::conversion_error,
     {},
     0,
     {"     The Hex-file cannot be read : ", "     No such file or directory"},
     true},
    {"a_hex_file_named_as_its_block_file",
     [](const fs::path& d) { return sector1_byte(d / "app.NEW", 0x8000); },
     outcome::conversion_error,
     {},
     0,
     {"     The Hex-file would be overwritten by its converted file : ", "     Please rename the Hex-file !"}},
};

class bad_hex_files : public ::testing::TestWithParam<bad_file> {};

TEST_P(bad_hex_files, end_in_their_documented_outcome)
{
    const bad_file& r = GetParam();
    if (r.name == "no_read_permission" && ::geteuid() == 0) GTEST_SKIP() << "root reads it anyway";
    const auto dir = test::scratch_dir();
    const auto chosen = r.make(dir);
    sim_app app;
    ASSERT_TRUE(app.command_phase());
    const auto mark = app.board.received().size();

    // The operator's steps, each only while its window is shown.
    programming::load_hex__Click(app.state, chosen.string());
    if (app.state.LocationForm.visible) {
        (r.bsl_now == 0 ? programming::sect0_Click : programming::sect2_Click)(app.state);
        programming::LocationForm_Command1_Click(app.state);
        EXPECT_NE(app.state.log().text().find(r.notice), std::string::npos) << app.state.log().text();
        if (app.state.ConfirmForm.visible) {
            if (r.gone_before_program) fs::remove(chosen);
            programming::program_button_Click(app.state);
        }
    }
    const std::string& log = app.state.log().text();
    const auto sent = app.received_since(mark);
    EXPECT_TRUE(app.command_phase());
    EXPECT_TRUE(app.state.mainform.enabled);
    EXPECT_FALSE(app.state.LocationForm.visible || app.state.ConfirmForm.visible);
    if (r.expected == outcome::programmed) {
        EXPECT_TRUE(log.ends_with(ending("                        Programming sucessfully finished !")))
            << log.substr(log.size() - std::min<std::size_t>(log.size(), 2000));
        EXPECT_EQ(erases(sent), r.erased);
        expect_blocks_in_flash(app, r.blocks);
        EXPECT_TRUE(r.bsl_now != 0 || holds_bsl_code(app.board, 2));  // the code moved
    } else {
        EXPECT_EQ(sent, "");
        std::string error = le + star;
        for (std::size_t i = 0; i < r.error_lines.size(); ++i)
            error += le + r.error_lines[i] + (i == 0 ? chosen.string() : "");
        EXPECT_TRUE(log.ends_with(r.expected == outcome::cancelled_at_load
                                      ? ending("                Operation cancelled or this File name doesn't exist !")
                                      : error + le + star + le))
            << log.substr(log.size() - std::min<std::size_t>(log.size(), 2000));
    }
    std::error_code ec;
    fs::remove_all(dir, ec);
}

INSTANTIATE_TEST_SUITE_P(by_mistake, bad_hex_files, ::testing::ValuesIn(k_bad_files),
                         [](const auto& info) { return info.param.name; });

}  // namespace
