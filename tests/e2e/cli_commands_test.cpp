#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <future>
#include <thread>
#include <tuple>

#include "core/qt_serial_link.h"
#include "support_board.h"

namespace {

using namespace fernwick::e2e;
using namespace std::string_literals;

// The failures of each exchange, with their exact logs, are in the fault matrix.

const std::string sectors = "Sector 0: 0010\nSector 1: 0111\nSector 2: 0212\nSector 3: 0313\n";

run_result cli(const simulated_board& board, std::vector<std::string> args)
{
    args.insert(args.begin(), {binary("fernwick-cli"), "--device", board.device()});
    return run(args);
}

// The board follows the rate the port's driver was given and traces it, so
// each rate of the reset window is seen as set.
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
        auto args = command;
        args.insert(args.begin(), {"--baud", baud});
        const auto out = cli(board, args);
        board.stop();
        EXPECT_EQ(out.status, 0) << out.out << out.err;
        EXPECT_NE(out.out.find(shows), std::string::npos) << out.out;
        EXPECT_EQ(out.out.find("latency_timer"), std::string::npos) << out.out;  // answers on time: no hint
        EXPECT_NE(read_file(dir + "/trace" + baud).find(" line rate " + baud + "\n"), std::string::npos);
    }
    std::filesystem::remove_all(dir);
}

