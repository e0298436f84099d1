// Every fault of the chip and of the line at each exchange, through
// fernwick-cli against mirel-sim on a pseudo-terminal: the exit status, the
// sentence that says what went wrong, the bytes the chip received (none
// after the failing exchange), and a working bring-up after a board reset.
// The exact logs of these paths are pinned in tests/scenario.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <optional>
#include <sstream>
#include <thread>

#include "support_board.h"

namespace {

using namespace fernwick::e2e;

constexpr std::size_t k_bring_up = 1 + 32 + 510;  // zero byte, first-level loader, main program
constexpr std::size_t k_status = 2;               // 40h, 40h + n
constexpr std::size_t k_erase = 2;                // 20h, 20h + n
constexpr std::size_t k_block = 1 + 3 + 64;       // 33h, segment and address, data

const std::string k_time_out = "     TimeOut Error !";
const std::string k_no_acknowledge = "     No acknowledge byte from the microcontroller received !";
const std::string k_wrong_acknowledge = "     I didn't receive the right acknowledge byte from the uC !";
const std::string k_gone = "     The board is gone !";  // mirel-sim's pseudo-terminal hung up

// Bounded, so a board that never settles fails the case instead of hanging it.
bool wait_for_event(const std::string& trace_path, const std::string& event)
{
    return within(10, [&] { return read_file(trace_path).find(event + "\n") != std::string::npos; });
}

// The bytes from the host traced before the first line ending in `event`.
std::size_t host_bytes_before(const std::string& trace, const std::string& event)
{
    std::istringstream lines(trace);
    std::size_t bytes = 0;
    for (std::string l; std::getline(lines, l) && !l.ends_with(event);) {
        std::istringstream words(l);
        std::string ms, who, byte;
        words >> ms >> who;
        while (who == "host" && words >> byte) ++bytes;
    }
    return bytes;
}

struct matrix_case {
    std::vector<std::string> board;    // mirel-sim options, also the case's name
    std::vector<std::string> command;  // fernwick-cli command and its arguments
    int exit_status;
    std::string shows;                      // a line the output holds
    std::optional<std::size_t> host_bytes;  // all the chip receives; nullopt: not checked
};

void play_and_check(const matrix_case& c)
{
    std::string name;
    for (const auto& option : c.board) name += option + " ";
    SCOPED_TRACE(name);
    const auto trace = temp_dir() + "/trace";
    // On an adapter whose DTR line resets the board: the reset once the run has
    // closed the port says the board has seen every byte of it.
    auto options = c.board;
    options.insert(options.end(), {"--trace", trace, "--reset-on-close"});
    simulated_board board(options);
    const auto cli = [&board](std::vector<std::string> args) {
        args.insert(args.begin(), {binary("fernwick-cli"), "--device", board.device()});
        return run(args, 60);
    };
    const auto r = cli(c.command);
    EXPECT_EQ(r.status, c.exit_status) << r.err;
    EXPECT_NE((r.out + r.err).find(c.shows + "\n"), std::string::npos) << r.out << r.err;
    // Every byte the tool wrote is in the trace once the board has seen the port
    // closed; a dropped line is gone for good, with no second run on it.
    const bool line_dies = name.find("drop") != std::string::npos;
    const std::string settled = line_dies ? "line dropped" : "reset (port closed)";
    ASSERT_TRUE(wait_for_event(trace, settled)) << "the board never saw the run end";
    const auto sent = host_bytes_before(read_file(trace), settled);
    EXPECT_EQ(c.host_bytes.value_or(sent), sent) << "bytes the chip received";
    if (line_dies) return;
    board.press_reset();
    ASSERT_TRUE(wait_for_event(trace, "reset (button)"));
    const auto again = cli({"status"});
    EXPECT_EQ(again.status, 0) << again.err;
    EXPECT_NE(again.out.find("Sector 3: 0313"), std::string::npos) << again.out;
}

// Plays the cases side by side, as the slow ones mostly wait.
void play_and_check(const std::vector<matrix_case>& cases)
{
    std::atomic<std::size_t> next{0};
    std::vector<std::future<void>> workers;
    for (int w = 0; w < 6; ++w)
        workers.push_back(std::async(std::launch::async, [&] {
            for (std::size_t k = next++; k < cases.size(); k = next++) play_and_check(cases[k]);
        }));
    for (auto& w : workers) w.get();
}

std::vector<std::string> fault(const std::string& f) { return {"--fault", f}; }

TEST(fault_matrix, bring_up_status_and_reset)
{
    // A fault at the status reading of sector n - 1 (the nth exchange), or at the reset (n = 0).
    const auto after_bring_up = [](const std::string& f, std::size_t n, int exit_status, const std::string& shows) {
        return matrix_case{fault(f), {n ? "status" : "reset"}, exit_status, shows, k_bring_up + (n ? n * k_status : 1)};
    };
    std::vector<matrix_case> cases = {
        {fault("id:none"), {"status"}, 1, "      No identification byte received", 1},
        {fault("drop-at:1"), {"status"}, 1, k_gone, 1},
        {fault("ack1:wrong"), {"status"}, 1, k_wrong_acknowledge, 33},
        {fault("ack2:none"), {"status"}, 1, k_no_acknowledge, k_bring_up},
        {fault("ack2:wrong"), {"status"}, 1, k_wrong_acknowledge, k_bring_up},
        after_bring_up("status:3:checksum", 3, 1, "     Wrong checksum byte received"),
        after_bring_up("status:1:status=91", 1, 1, "     Something went wrong when reading the Flash-status !"),
        after_bring_up("status:4:drop", 4, 1, k_gone),
        after_bring_up("status:2:delay=300", 4, 0, "Sector 3: 0313"),
        after_bring_up("reset:1:status=13", 0, 1,
                       "     I didn't receive the right confirmation after reset the microcontroller !"),
        after_bring_up("reset:1:silence", 0, 1, k_time_out),
        after_bring_up("reset:1:delay=300", 0, 0, "                             Software Reset sucessfully executed !"),
    };
    // The next bring-up of the same board goes through, as after a repair.
    for (auto& c : cases) c.board.insert(c.board.end(), {"--faulty-bring-ups", "1"});
    play_and_check(cases);
}

// --- programming: the save of the bootstrap loader code into sector 0 (an
// erase and two blocks), then sector 2 (an erase and three blocks), then
// sector 0 (an erase and one block).

const int k_blocks[] = {2, 3, 1};

// The host bytes sent up to the end of exchange n of procedure p (0: its erase, then its blocks).
std::size_t end_of(std::size_t p, int n)
{
    std::size_t end = k_bring_up;
    for (std::size_t q = 0; q < p; ++q) end += k_erase + k_blocks[q] * k_block;
    return end + k_erase + n * k_block;
}

// A hex file of its own for each case: the run writes its block file beside it.
std::vector<std::string> program_own_file(const std::vector<std::string>& more = {})
{
    const auto path = temp_dir() + "/app.hex";
    write_file(path,
               ":020000040000FA\n:10010000000102030405060708090A0B0C0D0E0F77\n"
               ":020000040002F8\n:10010000000102030405060708090A0B0C0D0E0F77\n:00000001FF\n");
    std::vector<std::string> command = {"program", path, "--sectors", "0,2", "--bsl-now", "2", "--bsl-target", "2"};
    command.insert(command.end(), more.begin(), more.end());
    return command;
}

// A run that fails at exchange n of procedure p by `--fault` with `action` there.
matrix_case failing(std::size_t p, int n, const std::string& action, std::string shows)
{
    int nth = n ? n : static_cast<int>(p) + 1;  // among the run's erases or blocks
    for (std::size_t q = 0; n && q < p; ++q) nth += k_blocks[q];
    return {fault((n ? "block:" : "erase:") + std::to_string(nth) + ":" + action), program_own_file(), 1, shows,
            end_of(p, n)};
}

// A late answer within the wait changes nothing.
matrix_case late_answer(const std::string& f)
{
    return {fault(f), program_own_file(), 0, "                        Programming sucessfully finished !",
            end_of(2, 1)};
}

TEST(fault_matrix, programming)
{
    const std::string checksum = "     A Checksum Error occured ! ";
    const auto alike = temp_dir() + "/alike.hex";
    write_file(alike, ":020000040001F9\n:01800000403F\n:01804000003F\n:00000001FF\n");
    std::vector<matrix_case> cases = {
        late_answer("erase:2:delay=300"),
        late_answer("block:4:delay=300"),
        // A USB adapter that holds every answer back for its latency timer.
        {{"--line-rate", "follow", "--adapter-latency", "16"},
         program_own_file(),
         0,
         "  ACTION==\"add\", SUBSYSTEM==\"usb-serial\", DRIVER==\"ftdi_sio\", ATTR{latency_timer}=\"1\"",
         end_of(2, 1)},
        // The first of two answers alike (checksum 0Ch) comes again once the second block is on its way, the
        // second a Flag Error: whenever the copy comes, the run fails.
        {{"--line-rate", "follow", "--fault", "block:1:repeat=30", "--fault", "block:2:status=93"},
         {"program", alike, "--sectors", "1"},
         1,
         "the bootstrap code still lies in sector 2: run again with --bsl-now 2"},
        failing(0, 0, "checksum", checksum),
        failing(0, 0, "silence", "     I didn't received the byte that I was waiting for ! "),
        failing(0, 2, "drop", "Failed at: save code block 2 of 6, sector 0, the board is gone"),
        failing(1, 2, "status=93", "the bootstrap code now lies only in sector 0: run again with --bsl-now 0"),
        failing(2, 0, "status=91", "     A Command Error occured ! "),
        failing(2, 1, "status=5A", "     A unknown status Error byte was received ! "),
        failing(1, 0, "silence", "     TimeOut: I didn't received the byte that I was waiting for ! "),
        // The chip's program, left running by an answer that never came whole, takes the next zero byte for a reset.
        {fault("block:1:silence"), program_own_file({"--retries", "1"}), 0, "Attempts: 2 of 2"},
        {fault("erase:2:checksum"), program_own_file({"--retries", "1"}), 0, "Attempts: 2 of 2"},
        // Its answer 10 s late, just after the wait for it: the retry's bring-up finds it on the line and
        // discards it. (Under load it may come within the wait or before the retry opens the port.)
        {fault("erase:2:delay=10080"), program_own_file({"--retries", "1"}), 0,
         "                        Programming sucessfully finished !"},
        // A board that went away during its run is not run again, whatever the retries left.
        {fault("drop-at:700"), program_own_file({"--retries", "1"}), 1, "No further attempt: the board is gone"},
    };
    for (const int n : {0, 2})
        for (const auto& [action, message] :
             {std::pair{"checksum", checksum}, std::pair{"status=93", std::string("     A Flag Error occured ! ")},
              std::pair{"drop", k_gone}})
            cases.push_back(failing(1, n, action, message));
    play_and_check(cases);
}

}  // namespace
