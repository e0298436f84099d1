// The trace of every byte that crossed the serial links, named in
// FERNWICK_TRACE, over a bring-up, a status reading and a block.

#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <fstream>

#include "command/commands.h"
#include "core/link_trace.h"
#include "programming/flash_exchange.h"
#include "sim_app.h"

namespace {

using namespace fernwick;

TEST(link_trace, records_every_event_of_both_links_in_order_with_its_time)
{
    const auto path = (test::scratch_dir() / "trace.txt").string();
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
        programming::answer_reader reader(s);
        programming::program_block(reader, s, 1, 0x8000, {});  // its bytes go out in several writes
        command::reset_micro__Click(s);                        // the trace ends with bytes written and not yet answered
    }
    std::ifstream in(path);
    std::string events;
    for (std::string line; std::getline(in, line);) {
        EXPECT_TRUE(std::isdigit(static_cast<unsigned char>(line[0]))) << line;  // the time comes first
        events += line.substr(line.find(' ') + 1, 22) + "|";
    }
    std::size_t at = 0;
    for (const char* event : {"MSCom0 open COM 1 9600", "MSCom0 out 00|", "MSCom0 in D5", "MSCom0 out E6 58 22 00",
                              "MSCom0 in 22", "MSCom0 in 11", "MSCom0 close", "COM open COM 1 9600", "COM out 40 40",
                              "COM in 00", "COM out 40 43", "COM out 33 01 80 00 00", "COM out 00|"}) {
        at = events.find(event, at);
        EXPECT_NE(at, std::string::npos) << event << " in " << events;
    }
}

}  // namespace
