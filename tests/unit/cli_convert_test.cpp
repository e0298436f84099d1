#include <gtest/gtest.h>

#include <sstream>

#include "cli/convert_command.h"
#include "cli/options.h"
#include "hex_test_files.h"

namespace {

using namespace hex_test;

// The command line as fernwick-cli reads it, then the conversion: the exit
// status, what was printed and what was said on the error stream.
std::tuple<int, std::string, std::string> run(std::vector<std::string> args)
{
    std::ostringstream out, err;
    args.insert(args.begin(), "convert");
    int status = 0;
    if (const auto request = fernwick::cli::parse_command_line(args, out, err, status))
        status = fernwick::cli::run_convert(request->choices, out, err);
    return {status, out.str(), err.str()};
}

TEST(cli_convert, writes_what_program_would_send)
{
    temp_folder folder;
    const auto hex = folder.file("app.hex", joined({linear(1), data(0, "11"), data(0x8000, "22"), linear(2),
                                                    data(0x100, "33"), data(0x8000, "44")}));
    const auto one = folder.file("one.hex", joined({linear(1), data(0x8000, "22")}));
    const auto nowhere = folder.file("nowhere.hex", joined({linear(1), data(0, "11")}));
    // The sectors of the block records written.
    struct row {
        std::vector<std::string> args;
        const char* sectors;
        std::string note = "";  // on the error stream
    };
    const row rows[] = {
        // the sectors with data, sector 0 locked on by the code rules, code in sector 2
        {{hex, "--allow-unplaced"}, "12223"},
        {{hex, "--sectors", "2", "--allow-unplaced"}, "222", "sector 0 is locked on by the bootstrap-code rules"},
        {{hex, "--sectors", "0,1,3", "--bsl-now", "0", "--allow-unplaced"},
         "12223",
         "sector 0 stays off: the file has no data for it"},
        {{one}, "1"},  // no code block where no sector holding it is chosen
        {{hex, "--sectors", "3,1", "--allow-unplaced"}, "13"},
        {{hex, "--bsl-target", "0", "--sectors", "0", "--allow-unplaced"}, "00"},  // a sector that gets only the code
        {{hex, "--sector0-segment", "1", "--bsl-target", "-99"}, "0123"},
        {{nowhere, "--bsl-target", "0", "--allow-unplaced"}, "00"},  // no data in any sector, yet the code to write
    };
    for (const auto& [args, sectors, note] : rows) {
        const auto [status, out, err] = run(args);
        EXPECT_EQ(status, 0) << err;
        EXPECT_NE(err.find(note), std::string::npos) << err;
        const auto new_file = folder.path(fs::path(args[0]).stem().string() + ".NEW");
        EXPECT_EQ(out, new_file + "\n");
        std::string written;
        for (const auto& line : crlf_lines(read_file(new_file))) written += line.substr(0, line.find(','));
        EXPECT_EQ(written, sectors) << args.size();
    }
}

TEST(cli_convert, refuses_bad_arguments_and_files_program_would_refuse_with_one_line)
{
    temp_folder folder;
    const auto hex = folder.file("app.hex", joined({linear(2), data(0, "11")}));
    const auto damaged = folder.file("damaged.hex", joined({linear(2), ":0100000011EF"}));
    const auto nowhere = folder.file("nowhere.hex", joined({linear(1), data(0, "11")}));
    const auto high = folder.file("high.hex", joined({linear(0), data(0x8000, "11")}));
    const auto partly =
        folder.file("partly.hex", joined({linear(1), data(0, "11"), data(1, "22"), data(0x8000, "22")}));
    // 22 ranges in no sector, the last two of 2 and 4 bytes.
    std::vector<std::string> ranges = {linear(1)};
    for (int i = 0; i < 22; ++i) ranges.push_back(data(0x10 * i, i < 20 ? "11" : i == 20 ? "1122" : "11223344"));
    ranges.push_back(data(0x8000, "22"));
    const auto many = folder.file("many.hex", joined(ranges));
    const std::pair<std::vector<std::string>, std::string> rows[] = {
        {{}, "FILE is required"},
        {{hex, "--sectors", "4"}, "--sectors: takes"},
        {{hex, "--sectors", "0,,1"}, "--sectors: takes"},
        {{hex, "--bsl-target", "1"}, "--bsl-target: takes"},
        {{hex, "--sector0-segment", "2"}, "--sector0-segment: takes"},
        {{hex, "--sectors", "1,"}, "--sectors: takes"},
        // CLI11 would let an empty value through: no rate at all, the default segment
        {{hex, "--baud", ""}, "--baud is given an empty value"},
        {{hex, "--device="}, "--device is given an empty value"},
        {{hex, "--sectrs", "1"}, "unknown option --sectrs; did you mean --sectors?"},
        // another command's option is no typing slip of its own name
        {{hex, "--serial", "2FFF0h:4"}, "--serial is an option of program, station, ledger, not of convert"},
        {{hex, "--retrys", "1"}, "unknown option --retrys (see --help)"},
        {{hex, "--com", "1", "--device", "/dev/ttyUSB0"}, "--com and --device both name boards"},
        {{hex, "--device", "/dev/ttyUSB0"}, "--device is an option of status, reset, program, not of convert"},
        {{folder.path("missing.hex")}, "missing.hex: No such file or directory"},
        {{damaged}, "damaged.hex: line 2 has the checksum EFh, it should be EEh"},
        {{nowhere},
         "nowhere.hex: no data of this file lies in a flash sector with sector 0 mapped to segment 0 "
         "(00'0000h-00'7FFFh); see --sector0-segment"},
        // no mapping of sector 0 would place it: no advice to try one
        {{high, "--sector0-segment", "1"},
         "high.hex: no data of this file lies in a flash sector with sector 0 mapped to segment 1 "
         "(01'0000h-01'7FFFh)\n"},
        {{hex, "--baud", "09600"}, "--baud: takes 2400, 4800, 9600, 14400 or 19200"},
        // sector 0, kept on only while sector 2 was, is taken off with it
        {{hex, "--sectors", "1,3"},
         "nothing to program in the chosen sectors (none): " + hex + " has data for sectors 2"},
        {{partly},
         "partly.hex: 2 bytes of its data reach no flash (--allow-unplaced programs the rest)\n"
         "  01'0000h-01'0001h (lines 2-3, 2 bytes): in no flash sector with sector 0 mapped to segment 0\n"},
        // twenty ranges listed, the rest summed up
        {{many},
         "  01'0130h (line 21, 1 byte): in no flash sector with sector 0 mapped to segment 0\n  and 2 more ranges, 6 "
         "bytes\n"},
    };
    for (const auto& [args, reason] : rows) {
        const auto [status, out, err] = run(args);
        EXPECT_EQ(status, 2);
        EXPECT_TRUE(out.empty());
        // One line says why, after any note on the boxes, with the ranges at fault below it.
        const auto said = err.substr(err.rfind("fernwick-cli"));
        EXPECT_NE(said.find(reason), std::string::npos) << err;
    }
    for (const char* name : {"app.NEW", "damaged.NEW", "nowhere.NEW", "high.NEW", "partly.NEW", "many.NEW"})
        EXPECT_FALSE(fs::exists(folder.path(name)));
}

}  // namespace
