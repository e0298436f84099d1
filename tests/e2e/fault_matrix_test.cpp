// Every fault of the chip and of the line at every exchange, through
// fernwick-cli against mirel-sim on a pseudo-terminal: the exact log, the
// exit status, the bytes the chip received (none after the failing
// exchange), and a working bring-up after Re-Start and a board reset.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <random>

#include "support_matrix.h"

namespace {

using namespace fernwick::e2e;
using namespace fernwick::e2e::matrix;

constexpr std::size_t k_bring_up = 1 + 32 + 510;  // zero byte, first-level loader, main program
constexpr std::size_t k_status = 2;               // 40h, 40h + n
constexpr std::size_t k_erase = 2;                // 20h, 20h + n
constexpr std::size_t k_block = 1 + 3 + 64;       // 33h, segment and address, data
constexpr int k_patience_s = 60;                  // a run that takes longer hangs

struct matrix_case {
    std::string name;
    std::vector<std::string> board;    // mirel-sim options
    std::vector<std::string> command;  // fernwick-cli command and its arguments
    int exit_status = 1;
    std::string log;                        // all fernwick-cli prints, the programming summary aside
    std::optional<std::size_t> host_bytes;  // all the chip receives; nullopt: not checked
    bool line_dies = false;                 // the board's line is gone for good: no second run on it
};

struct outcome {
    run_result run;
    std::optional<std::size_t> host_bytes;  // nullopt: the board never settled after the run
    std::optional<run_result> again;        // status after Re-Start and a board reset
};

outcome play(const matrix_case& c)
{
    const auto trace = temp_dir() + "/trace";
    auto options = c.board;
    options.insert(options.end(), {"--trace", trace});
    simulated_board board(options);
    const auto cli = [&board](std::vector<std::string> args) {
        args.insert(args.begin(), {binary("fernwick-cli"), "--device", board.device()});
        return run(args, k_patience_s);
    };
    outcome o;
    o.run = cli(c.command);
    // Every byte the tool wrote is in the trace once the board has seen the port closed.
    const std::string settled = c.line_dies ? "line dropped" : "reset (port closed)";
    if (!wait_for_event(trace, settled)) return o;
    o.host_bytes = host_bytes_before(read_file(trace), settled);
    if (c.line_dies) return o;
    board.press_reset();
    if (!wait_for_event(trace, "reset (button)")) return o;
    o.again = cli({"status"});
    return o;
}

bool waits_long(const matrix_case& c)
{
    for (const auto& option : c.board)
        for (const char* wait : {"silence", "none", "drop", "delay"})
            if (option.find(wait) != std::string::npos) return true;
    return false;
}

void check(const matrix_case& c, const outcome& o)
{
    SCOPED_TRACE(c.name);
    EXPECT_EQ(o.run.status, c.exit_status) << o.run.err;
    EXPECT_EQ(without_summary(o.run.out), c.log);
    EXPECT_EQ(o.run.err, "");
    ASSERT_TRUE(o.host_bytes) << "the board never saw the run end";
    if (c.host_bytes) {
        EXPECT_EQ(*o.host_bytes, *c.host_bytes) << "bytes the chip received";
    }
    if (c.line_dies) return;
    ASSERT_TRUE(o.again) << "the board reset did not happen";
    EXPECT_EQ(o.again->status, 0) << o.again->err;
    EXPECT_EQ(o.again->out, healthy_status());
}

void play_and_check(const std::vector<matrix_case>& cases)
{
    const auto outcomes = play_side_by_side<matrix_case, outcome>(cases, waits_long, play);
    for (std::size_t i = 0; i < cases.size(); ++i) check(cases[i], outcomes[i]);
}

std::vector<std::string> fault(const std::string& f) { return {"--fault", f}; }

// --- bring-up -------------------------------------------------------------------

std::string no_acknowledge_block()
{
    return error_block({"     No acknowledge byte from the microcontroller received !", "", restart_advice()});
}

std::string wrong_acknowledge_block()
{
    return error_block({"     I didn't receive the right acknowledge byte from the uC !", restart_advice()});
}

std::string transmission_error_block()
{
    return error_block({"     There was a data transmission error ! ", "      No identification byte received", "",
                        restart_advice()});
}

std::string unknown_identification(const std::string& first_line)
{
    return error_block({first_line, "     Transmission error possible !", "     however I'll try to send the 32 bytes"});
}

TEST(fault_matrix, bring_up)
{
    const std::string shown_as = "     I have received the unknown identification byte:    0x";
    const auto healthy_after = [](const std::string& identification) {
        return bring_up_lines(identification) + ready_block() + sector_lines();
    };
    std::vector<matrix_case> cases = {
        {"no identification byte", fault("id:none"), {"status"}, 1, zero_byte_line() + transmission_error_block(),
         1},
        {"another identification byte", {"--id-byte", "C5"}, {"status"}, 0,
         healthy_after(unknown_identification(shown_as + "C5")), k_bring_up + 4 * k_status},
        {"a lone zero byte as identification", {"--id-byte", "00"}, {"status"}, 0,
         healthy_after(unknown_identification("     I have received an unknown identification byte (0x00) !")),
         k_bring_up + 4 * k_status},
        {"the zero byte echoed before the identification byte", fault("echo-zero"), {"status"}, 0,
         healthy_after(unknown_identification(shown_as + "0")), k_bring_up + 4 * k_status},
        {"no first acknowledge", fault("ack1:none"), {"status"}, 1, loader_lines() + no_acknowledge_block(), 33},
        {"wrong first acknowledge", fault("ack1:wrong"), {"status"}, 1, loader_lines() + wrong_acknowledge_block(),
         33},
        {"no second acknowledge", fault("ack2:none"), {"status"}, 1, bring_up_lines() + no_acknowledge_block(),
         k_bring_up},
        {"wrong second acknowledge", fault("ack2:wrong"), {"status"}, 1,
         bring_up_lines() + wrong_acknowledge_block(), k_bring_up},
    };
    // The next bring-up of the same board goes through, as after a repair.
    for (auto& c : cases) c.board.insert(c.board.end(), {"--faulty-bring-ups", "1"});
    play_and_check(cases);
}

// --- status and reset -------------------------------------------------------------

std::string after_bring_up(const std::string& text) { return bring_up_lines() + ready_block() + text; }

TEST(fault_matrix, status_and_reset)
{
    const auto wrong_checksum = error_block({"     Wrong checksum byte received", restart_advice()});
    const auto reset_done =
        notice_block({"                             Software Reset sucessfully executed !"}) +
        "\n\n                     To execute further commands 'Re-Start' the Fernwick !\n\n";
    // A fault at the status reading of sector n - 1 (the nth exchange), or at the reset.
    const auto status_case = [](const std::string& f, std::size_t n, int exit_status, const std::string& log) {
        return matrix_case{"--fault " + f, fault(f),    {"status"}, exit_status, after_bring_up(log),
                           k_bring_up + n * k_status, f.ends_with("drop")};
    };
    const auto reset_case = [](const std::string& f, int exit_status, const std::string& log) {
        return matrix_case{"--fault " + f,       fault(f),       {"reset"},         exit_status,
                           after_bring_up(log), k_bring_up + 1, f.ends_with("drop")};
    };
    play_and_check({
        // The acknowledge after a wrong checksum byte is judged as another checksum byte.
        status_case("status:3:checksum", 3, 1, wrong_checksum + wrong_checksum),
        status_case("status:1:status=91", 1, 1,
                    error_block({"     Something went wrong when reading the Flash-status !",
                                 "      Please Re-Start the Fernwick !"})),
        status_case("status:2:silence", 2, 1, reply_time_out_block()),
        status_case("status:4:drop", 4, 1, reply_time_out_block()),
        status_case("status:2:delay=2500", 2, 1, reply_time_out_block()),
        status_case("status:2:delay=300", 4, 0, sector_lines()),
        reset_case("reset:1:status=13", 1,
                   error_block({"     I didn't receive the right confirmation after reset the microcontroller !"})),
        reset_case("reset:1:silence", 1, reply_time_out_block()),
        reset_case("reset:1:drop", 1, reply_time_out_block()),
        reset_case("reset:1:delay=300", 0, reset_done),
    });
}

// --- programming: save into sector 0, then sectors 2 and 0 --------------------------

// The run of `program` below: the save of the bootstrap loader code into
// sector 0, then sector 2 (the code and one block), then sector 0 (one block).
struct procedure {
    std::string notice;
    bool save;
    int blocks;
};
const procedure k_run[] = {
    {"                         Bootstrap Loader Code successfully saved in Sector 0", true, 2},
    {"                         Sector  2   successfully programmed", false, 3},
    {"                         Sector  0   successfully programmed", false, 1},
};

// One exchange of the run: its procedure, whether it is an erase, and the
// host bytes sent up to its end.
struct exchange {
    std::size_t procedure;
    bool erase;
    std::size_t end;
};

std::vector<exchange> run_exchanges()
{
    std::vector<exchange> all;
    std::size_t sent = k_bring_up;
    for (std::size_t p = 0; p < std::size(k_run); ++p) {
        all.push_back({p, true, sent += k_erase});
        for (int b = 0; b < k_run[p].blocks; ++b) all.push_back({p, false, sent += k_block});
    }
    return all;
}

exchange nth_exchange(bool erase, int nth)
{
    for (const auto& x : run_exchanges())
        if (x.erase == erase && --nth == 0) return x;
    throw std::out_of_range("the run has fewer exchanges");
}

const std::string k_hex =
    ":020000040000FA\n:10010000000102030405060708090A0B0C0D0E0F77\n"
    ":020000040002F8\n:10010000000102030405060708090A0B0C0D0E0F77\n:00000001FF\n";

// A hex file of its own for each case: the run writes its block file beside it.
std::string own_hex_file()
{
    const auto path = temp_dir() + "/app.hex";
    write_file(path, k_hex);
    return path;
}

std::vector<std::string> program(const std::string& hex)
{
    return {"program", hex, "--sectors", "0,2", "--bsl-now", "2", "--bsl-target", "2"};
}

std::string time_out_message(const exchange& x)
{
    return k_run[x.procedure].save ? "     I didn't received the byte that I was waiting for ! "
                                   : "     TimeOut: I didn't received the byte that I was waiting for ! ";
}

// The output of a run up to the notices of its first `done` procedures.
std::string program_log(const std::string& hex, std::size_t done)
{
    std::string log = after_bring_up(notice_block({" Program Hex-File : " + hex}) + "Sectors: 0,2\n") +
                      notice_block({"                             Please wait one moment !"});
    for (std::size_t p = 0; p < done; ++p) log += notice_block({k_run[p].notice});
    return log;
}

// The whole output of a run that fails in exchange x with `message`.
std::string program_log(const std::string& hex, const exchange& x, const std::string& message)
{
    return program_log(hex, x.procedure) + flash_failure_block(message);
}

// A late answer within the wait changes nothing.
matrix_case late_answer(const std::string& f)
{
    const auto hex = own_hex_file();
    return {"--fault " + f,
            fault(f),
            program(hex),
            0,
            program_log(hex, std::size(k_run)) + "\n" +
                notice_block({"                        Programming sucessfully finished !"}) +
                "\n\n                       You can continue with another operation...\n\n",
            run_exchanges().back().end};
}

// `--fault KIND:N:ACTION` on the Nth erase or block of the run; an empty
// message stands for the time-out.
matrix_case flash_case(const std::string& kind, int nth, const std::string& action, const std::string& message)
{
    const auto hex = own_hex_file();
    const auto x = nth_exchange(kind == "erase", nth);
    const auto f = kind + ":" + std::to_string(nth) + ":" + action;
    return {"--fault " + f, fault(f), program(hex), 1,
            program_log(hex, x, message.empty() ? time_out_message(x) : message), x.end, action == "drop"};
}

const char* const k_checksum = "     A Checksum Error occured ! ";

// Every answer fault at one exchange; `slow` adds the wait of a silent chip.
std::vector<matrix_case> every_fault(const std::string& kind, int nth, bool slow)
{
    std::vector<matrix_case> cases = {
        flash_case(kind, nth, "checksum", k_checksum),
        flash_case(kind, nth, "status=91", "     A Command Error occured ! "),
        flash_case(kind, nth, "status=92", "     A TimeOut Error occured ! "),
        flash_case(kind, nth, "status=93", "     A Flag Error occured ! "),
        flash_case(kind, nth, "status=94", "     A Operand Error occured ! "),
        flash_case(kind, nth, "status=5A", "     A unknown status Error byte was received ! "),
        flash_case(kind, nth, "drop", ""),
    };
    if (slow) cases.push_back(flash_case(kind, nth, "silence", ""));
    return cases;
}

TEST(fault_matrix, programming)
{
    std::vector<matrix_case> cases;
    const auto add = [&cases](std::vector<matrix_case> more) { cases.insert(cases.end(), more.begin(), more.end()); };
    add(every_fault("erase", 2, true));  // sector 2
    add(every_fault("block", 4, true));  // sector 2's second block
    add({
        // The save of the bootstrap loader code into sector 0, with its own time-out wording.
        flash_case("erase", 1, "checksum", k_checksum),
        flash_case("erase", 1, "status=92", "     A TimeOut Error occured ! "),
        flash_case("erase", 1, "silence", ""),
        flash_case("block", 1, "status=94", "     A Operand Error occured ! "),
        flash_case("block", 2, "checksum", k_checksum),
        flash_case("block", 2, "drop", ""),
        // Sector 0 after the other two procedures.
        flash_case("erase", 3, "status=91", "     A Command Error occured ! "),
        flash_case("block", 6, "status=5A", "     A unknown status Error byte was received ! "),
        late_answer("erase:2:delay=300"),
        late_answer("block:4:delay=300"),
    });
    play_and_check(cases);
}

// --- the line dropped at a random byte of each phase ----------------------------------

unsigned matrix_seed()
{
    const char* chosen = std::getenv("FERNWICK_MATRIX_SEED");
    return chosen ? static_cast<unsigned>(std::strtoul(chosen, nullptr, 10)) : 20240611u;
}

matrix_case dropped_at(std::size_t n, unsigned seed, std::vector<std::string> command, std::string log)
{
    return {"line dropped at host byte " + std::to_string(n) + " (FERNWICK_MATRIX_SEED=" + std::to_string(seed) +
                ")",
            fault("drop-at:" + std::to_string(n)),
            std::move(command),
            1,
            std::move(log),
            std::nullopt,
            true};
}

std::string bring_up_dropped_log(std::size_t n)
{
    if (n == 1) return zero_byte_line() + transmission_error_block();
    return (n <= 33 ? loader_lines() : bring_up_lines()) + no_acknowledge_block();
}

TEST(fault_matrix, line_dropped_at_a_random_byte_of_each_phase)
{
    const unsigned seed = matrix_seed();
    std::mt19937 random(seed);
    const auto pick = [&random](std::size_t first, std::size_t last) { return first + random() % (last - first + 1); };
    const auto run = run_exchanges();
    std::vector<matrix_case> cases;
    for (int i = 0; i < 2; ++i) {
        const auto in_bring_up = pick(1, k_bring_up);
        cases.push_back(dropped_at(in_bring_up, seed, {"status"}, bring_up_dropped_log(in_bring_up)));
        const auto in_status = pick(k_bring_up + 1, k_bring_up + 4 * k_status);
        cases.push_back(dropped_at(in_status, seed, {"status"}, after_bring_up(reply_time_out_block())));
        const auto in_programming = pick(k_bring_up + 1, run.back().end);
        const auto hex = own_hex_file();
        const auto x = *std::find_if(run.begin(), run.end(),
                                     [in_programming](const exchange& e) { return e.end >= in_programming; });
        cases.push_back(dropped_at(in_programming, seed, program(hex), program_log(hex, x, time_out_message(x))));
    }
    play_and_check(cases);
}

}  // namespace
