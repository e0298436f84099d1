#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <tuple>

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

// The board follows the rate the port's driver was given and traces it, so
// each rate of the reset window is seen as set, and the slowest takes its time.
TEST(cli_commands, runs_at_every_rate_of_the_reset_window)
{
    const auto dir = temp_dir();  // the program run writes its block file beside the hex file
    write_file(dir + "/demo.hex", read_file(FERNWICK_SOURCE_DIR "/examples/demo.hex"));
    const std::tuple<std::string, std::vector<std::string>, std::string> rows[] = {
        {"2400", {"status"}, sectors},
        {"4800", {"status"}, sectors},
        {"9600", {"status"}, sectors},
        {"14400", {"status"}, sectors},
        {"19200", {"program", dir + "/demo.hex"}, "Programming sucessfully finished !"},
    };
    for (const auto& [baud, command, shows] : rows) {
        SCOPED_TRACE(baud);
        simulated_board board({"--line-rate", "follow", "--trace", dir + "/trace" + baud});
        const auto start = std::chrono::steady_clock::now();
        auto args = command;
        args.insert(args.begin(), {"--baud", baud});
        const auto out = cli(board, args);
        const auto ms = (std::chrono::steady_clock::now() - start) / std::chrono::milliseconds(1);
        board.stop();
        EXPECT_EQ(out.status, 0) << out.out << out.err;
        EXPECT_NE(out.out.find(shows), std::string::npos) << out.out;
        EXPECT_NE(read_file(dir + "/trace" + baud).find(" line rate " + baud + "\n"), std::string::npos);
        EXPECT_EQ(ms >= long{k_bring_up_at_2400_ms}, baud == "2400") << ms;
    }
    std::filesystem::remove_all(dir);
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
