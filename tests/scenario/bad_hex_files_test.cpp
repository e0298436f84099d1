// Files an operator may pick by mistake as the hex file, taken through the
// whole run on the simulated board: each ends in its documented outcome,
// and a file that cannot be converted sends nothing to the chip.

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
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

enum class outcome { cancelled_at_load, cancelled_at_ok, programmed, conversion_error };

const std::vector<int> sixteen = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
const std::string end_record = ":00000001FF";

// Sector 1 at 01'8000h and sector 3 at 02'9000h: two blocks, no code moved.
std::vector<std::string> good_lines()
{
    return {linear_segment(1), hex_record(0, 0x8000, sixteen), linear_segment(2), hex_record(0, 0x9000, sixteen)};
}

fs::path write_text(const fs::path& file, const std::string& text)
{
    std::ofstream(file, std::ios::binary) << text;
    return file;
}

fs::path good_file(const fs::path& dir, const std::string& line_end, bool with_end_record = true)
{
    auto lines = good_lines();
    if (with_end_record) lines.push_back(end_record);
    std::string text;
    for (const auto& line : lines) text += line + line_end;
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

// 100 MB: sector 1 written whole, then again and again with other bytes.
// The first copy is what the chip gets; every later record starts below
// the end of what the sector already took.
fs::path huge_file(const fs::path& dir)
{
    const auto copy = [](int value) {
        std::string text = linear_segment(1) + "\r\n";
        for (int offset = 0x8000; offset < 0x10000; offset += 16)
            text += hex_record(0, offset, std::vector<int>(16, value)) + "\r\n";
        return text;
    };
    const std::string first = copy(0x11), later = copy(0xEE);
    const auto file = dir / "huge.hex";
    std::ofstream out(file, std::ios::binary);
    out << first;
    for (std::size_t size = first.size(); size < 100u * 1024 * 1024; size += later.size()) out << later;
    out << end_record << "\r\n";
    return file;
}

struct bad_file {
    std::string name;
    // Makes the file in the folder and gives the path the operator chooses.
    std::function<fs::path(const fs::path& dir)> make;
    outcome expected;
    // Of a programmed run: the sectors erased (unchecked when absent) and
    // the blocks of the block file.
    std::optional<std::vector<std::string>> erases = {};
    int blocks = 0;
    // Of a conversion error; {hex} and {new} stand for the two file names.
    std::vector<std::string> error_lines = {};
    // What happens to the file after Load Hex-File and after OK.
    std::function<void(const fs::path&)> after_load = {};
    std::function<void(const fs::path&)> after_ok = {};
    int bsl_now = 2;
    bool needs_permissions = false;
};

std::string with_paths(std::string line, const std::string& hex, const std::string& new_file)
{
    for (const auto& [key, value] : {std::pair{std::string("{hex}"), hex}, std::pair{std::string("{new}"), new_file}}) {
        const auto at = line.find(key);
        if (at != std::string::npos) line.replace(at, key.size(), value);
    }
    return line;
}

const std::string k_continue = "                       You can continue with another operation...";

// A notice block and the advice after it, as the log ends after a run.
std::string ending(const std::string& line)
{
    return block({line}, bar) + le + le + k_continue + le + le;
}

// A folder of its own, removed with everything in it, the huge file too.
class temp_folder {
public:
    explicit temp_folder(const std::string& name)
        : path_(fs::temp_directory_path() / ("fernwick_bad_hex_" + std::to_string(::getpid())) / name)
    {
        fs::remove_all(path_);
        fs::create_directories(path_);
    }
    ~temp_folder()
    {
        std::error_code ec;
        fs::permissions(path_, fs::perms::owner_all, ec);
        fs::remove_all(path_.parent_path(), ec);
    }
    temp_folder(const temp_folder&) = delete;
    temp_folder& operator=(const temp_folder&) = delete;
    const fs::path& path() const { return path_; }

private:
    fs::path path_;
};

// The operator's steps, each only while its window is shown: Load
// Hex-File, OK on the location window as it comes up, Program with the
// boxes as prepared.
outcome run_flow(sim_app& app, const bad_file& r, const fs::path& chosen)
{
    programming::load_hex__Click(app.state, chosen.string());
    if (!app.state.LocationForm.visible) return outcome::cancelled_at_load;
    if (r.after_load) r.after_load(chosen);
    (r.bsl_now == 0 ? programming::sect0_Click : programming::sect2_Click)(app.state);
    programming::LocationForm_Command1_Click(app.state);
    if (!app.state.ConfirmForm.visible) return outcome::cancelled_at_ok;
    if (r.after_ok) r.after_ok(chosen);
    programming::program_button_Click(app.state);
    const bool finished =
        app.state.log().text().ends_with(ending("                        Programming sucessfully finished !"));
    return finished ? outcome::programmed : outcome::conversion_error;
}

std::vector<programming::block_record> block_file(const std::string& path)
{
    std::vector<programming::block_record> records;
    std::ifstream in(path, std::ios::binary);
    for (std::string line; std::getline(in, line);) {
        auto record = programming::read_block_record(line);
        EXPECT_TRUE(record) << line;
        if (record) records.push_back(std::move(*record));
    }
    return records;
}

// Every block of the block file stands in the chip's flash.
void expect_blocks_in_flash(sim_app& app, const std::vector<programming::block_record>& records)
{
    for (const auto& r : records) {
        const auto bytes = programming::decode_block(r.data);
        ASSERT_TRUE(bytes) << r.data;
        const auto flash = app.board.chip().flash().sector(r.sector);
        const auto at = static_cast<std::size_t>(r.address - programming::sector_range(r.sector, 0).first);
        EXPECT_TRUE(std::equal(bytes->begin(), bytes->end(), flash.begin() + static_cast<std::ptrdiff_t>(at)))
            << "sector " << r.sector << " address " << r.address;
    }
}

std::vector<std::string> erases(const core::byte_string& wire)
{
    std::vector<std::string> seen;
    for (std::size_t i = 0; i + 1 < wire.size();) {
        if (wire[i] == '\x20') {
            seen.push_back("E" + std::to_string(static_cast<int>(wire[i + 1]) - 0x20));
            i += 2;
        } else {
            i += 68;  // a block: command, segment, address, 64 bytes
        }
    }
    return seen;
}

// How the log ends after a run that programmed nothing.
std::string log_end(const bad_file& r, const std::string& hex, const std::string& new_file)
{
    if (r.expected == outcome::cancelled_at_load)
        return ending("                Operation cancelled or this File name doesn't exist !");
    if (r.expected == outcome::cancelled_at_ok) return ending("                             Operation cancelled !");
    std::string error = le + star;
    for (const auto& line : r.error_lines) error += le + with_paths(line, hex, new_file);
    return error + le + star + le;
}

// The blocks of the block file stand in flash, and the run erased the
// sectors it should.
void expect_programmed(sim_app& app, const bad_file& r, const core::byte_string& sent)
{
    const auto records = block_file(app.state.new_file_name);
    if (r.erases) {
        EXPECT_EQ(erases(sent), *r.erases);
        EXPECT_EQ(records.size(), static_cast<std::size_t>(r.blocks));
    }
    expect_blocks_in_flash(app, records);
    if (r.bsl_now == 0) {
        EXPECT_TRUE(holds_bsl_code(app.board, 2));  // the code moved
    }
}

const std::vector<bad_file> k_bad_files = {
    {.name = "empty_file",
     .make = [](const fs::path& d) { return write_text(d / "app.hex", ""); },
     .expected = outcome::programmed,
     .erases = std::vector<std::string>{}},
    {.name = "empty_file_with_the_code_to_move",
     .make = [](const fs::path& d) { return write_text(d / "app.hex", ""); },
     .expected = outcome::programmed,
     .erases = std::vector<std::string>{"E2"},
     .blocks = 2,
     .bsl_now = 0},
    // Its lines read as records like any others; these bytes happen to
    // hold no data record after an address record, so nothing is sent.
    {.name = "binary_file", .make = binary_file, .expected = outcome::programmed, .erases = std::vector<std::string>{}},
    {.name = "huge_file",
     .make = huge_file,
     .expected = outcome::programmed,
     .erases = std::vector<std::string>{"E1"},
     .blocks = programming::k_blocks_per_sector},
    {.name = "no_end_record",
     .make = [](const fs::path& d) { return good_file(d, "\r\n", false); },
     .expected = outcome::programmed,
     .erases = std::vector<std::string>{"E1", "E3"},
     .blocks = 2},
    {.name = "windows_line_ends",
     .make = [](const fs::path& d) { return good_file(d, "\r\n"); },
     .expected = outcome::programmed,
     .erases = std::vector<std::string>{"E1", "E3"},
     .blocks = 2},
    {.name = "unix_line_ends",
     .make = [](const fs::path& d) { return good_file(d, "\n"); },
     .expected = outcome::programmed,
     .erases = std::vector<std::string>{"E1", "E3"},
     .blocks = 2},
    {.name = "old_mac_line_ends",
     .make = [](const fs::path& d) { return good_file(d, "\r"); },
     .expected = outcome::programmed,
     .erases = std::vector<std::string>{"E1", "E3"},
     .blocks = 2},
    {.name = "a_folder", .make = [](const fs::path& d) { return d; }, .expected = outcome::cancelled_at_load},
    {.name = "a_named_pipe",
     .make =
         [](const fs::path& d) {
             const auto pipe = d / "app.hex";
             ::mkfifo(pipe.c_str(), 0600);
             return pipe;
         },
     .expected = outcome::cancelled_at_load},
    {.name = "a_device_without_end",
     .make = [](const fs::path&) { return fs::path("/dev/zero"); },
     .expected = outcome::cancelled_at_load},
    {.name = "a_name_that_does_not_exist",
     .make = [](const fs::path& d) { return d / "missing.hex"; },
     .expected = outcome::cancelled_at_load},
    {.name = "no_read_permission",
     .make =
         [](const fs::path& d) {
             const auto file = good_file(d, "\r\n");
             fs::permissions(file, fs::perms::none);
             return file;
         },
     .expected = outcome::cancelled_at_load,
     .needs_permissions = true},
    {.name = "gone_before_ok",
     .make = [](const fs::path& d) { return good_file(d, "\r\n"); },
     .expected = outcome::cancelled_at_ok,
     .after_load = [](const fs::path& f) { fs::remove(f); }},
    {.name = "gone_before_program",
     .make = [](const fs::path& d) { return good_file(d, "\r\n"); },
     .expected = outcome::conversion_error,
     .error_lines = {"     The Hex-file cannot be read : {hex}"},
     .after_ok = [](const fs::path& f) { fs::remove(f); }},
    {.name = "the_block_file_itself",
     .make =
         [](const fs::path& d) {
             return write_text(d / "app.NEW", "1,32768,1,\"" + std::string(128, '0') + "\",\"EOB\"\r\n");
         },
     .expected = outcome::conversion_error,
     .error_lines = {"     The Hex-file would be overwritten by its converted file : {hex}",
                     "     Please rename the Hex-file !"}},
    {.name = "a_folder_where_the_block_file_goes",
     .make =
         [](const fs::path& d) {
             fs::create_directory(d / "app.NEW");
             return good_file(d, "\r\n");
         },
     .expected = outcome::conversion_error,
     .error_lines = {"     The converted file cannot be written : {new}"}},
};

void PrintTo(const bad_file& file, std::ostream* out)
{
    *out << file.name;
}

void PrintTo(outcome o, std::ostream* out)
{
    const char* const names[] = {"cancelled at Load Hex-File", "cancelled at OK", "converted and programmed",
                                 "conversion error"};
    *out << names[static_cast<int>(o)];
}

class bad_hex_files : public ::testing::TestWithParam<bad_file> {};

TEST_P(bad_hex_files, end_in_their_documented_outcome)
{
    const bad_file& r = GetParam();
    if (r.needs_permissions && ::geteuid() == 0) GTEST_SKIP() << "root reads a file without read permission";
    const temp_folder folder(r.name);
    const auto chosen = r.make(folder.path());
    sim_app app;
    ASSERT_TRUE(app.command_phase());
    const auto mark = app.board.received().size();

    const outcome reached = run_flow(app, r, chosen);

    // The log keeps only its newest part; its end tells the outcome.
    const std::string& log = app.state.log().text();
    ASSERT_EQ(reached, r.expected) << log.substr(log.size() - std::min<std::size_t>(log.size(), 2000));
    EXPECT_TRUE(app.command_phase());
    EXPECT_TRUE(app.state.mainform.enabled);
    EXPECT_FALSE(app.state.LocationForm.visible || app.state.ConfirmForm.visible);
    const auto sent = app.received_since(mark);
    if (r.expected == outcome::programmed) {
        expect_programmed(app, r, sent);
        return;
    }
    EXPECT_EQ(sent, "");
    EXPECT_TRUE(log.ends_with(log_end(r, chosen.string(), app.state.new_file_name)));
}

INSTANTIATE_TEST_SUITE_P(by_mistake, bad_hex_files, ::testing::ValuesIn(k_bad_files),
                         [](const auto& info) { return info.param.name; });

}  // namespace