// Runs that cannot start: a port that cannot be used names the device and the
// reason; a trace (FERNWICK_TRACE) is created at start by both programs or
// they refuse to start, naming the path and the reason; a file that cannot be
// used, or files to write that are the hex file, one another or another run's,
// are refused before the port is opened; usage errors exit 2.
TEST(cli_commands, a_run_that_cannot_start_says_why_with_its_exit_status)
{
    const auto dir = temp_dir();
    simulated_board board;
    simulated_board silent({"--fault", "id:none"});
    simulated_board answering_wrong({"--fault", "ack1:wrong"});
    simulated_board left_running;  // its program runs on after a status reading
    // The third erase is sector 2's, once the code was saved in sector 0.
    simulated_board flagged({"--fault", "erase:3:status=93"});
    simulated_board unclear({"--fault", "erase:3:checksum"});
    simulated_board unconfirmed({"--fault", "erase:3:status=93", "--fault", "reset:1:status=91"});
    std::filesystem::create_directory(dir + "/fixtures");
    simulated_board fixture_board({"--link", dir + "/fixtures/1"});
    simulated_board empty_fixture({"--link", dir + "/fixtures/2", "--fixed-adapter"});
    empty_fixture.take_out_or_put_in();
    simulated_board flagged_fixture({"--link", dir + "/fixtures/flagged", "--fault", "erase:3:status=93"});
    simulated_board full_fixture({"--link", dir + "/fixtures/full"});
    write_file(dir + "/full.jsonl", std::string(1 << 20, '\n'));  // a report that may grow no further
    std::signal(SIGXFSZ, SIG_IGN);
    fernwick::core::qt_serial_link holder;
    ::setenv("FERNWICK_COM2", board.device().c_str(), 1);
    holder.set_comm_port(2);
    ASSERT_TRUE(holder.open()) << holder.error_text();
    write_file(dir + "/file", "");
    write_file(dir + "/damaged.hex", ":020000040001F9\n:0180000011EE\n:00000001FF\n");
    write_file(dir + "/nowhere.hex", ":020000040001F9\n:0100000011EE\n:00000001FF\n");
    write_file(dir + "/joined.hex", ":020000040001F9\n:01800000116E\n:00000001FF\n:020000040002F8\n:0100000022DD\n");
    write_file(dir + "/app.hex", ":020000040001F9\n:01800000116E\n:00000001FF\n");
    write_file(dir + "/line.hex", ":020000040001F9\n:01800000116E\n:00000001FF\n");
    write_file(dir + "/line.NEW", "a report's record\n");
    write_file(dir + "/two.hex", ":020000040001F9\n:01800000116E\n:020000040002F8\n:0101000022DC\n:00000001FF\n");
    // A job for app.hex made before the file was changed, and one of a later format.
    const std::string job_fields =
        R"("product": "P", "hex_file": "app.hex", "hex_sha256": ")" + std::string(64, '0') +
        R"(", "sectors": null, "bsl_now": 2, "bsl_target": 2, "sector0_segment": 0, "allow_unplaced": false,
        "entry": "", "exit": "", "baud": 9600, "retries": 0, "count": 0, "ledger": "", "report": "", "log_dir": "",
        "serial": null, "ports": []})";
    write_file(dir + "/changed.job", R"({"format": 1, )" + job_fields);
    write_file(dir + "/later.job", R"({"format": 2, )" + job_fields);
    // Read through a link from another folder, and with a ledger named from the job's folder.
    std::filesystem::create_directory(dir + "/jobs");
    std::filesystem::create_symlink(dir + "/changed.job", dir + "/jobs/linked.job");
    auto relative = job_fields;
    relative.replace(relative.find(R"("ledger": "")"), 12, R"("ledger": "line.db")");
    write_file(dir + "/jobs/relative.job", R"({"format": 1, )" + relative);
    write_file(dir + "/ported.job",
               R"({"format": 1, )" + job_fields.substr(0, job_fields.size() - 3) + R"(["/dev/fix*"]})");
    std::filesystem::create_directory(dir + "/logs");
    std::filesystem::create_symlink(dir + "/app.hex", dir + "/link.jsonl");
    std::filesystem::create_symlink(dir + "/file", dir + "/logs/other.log");
    std::filesystem::create_symlink(board.device(), dir + "/board-link");
    std::filesystem::create_symlink(board.device(), dir + "/port\xFF");
    ::mkfifo((dir + "/fifo").c_str(), 0600);
    write_file(dir + "/logs/held.log", "another run's log\n");
    write_file(dir + "/logs/kept.log", "the last run's log\n");
    std::filesystem::create_symlink(dir + "/file", dir + "/trace-link");
    std::filesystem::create_directories(dir + "/config/fernwick");
    write_file(dir + "/config/fernwick/fernwick.ini", "entry=both=1,1,wait=x\n");  // a list, to Qt's settings
    const int held = ::open((dir + "/logs/held.log").c_str(), O_WRONLY);
    ASSERT_EQ(::flock(held, LOCK_SH), 0);  // any lock: the log is in use
    const auto program = [&](const std::string& hex, std::vector<std::string> more = {}) {
        more.insert(more.begin(), {binary("fernwick-cli"), "--device"s, dir + "/no-port", "program"s, dir + hex});
        return more;
    };
    const auto cli = binary("fernwick-cli");
    const auto status_on = [&cli](const std::string& device) {
        return std::vector{cli, "--device"s, device, "status"s};
    };
    const auto in_use = [](const std::string& reason) {
        return " Serial Port currently used by another application !\n " + reason + "\n\n Close";
    };
    const struct {
        std::vector<std::string> argv;
        int status;         // -1: still running when stopped
        std::string shows;  // in the output (or the error output), only in the error output with status 2
        std::string trace = "";
    } rows[] = {
        {status_on(board.device()), 1, in_use(board.device() + ": held by another program")},
        {{cli, "--com", "2", "status"}, 1, "fernwick-cli: COM 2 is " + board.device()},
        {status_on("/dev/nonexistent-port"), 1, " /dev/nonexistent-port: No such file or directory; "},
        {status_on("ttyNONE"), 1, " /dev/ttyNONE: No such file or directory; "},
        {status_on(dir + "/port\xFF"), 2,
         "/port\\xFF: the port's name is not valid UTF-8, which is not supported; use " + board.device() +
             ", the device it leads to; nothing was sent\n"},
        {status_on(dir + "/file"), 1, in_use(dir + "/file: Inappropriate ioctl for device")},
        {status_on(dir), 1, in_use(dir + ": Is a directory"), dir + "/cli.trace"},
        {status_on(silent.device()), 1,
         silent.device() + " at 9600 baud: no answer from the chip. Usual causes: the board is not in bootstrap mode"},
        {status_on(answering_wrong.device()), 1, "     I didn't receive the right acknowledge byte from the uC !"},
        // a pseudo-terminal has no modem lines: nothing is sent, so no advice on a silent chip
        {{cli, "--device", silent.device(), "status", "--entry", "reset-rts-boot-dtr"},
         1,
         silent.device() + ": the port has no modem lines (Inappropriate ioctl for device)\n     Entry sequence: "
                           "reset-rts-boot-dtr (both=1,1,wait=100,rts=0,wait=50)\n"},
        {status_on(left_running.device()), 0, sectors},
        // a command's options before the command's name, in both spellings
        {{cli, "--device", silent.device(), "--wait=3", "status"},
         1,
         "Waiting for the board (no answer yet), up to 3 s\n"},
        // a board knows nothing of its port: 3 s after the last run closed it, its program still runs
        {status_on(left_running.device()), 0,
         "     The uC's program was still running and has reset: sending the zero byte again\n"},
        // a board that never answered gets the zero byte again, once the operator may have reset it
        {{cli, "--device", silent.device(), "program", dir + "/app.hex", "--retries", "1"},
         1,
         "no answer from the chip. Usual causes: the board is not in bootstrap mode or was not reset just before, "
         "TX and RX are swapped, or the baud rate is wrong.\nFailed at: bring-up\nnothing was erased: the bootstrap "
         "code lies where it did\nAttempt 2 of 2, from "
         "--bsl-now 2: reset the board into its bootstrap mode\n\n     Sending the zero byte"},
        // a retry from sector 0: the sector kept on only for the copy of the code is left alone
        {{cli, "--device", flagged.device(), "program", dir + "/two.hex", "--retries", "1"},
         0,
         "reset by software for the next attempt\nFailed at: erase, sector 2, received BE 93\nthe bootstrap code now "
         "lies only in sector 0: run again with --bsl-now 0\nAttempt 2 of 2, from --bsl-now 0\n"},
        // a chip that did not answer whole may be amid a command: no reset is sent into it; the zero byte
        // of the next bring-up resets it
        {{cli, "--device", unclear.device(), "program", dir + "/two.hex", "--retries", "1"},
         0,
         "*************************************\nFailed at: erase, sector 2, received BF\n"},
        {{cli, "--device", unconfirmed.device(), "program", dir + "/two.hex", "--retries", "1"},
         0,
         "     The chip did not confirm a software reset\nFailed at: erase, sector 2, received BE 93\nthe bootstrap "
         "code now lies only in sector 0: run again with --bsl-now 0\nAttempt 2 of 2, from --bsl-now 0: reset the "
         "board into its bootstrap mode\n"},
        {{cli, "--device", silent.device(), "program", dir + "/app.hex", "--entry", "dtr=1", "--retries", "1"},
         1,
         "No further attempt: the port could not be used, and nothing was sent to the board"},
        {program("/app.hex", {"--retries", "101"}), 2, "fernwick-cli: --retries: takes a whole number from 0 to 100"},
        {{cli, "status", "--wait", "1e3"}, 2, "fernwick-cli: --wait: takes a whole number from 1 to 3600"},
        {{binary("fernwick")}, -1, "", dir + "/gui.trace"},
        {{binary("fernwick"), "--entry", "dtr=2"}, 2, "fernwick: --entry: step 1 'dtr=2': dtr takes 0 or 1\n"},
        {{"/usr/bin/env", "XDG_CONFIG_HOME=" + dir + "/config", binary("fernwick")},
         2,
         "fernwick: " + dir + "/config/fernwick/fernwick.ini: entry: step 2 'wait=x': wait takes 0 to 10000 ms\n"},
        {{binary("fernwick")},
         2,
         "fernwick: cannot create the trace file " + dir + "/none/gui.trace: No such file or directory\n",
         dir + "/none/gui.trace"},
        {status_on(dir), 2, "fernwick-cli: cannot create the trace file " + dir + ": Is a directory\n", dir},
        {program("/missing.hex"), 2, "missing.hex: No such file or directory; nothing was sent"},
        {program("/fifo"), 2, "/fifo: not a regular file; nothing was sent"},
        {{cli, "station", dir + "/fifo", "--port", dir + "/fixtures/1"},
         2,
         dir + "/fifo: not a regular file; no board was touched"},
        {program("/damaged.hex"), 2, "damaged.hex: line 2 has the checksum EEh, it should be 6Eh; nothing was sent"},
        {program("/nowhere.hex"), 2,
         "nowhere.hex: no data of this file lies in a flash sector with sector 0 mapped to segment 0"},
        {program("/joined.hex"), 2,
         "joined.hex: 1 byte of its data reaches no flash (--allow-unplaced programs the rest); nothing was sent\n"
         "  02'0000h (line 5, 1 byte): after the end record\n"},
        // files the run would write over the hex file, one another, or a log another run still writes
        {program("/app.hex", {"--report", dir + "/link.jsonl"}), 2,
         "the report " + dir + "/link.jsonl is the hex file"},
        {program("/app.hex", {"--report", dir + "/app.NEW"}), 2, "and the report " + dir + "/app.NEW are one file"},
        {program("/app.hex", {"--report", dir + "/fifo"}), 2,
         "cannot write the report: " + dir + "/fifo: not a regular"},
        {program("/app.hex", {"--report", "/dev/full"}), 2, "cannot write the report: /dev/full: not a regular file"},
        {program("/app.hex", {"--device", "a-b", "--device", "a/b", "--log-dir", dir + "/logs"}), 2,
         "of a/b are one file"},
        {program("/app.hex", {"--device", "other", "--log-dir", dir + "/logs"}), 2,
         "/logs/other.log: a link; a log is not written"},
        {program("/app.hex", {"--device", "held", "--log-dir", dir + "/logs"}), 2,
         "/logs/held.log: held by another run"},
        {program("/app.hex", {"--device", board.device(), "--device", dir + "/board-link"}), 2,
         " and " + dir + "/board-link are one device"},
        {program("/app.hex", {"--device", "x", "--device", "x"}), 2, "the device x is given twice"},
        // a trace refused after the logs were opened: the last run's log stays whole
        {program("/app.hex", {"--device", "kept", "--log-dir", dir + "/logs"}), 2,
         "cannot create the trace file " + dir + "/none/t", dir + "/none/t"},
        {program("/app.hex"), 2, "trace file " + dir + "/trace-link: a link; a trace is not written through one",
         dir + "/trace-link"},
        {program("/app.hex", {"--exit", "reset-rts-boot-jumper"}), 2, "--exit: reset-rts-boot-jumper has no exit"},
        {{cli, "ledger", dir + "/app.hex"}, 2, "fernwick-cli ledger: " + dir + "/app.hex: not a ledger"},
        // a fixed adapter without a board is no board, also when --count ends its wait
        {{cli, "station", dir + "/app.hex", "--port", dir + "/fixtures/[12]", "--count", "1"},
         0,
         "\nPassed 1, failed 0,"},  // the last line, the totals at the end
        {{cli, "station", dir + "/line.hex", "--port", dir + "/fixtures/1", "--report", dir + "/line.NEW"},
         2,
         "the block file " + dir + "/line.NEW and the report " + dir + "/line.NEW are one file"},
        {{cli, "station", dir + "/two.hex", "--port", dir + "/fixtures/flagged"},
         -1,
         "Failed at: erase, sector 2, received BE 93; the bootstrap code now lies only in sector 0: run again with "
         "--bsl-now 0 (fernwick-cli program)"},
        {{cli, "plan", dir + "/app.hex", "--entry", "reset-rts-boot-jumper", "--exit", "reset-rts-boot-dtr-inverted"},
         0,
         "Modem lines:\n  entry before each zero byte (150 ms): reset-rts-boot-jumper (rts=1,wait=100,rts=0,wait=50)\n"
         "  exit after a run that succeeded (100 ms): reset-rts-boot-dtr-inverted (dtr=1,rts=0,wait=100,rts=1)\n"},
        {{cli, "--device", silent.device(), "program", dir + "/app.hex", "--entry", "reset-rts-boot-jumper", "--report",
          dir + "/entry.jsonl"},
         1,
         "Failed at: bring-up"},
        // last of the rows on app.hex: the trace would have cut it to nothing
        {program("/app.hex"), 2, "the trace " + dir + "/app.hex is the hex file; nothing was sent", dir + "/app.hex"},
        // a station refuses before its boards are touched: the board here would answer
        {{cli, "station", dir + "/app.hex", "--port", board.device(), "--serial", "28000h:4"},
         2,
         "the serial number at 02'8000h-02'8003h lies in sector 3, which this run does not program; no board was "
         "touched"},
        {{cli, "station", dir + "/app.hex", "--port", board.device(), "--serial", "18000h:2"},
         2,
         "is not free: the file gives 01'8000h (line 2) the byte 11h"},
        {{cli, "station", dir + "/app.hex", "--port", board.device(), "--ledger", dir + "/app.hex"},
         2,
         "the ledger " + dir + "/app.hex is the hex file; no board was touched"},
        {{cli, "station", dir + "/app.hex", "--port", "ttyUSB*"},
         2,
         "the port pattern ttyUSB* is not an absolute path"},
        {{cli, "job", "make", dir + "/usb.job", dir + "/app.hex", "--product", "P", "--port", "ttyUSB*"},
         2,
         "fernwick-cli job make: the port pattern ttyUSB* is not an absolute path"},
        {{cli, "station", "--job", dir + "/changed.job", dir + "/app.hex", "--sectors", "0", "--count", "2", "--baud",
          "4800", "--operator", "Ann", "--port", board.device()},
         2,
         "the job fixes FILE, --sectors, --count and --baud: they are not given beside --job"},
        {{cli, "station", "--job", dir + "/changed.job", "--port", board.device()},
         2,
         "fernwick-cli station: " + dir + "/app.hex is not the job's file: its SHA-256 is "},
        {{cli, "station", "--job", dir + "/jobs/linked.job", "--port", board.device()},
         2,
         "fernwick-cli station: " + dir + "/app.hex is not the job's file: its SHA-256 is "},
        {{cli, "job", "show", dir + "/jobs/relative.job"}, 0, "\nLedger: " + dir + "/jobs/line.db\n"},
        {{cli, "job", "make", dir + "/named.job", dir + "/app.hex", "--product", "Demo\nboard"},
         2,
         "fernwick-cli job make: the product's name has a line end, a tab or another control character; no job was "
         "written"},
        {{cli, "job", "make", dir + "/hosted.job", dir + "/app.hex", "--product", "P", "--serial-lease", "4"},
         2,
         "--host-name, --spool and --serial-lease belong to each host, not to the job"},
        {{cli, "station", "--job", dir + "/changed.job", "--operator", "Ann", "--lot", " ", "--port", board.device()},
         2,
         "fernwick-cli station: --lot is empty: it is kept with every board (no board was touched)"},
        {{cli, "station", "--job", dir + "/later.job", "--port", board.device()},
         2,
         "later.job: a job of format 2; this fernwick-cli runs jobs of format 1"},
        {{cli, "station", "--job", dir + "/ported.job", "--port", board.device()},
         2,
         "ported.job names its fixtures' ports (/dev/fix*): --port is given only with a job that names none"},
        // a job made beside its file names it so, and finds it beside itself wherever it is run from
        {{cli, "job", "make", dir + "/made.job", dir + "/app.hex", "--product", "P", "--port", "/dev/fix*"},
         0,
         "made.job: P, "},
        {{cli, "job", "show", dir + "/made.job"}, 0, "Hex file: app.hex (" + dir + "/app.hex)\n"},
        // a count with a leading zero is ten, not octal eight
        {{cli, "job", "make", dir + "/ten.job", dir + "/app.hex", "--product", "P", "--port", "/dev/fix*", "--count",
          "010"},
         0,
         "ten.job: P, "},
        {{cli, "job", "show", dir + "/ten.job"}, 0, "Batch: 10 boards passed\n"},
        {{cli, "--device", "", "status"}, 2, "--device is given an empty value"},
        // an option the command does not use is refused, not left unused
        {{cli, "station", dir + "/app.hex", "--port", board.device(), "--com", "1"},
         2,
         "station finds its boards with --port"},
        {{cli, "--com", "1", "plan", dir + "/app.hex"}, 2, "--com is an option of status, reset, program, not of plan"},
        {{cli, "ledger", dir + "/ledger", "--baud", "4800"},
         2,
         "--baud is an option of status, reset, program, station, plan, job make, not of ledger"},
        {{cli, "ledger", dir + "/ledger", "--reservation-seconds", "60"}, 2, "is an option of ledger init"},
        {{cli}, 2, "--help"},
        {{cli, "--baud", "1200", "status"}, 2, "--help"},
        {{cli, "flash"}, 2, "--help"},
        {{cli, "--com", "3", "status"}, 2, "--help"},
        {{cli, "status", "extra"}, 2, "--help"},
        {{cli, "program", "app.hex", "--sectors"}, 2, "--help"},
        {{cli, "program", "app.hex", "--sectors", ""}, 2, "--help"},
        {{cli, "program", "--help"}, 0, "Usage: fernwick-cli program [OPTIONS] FILE\n"},
        // one board only: the help of the line's options stays with program
        {{cli, "status", "--help"}, 0, "for up to SECONDS (1 to 3600)\n\nThe port options"},
        // a board programmed as asked whose record could not be written is no success
        {{"/usr/bin/prlimit", "--fsize=1048576", "--", cli, "station", dir + "/app.hex", "--port",
          dir + "/fixtures/full", "--count", "1", "--report", dir + "/full.jsonl"},
         1,
         " s  (not recorded)\n"},
    };
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    for (const auto& row : rows) {
        SCOPED_TRACE(row.shows);
        const auto trace_before = read_file(row.trace);  // a file of the user's, or none
        if (!row.trace.empty()) ::setenv("FERNWICK_TRACE", row.trace.c_str(), 1);
        const auto r = run(row.argv, row.status == -1 ? 2 : 120);
        ::unsetenv("FERNWICK_TRACE");
        EXPECT_EQ(r.status, row.status) << r.err;
        EXPECT_NE((row.status == 2 ? r.err : r.out + r.err).find(row.shows), std::string::npos) << r.out << r.err;
        // Only a chip that said nothing at all gets the advice for it.
        EXPECT_EQ(r.out.find("no answer from the chip") == std::string::npos,
                  row.shows.find("no answer") == std::string::npos);
        if (row.status == 2)
            EXPECT_EQ(read_file(row.trace), trace_before);
        else
            EXPECT_EQ(std::filesystem::is_regular_file(row.trace), !row.trace.empty());
    }
    EXPECT_EQ(read_file(dir + "/logs/held.log"), "another run's log\n");
    EXPECT_EQ(read_file(dir + "/logs/kept.log"), "the last run's log\n");
    EXPECT_EQ(read_file(dir + "/line.NEW"), "a report's record\n");
    EXPECT_NE(read_file(dir + "/entry.jsonl").find(R"("entry":"reset-rts-boot-jumper (rts=1,)"), std::string::npos);
    ::close(held);
    holder.close();
    // A lock alone, as `flock DEVICE` takes one, keeps the port; once it is gone the port opens.
    std::FILE* lock = std::fopen(board.device().c_str(), "r+");
    EXPECT_TRUE(lock && ::flock(fileno(lock), LOCK_EX) == 0 && !holder.open());
    std::fclose(lock);
    EXPECT_TRUE(holder.open()) << holder.error_text();
    std::filesystem::remove_all(dir);
}

// A fixture's board taken out and the next put in: the device and its link
// go with an unplugged adapter, or stay and say nothing on a fixed one; the
// next board is a fresh one, and each board's flash has a dump of its own.
TEST(cli_commands, a_board_taken_out_and_the_next_put_in_are_each_their_own)
{
    const auto dir = temp_dir();
    write_file(dir + "/app.hex", ":020000040001F9\n:01800000116E\n:00000001FF\n");
    for (const bool fixed : {false, true}) {
        SCOPED_TRACE(fixed ? "a fixed adapter" : "an adapter unplugged with its board");
        std::vector<std::string> options = {"--link", dir + "/fixture", "--dump", dir + "/flash.bin"};
        if (fixed) options.push_back("--fixed-adapter");
        simulated_board board(options);
        const auto on_fixture = [&](std::vector<std::string> command) {
            command.insert(command.begin(), {binary("fernwick-cli"), "--device", dir + "/fixture"});
            return run(command);
        };
        EXPECT_EQ(on_fixture({"program", dir + "/app.hex"}).status, 0);
        board.take_out_or_put_in();
        const auto empty = on_fixture({"status"});
        EXPECT_EQ(empty.status, 1);
        EXPECT_NE(empty.out.find(fixed ? "no answer from the chip" : "No such file or directory"), std::string::npos)
            << empty.out;
        // --wait lets the command start before the board is there, with or without its adapter.
        auto waiting = std::async(std::launch::async, [&] { return on_fixture({"status", "--wait", "20"}); });
        std::this_thread::sleep_for(std::chrono::seconds(1));
        board.take_out_or_put_in();
        const auto came = waiting.get();
        EXPECT_EQ(came.status, 0) << came.out;
        EXPECT_NE(came.out.find(fixed ? "Waiting for the board (no answer yet), up to 20 s"
                                      : "Waiting for " + dir + "/fixture to appear (it is not there yet), up to 20 s"),
                  std::string::npos)
            << came.out;
        board.stop();
        EXPECT_EQ(read_file(dir + "/flash.bin").substr(0x8000, 1), "\x11");  // app.hex's byte, in sector 1
        EXPECT_EQ(read_file(dir + "/flash.bin.2"), std::string(0x20000, '\xFF'));
    }
    // A station's board comes once its hex file, a link, leads to another file of the same time, and stays
    // while another program holds its port for a while: it gets the new file (of the same size and time, with
    // data in sector 3 instead of 1), and is not the next board.
    write_file(dir + "/three.hex", ":020000040002F8\n:01800000116E\n:00000001FF\n");
    std::filesystem::last_write_time(dir + "/three.hex", std::filesystem::last_write_time(dir + "/app.hex"));
    std::filesystem::create_symlink(dir + "/app.hex", dir + "/linked.hex");
    simulated_board board({"--link", dir + "/fixture", "--fixed-adapter"});
    board.take_out_or_put_in();
    const auto report = dir + "/station.jsonl";
    auto station = std::async(std::launch::async, [&] {
        return run(
            {binary("fernwick-cli"), "station", dir + "/linked.hex", "--port", dir + "/fixture", "--report", report},
            60, false, 10000);
    });
    std::this_thread::sleep_for(std::chrono::seconds(1));
    std::filesystem::create_symlink(dir + "/three.hex", dir + "/linked.new");
    std::filesystem::rename(dir + "/linked.new", dir + "/linked.hex");
    std::this_thread::sleep_for(std::chrono::seconds(1));
    board.take_out_or_put_in();
    within(10, [&] { return !read_file(report).empty(); });
    fernwick::core::qt_serial_link holder(dir + "/fixture");
    EXPECT_TRUE(holder.open()) << holder.error_text();
    std::this_thread::sleep_for(std::chrono::milliseconds(3500));
    holder.close();
    EXPECT_EQ(station.get().status, 143);
    const auto records = read_file(report);
    EXPECT_EQ(std::count(records.begin(), records.end(), '\n'), 1) << records;
    EXPECT_NE(records.find(R"("result":"ok")"), std::string::npos) << records;
}

}  // namespace
