#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "bootstrap/reset_step.h"
#include "command/commands.h"
#include "core/link_trace.h"
#include "programming/flash_exchange.h"
#include "shell/events.h"
#include "sim_link.h"
#include "support_fakes.h"

namespace {

using namespace fernwick;

std::vector<std::string> trace_of_a_bring_up_status_and_block(const std::string& path)
{
    ::setenv("FERNWICK_TRACE", path.c_str(), 1);
    sim::sim_board board;
    core::app_state s(board.platform());
    EXPECT_EQ(core::trace_links_from_environment(s), std::nullopt);
    ::unsetenv("FERNWICK_TRACE");
    core::StartModul(s);
    shell::connect_events(s, {});
    bootstrap::RESET_OK_Click(s);
    board.run_for(100);
    command::show_status_Click(s);
    board.run_for(100);
    EXPECT_TRUE(s.statusform.visible);
    programming::answer_reader reader(s);
    programming::program_block(reader, s, 1, 0x8000, {});  // its bytes go out in several writes
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

TEST(link_trace, records_every_event_of_both_links_with_its_time)
{
    const auto path = (fernwick::test::scratch_dir() / "trace.txt").string();
    const auto lines = trace_of_a_bring_up_status_and_block(path);
    const std::set<std::string> links = {"MSCom0", "COM"};
    const std::set<std::string> kinds = {"open", "open-failed", "close", "out", "out-failed", "in"};
    std::string events;
    for (const auto& line : lines) {
        std::istringstream fields(line);
        long ms = -1;
        std::string link, kind;
        fields >> ms >> link >> kind;
        EXPECT_TRUE(ms >= 0 && links.count(link) && kinds.count(kind)) << line;
        events += line.substr(line.find(' ') + 1, 22) + "|";
    }
    const char* expected_in_order[] = {
        "MSCom0 open COM 1 9600", "MSCom0 out 00", "MSCom0 in D5",  "MSCom0 out E6 58 22 00",
        "MSCom0 in 22",           "MSCom0 in 11",  "MSCom0 close",  "COM open COM 1 9600",
        "COM out 40 40",          "COM in 00",     "COM out 40 43", "COM out 33 01 80 00 00"};
    std::size_t at = 0;
    for (const char* event : expected_in_order) {
        at = events.find(event, at);
        EXPECT_NE(at, std::string::npos) << event << " in " << events;
    }
}

TEST(link_trace, a_trace_file_that_cannot_be_created_is_refused_with_its_reason)
{
    const std::pair<std::string, const char*> rows[] = {
        {"/nonexistent-folder/trace.txt", "No such file or directory"},
        {std::filesystem::temp_directory_path().string(), "Is a directory"},
    };
    for (const auto& [path, reason] : rows) {
        ::setenv("FERNWICK_TRACE", path.c_str(), 1);
        sim::sim_board board;
        core::app_state s(board.platform());
        EXPECT_EQ(core::trace_links_from_environment(s), "cannot create the trace file " + path + ": " + reason);
        ::unsetenv("FERNWICK_TRACE");
    }
}

}  // namespace
