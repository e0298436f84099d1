#include <gtest/gtest.h>

#include <sstream>

#include "hex_test_files.h"

#include "app/cli_convert.h"

namespace {

using namespace hex_test;

struct cli_run {
    int status;
    std::string out, err;
};

cli_run run(const std::vector<std::string>& args)
{
    std::ostringstream out, err;
    const int status = fernwick::app::run_convert(args, out, err);
    return {status, out.str(), err.str()};
}

// The sectors of the block records in the written file.
std::string sectors_written(const std::string& path)
{
    std::string sectors;
    for (const auto& line : crlf_lines(read_file(path))) sectors += line.substr(0, line.find(','));
    return sectors;
}

TEST(cli_convert, writes_exactly_the_listed_sectors)
{
    temp_folder folder;
    const auto hex = folder.file("app.hex", joined({linear(1), data(0, "11"), data(0x8000, "22"), linear(2),
                                                    data(0x100, "33"), data(0x8000, "44")}));
    const auto new_file = folder.path("app.NEW");
    const std::pair<std::vector<std::string>, const char*> rows[] = {
        {{hex}, "12223"},  // default: all sectors, code in sector 2, sector 0 in segment 0
        {{hex, "--sectors", "3,1"}, "13"},
        {{hex, "--bsl-target", "-99"}, "123"},
        {{hex, "--bsl-target", "0", "--sectors", "0"}, "00"},
        {{"--sector0-segment", "1", hex, "--bsl-target", "-99"}, "0123"},
    };
    for (const auto& [args, sectors] : rows) {
        const auto r = run(args);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, new_file + "\n");
        EXPECT_EQ(sectors_written(new_file), sectors) << args.size();
    }
}

TEST(cli_convert, refuses_bad_arguments_with_one_line)
{
    temp_folder folder;
    const auto hex = folder.file("app.hex", joined({linear(2), data(0, "11")}));
    const std::vector<std::string> rows[] = {
        {}, {hex, "other.hex"}, {hex, "--sectors"}, {hex, "--sectors", "4"}, {hex, "--sectors", "0,,1"},
        {hex, "--bsl-target", "1"}, {hex, "--sector0-segment", "2"}, {hex, "--verbose", "1"},
        {folder.path("missing.hex")},
    };
    for (const auto& args : rows) {
        const auto r = run(args);
        EXPECT_EQ(r.status, 2);
        EXPECT_TRUE(r.out.empty());
        EXPECT_EQ(r.err.rfind("fernwick-cli convert: ", 0), 0u) << r.err;
        EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
    }
    EXPECT_FALSE(fs::exists(folder.path("app.NEW")));
}

}  // namespace
