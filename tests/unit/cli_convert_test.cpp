#include <gtest/gtest.h>

#include <sstream>

#include "hex_test_files.h"

#include "app/cli_convert.h"
#include "app/cli_options.h"

namespace {

using namespace hex_test;

struct cli_run {
    int status;
    std::string out, err;
};

// The command line as fernwick-cli reads it, then the conversion.
cli_run run(std::vector<std::string> args)
{
    std::ostringstream out, err;
    args.insert(args.begin(), "convert");
    int status = 0;
    if (const auto request = fernwick::app::parse_command_line(args, out, err, status))
        status = fernwick::app::run_convert(request->choices, out, err);
    return {status, out.str(), err.str()};
}

// The sectors of the block records in the written file.
std::string sectors_written(const std::string& path)
{
    std::string sectors;
    for (const auto& line : crlf_lines(read_file(path))) sectors += line.substr(0, line.find(','));
    return sectors;
}

TEST(cli_convert, writes_what_program_would_send)
{
    temp_folder folder;
    const auto hex = folder.file("app.hex", joined({linear(1), data(0, "11"), data(0x8000, "22"), linear(2),
                                                    data(0x100, "33"), data(0x8000, "44")}));
    const auto one = folder.file("one.hex", joined({linear(1), data(0x8000, "22")}));
    const std::pair<std::vector<std::string>, const char*> rows[] = {
        // as program: the sectors with data, sector 0 locked on by the code rules, code in sector 2
        {{hex}, "12223"},
        {{one}, "1"},  // no code block where no sector holding it is chosen
        {{hex, "--sectors", "3,1"}, "13"},
        {{hex, "--bsl-target", "-99"}, "123"},
        {{hex, "--bsl-target", "0", "--sectors", "0"}, "00"},
        {{"--sector0-segment", "1", hex, "--bsl-target", "-99"}, "0123"},
        {{one, "--bsl-now", "0", "--bsl-target", "2"}, "122"},
    };
    for (const auto& [args, sectors] : rows) {
        const auto r = run(args);
        EXPECT_EQ(r.status, 0) << r.err;
        const auto& hex_file = args[args[0] == "--sector0-segment" ? 2 : 0];
        const auto new_file = folder.path(fs::path(hex_file).stem().string() + ".NEW");
        EXPECT_EQ(r.out, new_file + "\n");
        EXPECT_EQ(sectors_written(new_file), sectors) << args.size();
    }
}

TEST(cli_convert, refuses_bad_arguments_and_files_program_would_refuse_with_one_line)
{
    temp_folder folder;
    const auto hex = folder.file("app.hex", joined({linear(2), data(0, "11")}));
    const auto damaged = folder.file("damaged.hex", joined({linear(2), ":0100000011EF"}));
    const auto nowhere = folder.file("nowhere.hex", joined({linear(1), data(0, "11")}));
    const std::pair<std::vector<std::string>, std::string> rows[] = {
        {{}, "FILE is required"},
        {{hex, "other.hex"}, "unexpected 'other.hex'"},
        {{hex, "--sectors"}, "--sectors"},
        {{hex, "--sectors", ""}, "--sectors: takes"},
        {{hex, "--sectors", "4"}, "--sectors: takes"},
        {{hex, "--sectors", "0,,1"}, "--sectors: takes"},
        {{hex, "--sectors", "1,"}, "--sectors: takes"},
        {{hex, "--bsl-target", "1"}, "--bsl-target: takes"},
        {{hex, "--bsl-now", "1"}, "--bsl-now: takes"},
        {{hex, "--sector0-segment", "2"}, "--sector0-segment: takes"},
        {{hex, "--verbose", "1"}, "--verbose"},
        {{folder.path("missing.hex")}, "missing.hex: No such file or directory"},
        {{damaged}, "damaged.hex: line 2 has the checksum EFh, it should be EEh"},
        {{nowhere},
         "nowhere.hex: no data of this file lies in a flash sector with sector 0 mapped to segment 0 "
         "(00'0000h-00'7FFFh); see --sector0-segment"},
        // sector 0 stays locked on, yet would only be erased
        {{hex, "--sectors", "1,3"}, "nothing to program in the chosen sectors (0): " + hex + " has data for sectors 2"},
    };
    for (const auto& [args, reason] : rows) {
        const auto r = run(args);
        EXPECT_EQ(r.status, 2);
        EXPECT_TRUE(r.out.empty());
        // One line says why, after any note on the boxes.
        ASSERT_TRUE(r.err.ends_with("\n")) << r.err;
        const auto last = r.err.substr(r.err.find_last_of('\n', r.err.size() - 2) + 1);
        EXPECT_EQ(last.rfind("fernwick-cli", 0), 0u) << r.err;
        EXPECT_NE(last.find(reason), std::string::npos) << r.err;
    }
    for (const char* name : {"app.NEW", "damaged.NEW", "nowhere.NEW"}) EXPECT_FALSE(fs::exists(folder.path(name)));
}

}  // namespace
