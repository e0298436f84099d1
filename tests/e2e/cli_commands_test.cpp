#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <thread>

#include "bootstrap/loader_images.h"
#include "core/qt_serial_link.h"
#include "support_board.h"

namespace {

using namespace fernwick::e2e;

// The failures of each exchange, with their exact logs, are in the fault matrix.

const std::string sectors = "Sector 0: 0010\nSector 1: 0111\nSector 2: 0212\nSector 3: 0313\n";

run_result cli(const simulated_board& board, std::vector<std::string> args)
{
    args.insert(args.begin(), {binary("fernwick-cli"), "--device", board.device()});
    return run(args);
}

// The loader and the main program on the line at 2400 baud.
constexpr auto k_bring_up_at_2400_ms =
    (fernwick::bootstrap::k_first_loader_size + fernwick::bootstrap::k_main_program_size) * 10 * 1000 / 2400;

TEST(cli_commands, runs_at_every_rate_of_the_reset_window)
{
    const auto dir = temp_dir();  // the program run writes its block file beside the hex file
    write_file(dir + "/demo.hex", read_file(FERNWICK_SOURCE_DIR "/examples/demo.hex"));
    struct row {
        const char* line_rate;     // the board's
        const char* baud;          // the tool's
        std::optional<bool> slow;  // the run takes the bring-up's time at 2400 baud
        std::vector<std::string> command = {"status"};
        std::string shows = sectors;
    };
    for (const auto& r : std::vector<row>{
             {"2400", "2400"},
             {"4800", "4800"},
             {"9600", "9600"},
             {"14400", "14400"},
             {"19200", "19200"},
             {"follow", "2400", true},
             {"follow", "19200", false},
             {"follow", "19200", {}, {"program", dir + "/demo.hex"}, "Programming sucessfully finished !"}}) {
        simulated_board board({"--line-rate", r.line_rate});
        const auto start = std::chrono::steady_clock::now();
        auto args = r.command;
        args.insert(args.begin(), {"--baud", r.baud});
        const auto out = cli(board, args);
        const auto ms = (std::chrono::steady_clock::now() - start) / std::chrono::milliseconds(1);
        EXPECT_EQ(out.status, 0) << r.line_rate << r.baud << out.out << out.err;
        EXPECT_NE(out.out.find(r.shows), std::string::npos) << r.line_rate << r.baud << out.out;
        EXPECT_TRUE(!r.slow || (ms >= long{k_bring_up_at_2400_ms}) == *r.slow) << r.line_rate << r.baud << ": " << ms;
    }
    std::filesystem::remove_all(dir);
}

TEST(cli_commands, a_software_reset_lets_the_board_be_brought_up_again)
{
    simulated_board board;
    const auto reset = cli(board, {"reset"});
    EXPECT_EQ(reset.status, 0) << reset.out;
    EXPECT_NE(reset.out.find("Software Reset sucessfully executed !"), std::string::npos);
    // The board resets when the port stays closed for a while, as an operator would press reset.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const auto again = cli(board, {"status"});
    EXPECT_EQ(again.status, 0) << again.out;
}

TEST(cli_commands, a_port_that_cannot_be_used_is_reported_with_the_device_and_the_reason)
{
    simulated_board board;
    fernwick::core::qt_serial_link holder;
    ::setenv("FERNWICK_COM2", board.device().c_str(), 1);
    holder.set_comm_port(2);
    ASSERT_TRUE(holder.open()) << holder.error_text();
    const auto dir = temp_dir();
    write_file(dir + "/file", "");
    const std::pair<std::string, std::string> rows[] = {
        {board.device(), board.device() + ": held by another program"},
        {"/dev/nonexistent-port", "/dev/nonexistent-port: No such file or directory"},
        {"ttyNONE", "/dev/ttyNONE: No such file or directory"},
        {dir + "/file", dir + "/file: Inappropriate ioctl for device"},
        {dir, dir + ": Is a directory"},
    };
    for (const auto& [device, reason] : rows) {
        const auto r = run({binary("fernwick-cli"), "--device", device, "status"});
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.out.find(" Serial Port currently used by another application !\n " + reason + "\n\n Close"),
                  std::string::npos)
            << r.out;
    }
    holder.close();
    std::filesystem::remove_all(dir);
}

// Both programs create the trace named by FERNWICK_TRACE when they start, or
// refuse to start, naming the path and the reason.
TEST(cli_commands, both_programs_create_the_trace_at_start_or_say_why_not)
{
    const auto dir = temp_dir();
    const struct {
        const char* program;
        std::string trace;
        int status;  // -1: still running when stopped
        std::string err;
    } rows[] = {
        {"fernwick", dir + "/gui.trace", -1, ""},
        {"fernwick-cli", dir + "/cli.trace", 1, ""},
        {"fernwick", dir + "/none/gui.trace", 2,
         "fernwick: cannot create the trace file " + dir + "/none/gui.trace: No such file or directory\n"},
        {"fernwick-cli", dir, 2, "fernwick-cli: cannot create the trace file " + dir + ": Is a directory\n"},
    };
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    for (const auto& r : rows) {
        ::setenv("FERNWICK_TRACE", r.trace.c_str(), 1);
        const bool cli = std::string(r.program) == "fernwick-cli";
        const auto out =
            cli ? run({binary(r.program), "--device", dir + "/no-port", "status"}) : run({binary(r.program)}, 2);
        ::unsetenv("FERNWICK_TRACE");
        EXPECT_EQ(out.status, r.status) << r.program << out.err;
        EXPECT_NE(out.err.find(r.err), std::string::npos) << r.program << out.err;
        EXPECT_EQ(std::filesystem::is_regular_file(r.trace), r.status != 2) << r.program;
    }
    std::filesystem::remove_all(dir);
}

TEST(cli_commands, usage_errors_exit_with_2)
{
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{},
                                               {"--baud", "1200", "status"},
                                               {"flash"},
                                               {"--com", "3", "status"},
                                               {"status", "extra"},
                                               {"program", "app.hex", "--sectors"},
                                               {"program", "app.hex", "--sectors", ""}}) {
        auto argv = args;
        argv.insert(argv.begin(), binary("fernwick-cli"));
        const auto r = run(argv);
        EXPECT_EQ(r.status, 2) << r.err;
        EXPECT_NE(r.err.find("--help"), std::string::npos);
    }
}

}  // namespace
