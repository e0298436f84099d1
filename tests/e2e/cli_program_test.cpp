#include <gtest/gtest.h>

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <future>
#include <memory>
#include <optional>
#include <thread>

#include "support_board.h"
#include "support_flash.h"

namespace {

using namespace fernwick::e2e;

// Rewrites the block file beside `hex` all through a run, as another station
// converting the same file would, with blocks that would put other bytes in
// every sector and no bootstrap code anywhere.
class forger {
public:
    explicit forger(const std::string& block_file)
        : thread_([this, block_file] {
              std::string forged;
              for (const char* head : {"0,0,0,", "1,32768,1,", "2,0,2,", "3,32768,2,"})
                  forged += head + ("\"" + std::string(128, 'A') + "\",\"EOB\"\r\n");
              while (!stop_)
                  if (std::filesystem::exists(block_file)) {
                      write_file(block_file + ".forged", forged);
                      std::filesystem::rename(block_file + ".forged", block_file);
                  }
          })
    {
    }
    ~forger()
    {
        stop_ = true;
        thread_.join();
    }

private:
    std::atomic<bool> stop_ = false;
    std::thread thread_;
};

TEST(cli_program, the_flash_holds_exactly_the_file_after_programming)
{
    const struct {
        const char* name;
        unsigned seed;  // of the generated hex file
        int now, target, sector0_segment;
        std::string sectors;       // what the rules leave chosen
        bool tampered = false;     // another program rewrites the block file all through the run
        bool reader_gone = false;  // nobody reads the output
        bool in_the_way = false;   // a folder where the block file would be written
    } cases[] = {
        {"code moves to 0", 1, 2, 0, 0, "0,1,2,3"},
        {"sector 0 at segment 1", 2, 0, 2, 1, "0,1,2,3"},
        {"no code kept", 3, 2, -99, 0, "1,3"},
        {"code outside", 4, -99, 2, 1, "2,3"},
        {"the block file rewritten by another program during the run", 6, 2, 2, 0, "0,1,2,3", true},
        {"nobody reading the output", 7, 0, 2, 0, "0,1,2,3", false, true},
        {"the block file cannot be written: the blocks converted in memory go out", 9, 2, 2, 0, "0,1,2,3", false, false,
         true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto dir = temp_dir();
        const auto hex = generated(dir, c.seed);
        const auto before = random_flash(dir, 11, c.now);
        // Links lying in wait at names the tool might write through: the hex
        // file must come out as it went in.
        const auto hex_text = read_file(hex);
        const auto block_file = hex.substr(0, hex.rfind('.')) + ".NEW";
        for (const auto& bait : {block_file + ".tmp", block_file + ".tmp-a1b2c3d4"})
            std::filesystem::create_symlink(hex, bait);
        if (c.in_the_way) std::filesystem::create_directory(block_file);
        simulated_board board({"--preload", dir + "/before.bin", "--dump", dir + "/after.bin", "--erase-ms", "30"});
        std::optional<forger> other_station;
        if (c.tampered) other_station.emplace(block_file);
        const auto r =
            run({binary("fernwick-cli"), "--device", board.device(), "program", hex, "--sectors", c.sectors,
                 "--bsl-now", std::to_string(c.now), "--bsl-target", std::to_string(c.target), "--sector0-segment",
                 std::to_string(c.sector0_segment), "--allow-unplaced", "--report", dir + "/report.jsonl"},
                120, c.reader_gone);
        other_station.reset();
        board.stop();
        EXPECT_EQ(r.status, 0) << r.out << r.err;
        EXPECT_EQ(read_file(hex), hex_text);
        EXPECT_TRUE(c.reader_gone || r.out.find("Sectors: " + c.sectors + "\n") != std::string::npos) << r.out;
        // The simulated board takes the bytes at once: no share of the line's rate to speak of.
        EXPECT_TRUE(c.reader_gone || r.out.find(", faster than 9600 baud allows") != std::string::npos) << r.out;
        const auto records = json_lines(read_file(dir + "/report.jsonl"));
        const auto record = records.empty() ? QJsonObject() : records[0];
        EXPECT_EQ(record["block_file"], c.in_the_way ? QJsonValue() : QJsonValue(block_file.c_str()));
        EXPECT_EQ(record["answer_delay_ms"], 0);  // its answers come before the line could carry them: never late
        // Every range is in the report; only the terminal sums the many up.
        for (const auto& range : record["unplaced"].toArray()) EXPECT_FALSE(range.toString().startsWith("and "));
        const auto after = read_image(dir + "/after.bin");
        const auto expected =
            expected_flash(before, read_with_srec_cat(hex, dir), c.sectors, c.target, c.sector0_segment);
        ASSERT_EQ(after.size(), expected.size());
        const auto diff = std::mismatch(after.begin(), after.end(), expected.begin());
        EXPECT_TRUE(diff.first == after.end())
            << "first difference at flash offset " << std::hex << (diff.first - after.begin());
    }
}

// Several boards in one command: each is programmed, fails or stops on its
// own, and the report (read back as JSON), the table, the logs and the traces
// say which; on a terminal, each failed board's reason follows the table.
TEST(cli_program, a_production_line_programs_every_board_and_says_how_each_ended)
{
    const std::vector<std::string> timed = {"--line-rate", "19200", "--erase-ms", "300", "--program-ms", "2"};
    const std::vector<std::string> slow = {"--line-rate", "2400"};  // a bring-up of 2.3 s
    const std::vector<std::string> silent = {"--fault", "id:none"};
    const std::vector<std::string> flag_error = {"--fault", "block:3:status=93"};
    const std::vector<std::string> stopped = {"stopped", "stopped"};
    struct stopping {
        int signal = 0;  // sent after `after_ms`, and again after `again_ms`: a quit at once
        int after_ms = 0, again_ms = 0;
    };
    const struct {
        const char* name;
        std::vector<std::vector<std::string>> boards;  // mirel-sim options of each
        std::vector<std::string> results;              // of each board in the report; "flag error" is failed at block 3
        stopping stop = {};                            // the run ends with 128 + the signal, else with 1
        std::vector<int> attempts = {};                // of each board, run with --retries 1
        int damage_hex_after_ms = 0;
        std::string new_hex = ":0180000011EE\n:00000001FF\n";  // written at damage_hex_after_ms
        bool terminal = false;     // on a pseudo-terminal, with a device that does not exist added
        bool report_full = false;  // the report cannot grow when the boards are done
    } rows[] = {
        {"a Flag Error on one board among healthy ones", {{}, flag_error, {}}, {"ok", "flag error", "ok"}},
        {.name = "on a terminal", .boards = {{}, flag_error}, .results = {"ok", "flag error"}, .terminal = true},
        {"SIGTERM in the middle of the run", {timed, timed}, stopped, {SIGTERM, 1500}, {1, 1}},
        // the fourth erase is sector 2's, after the code was saved in sector 0; the second attempt's third
        {"a Flag Error in sector 2, retried from sector 0",
         {{"--fault", "erase:4:status=93"}, {"--fault", "erase:4:status=93", "--fault", "erase:7:status=93"}},
         {"ok", "failed"},
         {},
         {2, 2}},
        // Programmed as asked, but a report that could not be written is no success.
        {.name = "a full report", .boards = {{}, {}}, .results = {"ok", "ok"}, .report_full = true},
        {"SIGINT during the bring-up", {slow, slow}, stopped, {SIGINT, 600}},
        {"SIGHUP during the bring-up", {slow, slow}, stopped, {SIGHUP, 600}},
        // each board's code is said to lie where it does, though no exchange ends
        {"Ctrl-C twice during the erases",
         {{"--line-rate", "19200", "--fault", "erase:1:delay=8000"},
          {"--line-rate", "19200", "--fault", "erase:2:delay=8000"}},
         {"quit", "quit"},
         {SIGINT, 3000, 300}},
        // the exchange under way ends in a Flag Error: no attempt follows, so no software reset for one
        {"SIGINT before a Flag Error",
         {{"--line-rate", "19200", "--fault", "erase:1:delay=3000", "--fault", "erase:1:status=93"}, timed},
         {"failed", "stopped"},
         {SIGINT, 1500},
         {1, 1}},
        // boards that do not answer: stopped, not failed at the bring-up's time-out
        {"SIGQUIT during the bring-up", {silent, silent}, stopped, {SIGQUIT, 600}},
        // One board was touched: no "nothing was sent".
        {"the hex file damaged after one board was programmed", {{}, slow}, {"ok", "failed"}, {}, {}, 1200},
        // a sound file, but not the one the run began with: no retry sends it
        {"the hex file changed before a retry",
         {{"--fault", "erase:4:delay=2000,status=93"}, {}},
         {"failed", "ok"},
         {},
         {1, 1},
         1000,
         ":020000040001F9\n:01800000116E\n:00000001FF\n"},
    };
    const auto dir = temp_dir();
    const auto hex = generated(dir, 8);
    const auto hex_text = read_file(hex);
    const auto expected = expected_flash(random_flash(dir, 13, 2), read_with_srec_cat(hex, dir), "0,1,2,3", 2, 0);
    ::setenv("FERNWICK_TRACE", (dir + "/trace").c_str(), 1);
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        write_file(hex, hex_text);
        std::vector<std::unique_ptr<simulated_board>> boards;
        std::vector<std::string> argv = {
            binary("fernwick-cli"), "--baud",    "19200",      "program", hex, "--allow-unplaced", "--report",
            dir + "/report.jsonl",  "--log-dir", dir + "/logs"};
        for (std::size_t i = 0; i < row.boards.size(); ++i) {
            auto options = row.boards[i];
            options.insert(options.end(),
                           {"--preload", dir + "/before.bin", "--dump", dir + "/after" + std::to_string(i) + ".bin"});
            boards.push_back(std::make_unique<simulated_board>(options));
            argv.insert(argv.end(), {"--device", boards.back()->device()});
        }
        if (!row.attempts.empty()) argv.insert(argv.end(), {"--retries", "1"});
        const auto missing = dir + "/no-such-port";
        if (row.terminal) {
            std::string command;
            for (const auto& a : argv) command += a + " ";
            argv = {"/usr/bin/script", "-qefc", command + "--device " + missing, "/dev/null"};
        }
        std::filesystem::remove(dir + "/report.jsonl");
        if (row.report_full) {
            // A file that may grow no further, as on a full disk.
            write_file(dir + "/report.jsonl", std::string(1 << 20, '\n'));
            std::signal(SIGXFSZ, SIG_IGN);
            argv.insert(argv.begin(), {"/usr/bin/prlimit", "--fsize=1048576", "--"});
        }
        std::thread damage([&] {
            if (!row.damage_hex_after_ms) return;
            std::this_thread::sleep_for(std::chrono::milliseconds(row.damage_hex_after_ms));
            write_file(hex, row.new_hex);
        });
        const auto r = run(argv, 120, false, row.stop.after_ms, row.stop.signal, row.stop.again_ms);
        damage.join();
        for (auto& b : boards) b->stop();
        EXPECT_EQ(r.status, row.stop.signal ? 128 + row.stop.signal : 1) << r.out << r.err;
        // Plain lines prefixed with the device, never a control character; on a terminal, live lines.
        EXPECT_EQ(r.out.find(boards[0]->device() + ": ") == std::string::npos, row.terminal);
        EXPECT_TRUE(row.terminal || r.out.find('\033') == std::string::npos);
        EXPECT_EQ(
            r.err.find("stopping after the exchange under way; Ctrl-C again quits at once\n") != std::string::npos,
            row.stop.signal == SIGINT);
        // A stop sends nothing more.
        EXPECT_TRUE(!row.stop.signal || r.out.find("reset by software") == std::string::npos) << r.out;
        const auto table = r.out.substr(std::min(r.out.size(), r.out.rfind("\ndevice ")));
        // The plain lines said each reason as it came: none follows the table there.
        EXPECT_EQ(table.find("Failed at: ") != std::string::npos, row.terminal);
        if (row.terminal) {
            // Its live line says so from the start, and the reasons follow the table.
            EXPECT_NE(r.out.find(missing + "  failed     0 of 0 blocks sent"), std::string::npos) << r.out;
            for (const auto& reason :
                 {"A Flag Error occured", "Failed at: program block 3 of", "No such file or directory; "})
                EXPECT_NE(table.find(reason), std::string::npos) << reason << " in " << table;
        }
        if (row.report_full) {
            EXPECT_NE(r.err.find("the report was not written: " + dir + "/report.jsonl: File too large"),
                      std::string::npos);
            continue;
        }
        if (row.stop.again_ms) {
            for (std::size_t i = 0; i < boards.size(); ++i) {
                const auto said = r.err.find(boards[i]->device() + ": quit during the run; the bootstrap code ");
                ASSERT_NE(said, std::string::npos) << r.err;
                const int now = std::stoi(r.err.substr(r.err.find("--bsl-now ", said) + 10));
                EXPECT_TRUE(
                    holds_the_code(read_image(dir + "/after" + std::to_string(i) + ".bin"), {std::size_t(now)}));
            }
            EXPECT_NE(r.err.find("; the report has no record of it\n"), std::string::npos);
            continue;
        }
        const auto records = json_lines(read_file(dir + "/report.jsonl"));
        ASSERT_EQ(records.size(), boards.size() + row.terminal);
        for (std::size_t i = 0; i < boards.size(); ++i) {
            SCOPED_TRACE(i);
            const auto& device = boards[i]->device();
            const auto after = read_image(dir + "/after" + std::to_string(i) + ".bin");
            // A board that did not finish still holds the code in sector 0 or 2.
            EXPECT_TRUE(row.results[i] == "ok" ? after == expected : holds_the_code(after));
            EXPECT_NE(table.find(device), std::string::npos) << table;
            EXPECT_GT(std::filesystem::file_size(dir + "/logs/" + log_name(device)), 0u);
            EXPECT_FALSE(read_file(dir + "/trace." + std::to_string(i + 1)).empty());  // FILE.1 for the first
            const auto its = records_of(records, device);
            const auto record = its.empty() ? QJsonObject() : its.back();
            const bool flag_error = row.results[i] == "flag error";
            EXPECT_EQ(record["result"].toString().toStdString(), flag_error ? "failed" : row.results[i]);
            EXPECT_EQ(record["hex_sha256"].toString().size(), 64);
            EXPECT_FALSE(record["unplaced"].toArray().isEmpty());  // the generated file has data in no sector
            EXPECT_EQ(record["block_file"].toString().toStdString(), dir + "/gen.NEW");
            EXPECT_EQ(record["step"].toString().isEmpty(), row.results[i] == "ok");
            // Where the report says the code lies, it does.
            const auto code_in = record["bsl_now_after"];
            EXPECT_TRUE(code_in.isDouble() && holds_the_code(after, {std::size_t(code_in.toInt())})) << code_in.toInt();
            // Each attempt starts where the one before left the code.
            const auto attempts = record["attempts"].toArray();
            EXPECT_EQ(attempts.size(), row.attempts.empty() ? 0 : row.attempts[i]);
            for (qsizetype a = 1; a < attempts.size(); ++a)
                EXPECT_EQ(attempts[a].toObject()["bsl_now"], attempts[a - 1].toObject()["bsl_now_after"]) << a;
            // The command link's bytes: every block acknowledged took at least its 64 bytes, in every attempt,
            // and the board's time is that of all its attempts.
            int blocks = attempts.isEmpty() ? record["blocks_sent"].toInt() : 0;
            double seconds = attempts.isEmpty() ? record["seconds"].toDouble() : 0;
            for (const auto& a : attempts) {
                blocks += a.toObject()["blocks_sent"].toInt();
                seconds += a.toObject()["seconds"].toDouble();
            }
            EXPECT_GE(record["bytes_sent"].toInt(), 64 * blocks);
            EXPECT_NEAR(record["seconds"].toDouble(), seconds, 0.001 * static_cast<double>(attempts.size()));
            if (flag_error) {
                EXPECT_EQ(record["block"].toInt(), 3);
                EXPECT_TRUE(record["received"].toString().endsWith("93"));
            }
        }
    }
    ::unsetenv("FERNWICK_TRACE");
}

// Each board that passes keeps a serial number of its own in its flash; a
// failed board's number goes to the board that takes one next, here the one
// whose bring-up at 2400 baud lasts until the failure is long over.
TEST(cli_program, each_board_that_passes_keeps_a_serial_number_of_its_own)
{
    const auto dir = temp_dir();
    const auto hex = dir + "/app.hex";
    write_file(hex, ":020000040002F8\n:0480000011223344D2\n:00000001FF\n");
    const std::vector<std::vector<std::string>> options = {
        {}, {"--fault", "erase:1:status=93"}, {"--line-rate", "2400"}};
    std::vector<std::unique_ptr<simulated_board>> boards;
    std::vector<std::string> argv = {binary("fernwick-cli"), "program", hex,        "--serial",           "2FFF0h:4",
                                     "--serial-start",       "1000",    "--report", dir + "/report.jsonl"};
    for (std::size_t i = 0; i < options.size(); ++i) {
        auto o = options[i];
        o.insert(o.end(), {"--dump", dir + "/after" + std::to_string(i) + ".bin"});
        boards.push_back(std::make_unique<simulated_board>(o));
        argv.insert(argv.end(), {"--device", boards.back()->device()});
    }
    const auto r = run(argv);
    for (auto& b : boards) b->stop();
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    EXPECT_NE(r.out.find("  serial  step"), std::string::npos) << r.out;
    std::vector<std::string> kept;  // as the report has them
    for (const auto& b : boards)
        for (const auto& o : records_of(json_lines(read_file(dir + "/report.jsonl")), b->device()))
            kept.push_back(o["serial"].toString().toStdString());
    ASSERT_EQ(kept.size(), boards.size());
    EXPECT_TRUE(kept[1].empty());
    EXPECT_TRUE((kept[0] == "1000" && kept[2] == "1001") || (kept[0] == "1001" && kept[2] == "1000")) << kept[0];
    for (const std::size_t i : {0, 2}) {
        const auto flash = read_image(dir + "/after" + std::to_string(i) + ".bin");
        const auto n = kept[i].empty() ? 0 : std::stoi(kept[i]);
        EXPECT_EQ(image(flash.begin() + 0x1FFF0, flash.begin() + 0x1FFF4),
                  (image{std::uint8_t(n), std::uint8_t(n >> 8), 0, 0}));
    }
}

// Two stations on one host share a ledger over 200 boards, some of which
// fail: no serial number is given twice, and none is skipped.
TEST(station, two_stations_sharing_a_ledger_never_give_a_number_twice)
{
    constexpr int k_per_fixture = 50, k_failing = 7;  // boards 3, 10, 17 ... of each fixture fail
    const auto dir = temp_dir();
    const auto ledger = dir + "/ledger.db";
    std::vector<std::future<run_result>> stations;
    for (const std::string name : {"a", "b"}) {
        std::filesystem::create_directory(dir + "/" + name);
        stations.push_back(std::async(std::launch::async, [&, name] {
            return run({binary("fernwick-cli"), "station", std::string(FERNWICK_SOURCE_DIR) + "/examples/demo.hex",
                        "--port", dir + "/" + name + "/*", "--report", dir + "/" + name + ".jsonl", "--ledger", ledger,
                        "--serial", "2FFF0h:4", "--count", std::to_string(2 * (k_per_fixture - k_failing))},
                       300);
        }));
    }
    std::vector<std::thread> fixtures;
    for (const std::string fixture : {"a/1", "a/2", "b/1", "b/2"})
        fixtures.emplace_back([&, fixture] {
            const auto link = dir + "/" + fixture, report = dir + "/" + fixture.substr(0, 1) + ".jsonl";
            for (int b = 0; b < k_per_fixture; ++b) {
                std::vector<std::string> options = {"--link", link};
                if (b % 7 == 3) options.insert(options.end(), {"--fault", "block:2:status=93"});
                simulated_board board(options);
                within(60,
                       [&] { return static_cast<int>(records_of(json_lines(read_file(report)), link).size()) > b; });
                board.stop();
            }
        });
    for (auto& t : fixtures) t.join();
    for (auto& s : stations) {
        const auto r = s.get();
        EXPECT_EQ(r.status, 1) << r.out << r.err;
    }
    std::vector<unsigned> kept;
    const auto rows = json_lines(run({binary("fernwick-cli"), "ledger", ledger, "--json"}).out);
    EXPECT_EQ(rows.size(), 4u * k_per_fixture);
    for (const auto& row : rows)
        if (row["result"] == "passed") kept.push_back(row["serial"].toString().toUInt());
    std::sort(kept.begin(), kept.end());
    ASSERT_EQ(kept.size(), 4u * (k_per_fixture - k_failing));
    for (std::size_t i = 0; i < kept.size(); ++i) ASSERT_EQ(kept[i], i + 1);
}

// A station run in the background, whose output is read while it runs.
std::unique_ptr<started_program> station_of(const std::vector<std::string>& args)
{
    std::vector<std::string> argv = {binary("fernwick-cli"), "station"};
    argv.insert(argv.end(), args.begin(), args.end());
    return std::make_unique<started_program>(argv);
}

// SIGTERM, as an operator ends a line; status -1 when it does not end within 20 s.
run_result stop(started_program& station)
{
    station.signal(SIGTERM);
    return station.wait(20);
}

std::size_t times_said(const std::string& text, const std::string& words)
{
    std::size_t n = 0;
    for (auto at = text.find(words); at != std::string::npos; at = text.find(words, at + 1)) ++n;
    return n;
}

const std::string k_reset_it = "the board in the fixture did not come up: reset it";

// What the test does to the boards while the station runs, in turn.
struct station_step {
    enum class kind {
        said,           // waits until the station has said `text`
        records,        // waits until the report has `n` records
        rows,           // waits until the ledger has `n` rows
        pause,          // waits `n` ms: for what must not happen
        take_out,       // board 0 taken out of its fixture, or the next put in (`n` times)
        reset_if_said,  // presses board 0's reset once `text` is said, unless `n` records came first
        link,           // another name, `text`, for board 0's device
        fifo,           // a FIFO moved over the hex file
        arrive,         // a board of its own comes with its adapter as `text`
        repoint,        // the name `text` leads to another board's device from one moment to the next
        stop_holder,    // the station that holds the port is stopped
        move_ledger,    // the ledger's files moved away, as a clean-up script might
        write,          // the hex file rewritten as `text`
        exactly,        // the report has `n` records now
    } what;
    int n = 0;
    std::string text;
};

struct station_row {
    const char* name;
    std::vector<std::vector<std::string>> boards = {{}};          // mirel-sim options
    std::vector<std::string> links = {"a"};                       // each board's name under DIR/fix
    std::vector<std::string> options = {"--serial", "2FFF0h:4"};  // of the station, beyond the file, report, ledger
    std::vector<station_step> steps;
    std::vector<std::string> results;  // of the records, in turn
    std::vector<std::string> said;     // by the station (each once where `once`)
    std::vector<std::string> never;
    bool own_file = false;   // the small file of the byte counts below, else demo.hex
    int stations = 1;        // on the same pattern
    bool hold_open = false;  // the test holds the devices open: the boards never see their port closed
    std::vector<int> attempts = {};
    int code_after = 2;    // the last record's bsl_now_after
    bool once = false;     // each of `said` said once only
    std::string log_ends;  // the last line of the first fixture's log
    std::vector<std::string> ports = {"fix/*"};
    int status = 143;  // of each station: stopped by the test unless it ended by itself
    std::string sha;   // of the file the last record names
    bool job = false;  // the options made into a job, run by Ann for lot L1
};

// Plays the row's steps on the running stations and boards.
void play_steps(const station_row& row, const std::string& dir, std::vector<std::unique_ptr<started_program>>& stations,
                std::vector<std::unique_ptr<simulated_board>>& boards)
{
    using k = station_step::kind;
    const auto said = [&] {
        std::string all;
        for (const auto& s : stations) all += s->said();
        return all;
    };
    const auto records = [&] { return json_lines(read_file(dir + "/report.jsonl")).size(); };
    for (const auto& s : row.steps) {
        const auto n = static_cast<std::size_t>(s.n);
        switch (s.what) {
        case k::said:
            EXPECT_TRUE(within(40, [&] { return said().find(s.text) != std::string::npos; })) << s.text;
            break;
        case k::records: EXPECT_TRUE(within(40, [&] { return records() >= n; })) << s.n; break;
        case k::rows:
            EXPECT_TRUE(within(40, [&] {
                return json_lines(run({binary("fernwick-cli"), "ledger", dir + "/ledger.db", "--json"}).out).size() >=
                       n;
            }));
            break;
        case k::pause: std::this_thread::sleep_for(std::chrono::milliseconds(s.n)); break;
        case k::take_out:
            for (int i = 0; i < s.n; ++i) boards[0]->take_out_or_put_in();
            break;
        case k::reset_if_said:
            if (within(20, [&] { return said().find(s.text) != std::string::npos || records() >= n; }) && records() < n)
                boards[0]->press_reset();
            break;
        case k::link: std::filesystem::create_symlink(boards[0]->device(), dir + "/fix/" + s.text); break;
        case k::arrive:
            boards.push_back(
                std::make_unique<simulated_board>(std::vector<std::string>{"--link", dir + "/fix/" + s.text}));
            break;
        case k::repoint:
            boards.push_back(std::make_unique<simulated_board>(std::vector<std::string>{"--link", dir + "/next"}));
            std::filesystem::rename(dir + "/next", dir + "/fix/" + s.text);
            break;
        case k::stop_holder:
            for (auto& station : stations)
                if (station->said().find(" is held by another station") == std::string::npos) {
                    EXPECT_EQ(stop(*station).status, 143);
                    break;
                }
            break;
        case k::move_ledger:
            for (const std::string end : {"", "-wal", "-shm"})
                std::filesystem::rename(dir + "/ledger.db" + end, dir + "/moved.db" + end);
            break;
        case k::write: write_file(dir + "/app.hex", s.text); break;
        case k::exactly: EXPECT_EQ(records(), n); break;
        case k::fifo:
            ASSERT_EQ(::mkfifo((dir + "/pipe").c_str(), 0600), 0);
            std::filesystem::rename(dir + "/pipe", dir + "/app.hex");
            break;
        }
    }
}

// The records of the report and the ledger, against the row.
void check_records(const station_row& row, const std::string& dir, const std::string& said)
{
    const auto kept = json_lines(read_file(dir + "/report.jsonl"));
    const auto rows = json_lines(run({binary("fernwick-cli"), "ledger", dir + "/ledger.db", "--json"}).out);
    ASSERT_EQ(kept.size(), row.results.size()) << said;
    ASSERT_EQ(rows.size(), kept.size());
    std::vector<std::string> numbers;
    for (std::size_t r = 0; r < kept.size(); ++r) {
        SCOPED_TRACE(r);
        EXPECT_EQ(kept[r]["result"].toString().toStdString(), row.results[r]);
        EXPECT_EQ(rows[r]["result"].toString().toStdString(), row.results[r] == "ok" ? "passed" : "failed");
        EXPECT_EQ(rows[r]["serial"].toString(), kept[r]["serial"].toString());
        if (kept[r]["serial"].isString()) numbers.push_back(kept[r]["serial"].toString().toStdString());
        EXPECT_EQ(kept[r]["attempts"].toArray().size(), row.attempts.empty() ? 0 : row.attempts[r]);
        // A job's boards say whose they are, in the report and the ledger alike; a plain station's as before.
        const auto job_sha =
            QCryptographicHash::hash(QByteArray::fromStdString(read_file(dir + "/app.job")), QCryptographicHash::Sha256)
                .toHex();
        const std::vector<QJsonValue> whose = {"P", QString(job_sha), "Ann", "L1"};
        for (const auto& record : {kept[r], rows[r]}) {
            const std::vector fields = {record["product"], record["job_sha256"], record["operator"], record["lot"]};
            EXPECT_TRUE(!row.job || fields == whose) << QJsonDocument(record).toJson().toStdString();
        }
        EXPECT_EQ(kept[r].contains("job_sha256"), row.job);
    }
    EXPECT_EQ(kept.back()["bsl_now_after"].toInt(), row.code_after);
    EXPECT_TRUE(row.sha.empty() || kept.back()["hex_sha256"] == row.sha.c_str());
    std::sort(numbers.begin(), numbers.end());
    EXPECT_TRUE(std::adjacent_find(numbers.begin(), numbers.end()) == numbers.end());
}

void play_station_row(const station_row& row)
{
    SCOPED_TRACE(row.name);
    const auto dir = temp_dir();
    const auto hex = dir + "/app.hex";
    write_file(hex, row.own_file ? ":020000040000FA\n:10010000000102030405060708090A0B0C0D0E0F77\n"
                                   ":020000040002F8\n:10010000000102030405060708090A0B0C0D0E0F77\n:00000001FF\n"
                                 : read_file(std::string(FERNWICK_SOURCE_DIR) + "/examples/demo.hex"));
    for (const auto& link : row.links)
        std::filesystem::create_directories(std::filesystem::path(dir + "/fix/" + link).parent_path());
    std::vector<std::string> args = {hex, "--report", dir + "/report.jsonl", "--ledger", dir + "/ledger.db"};
    for (const auto& o : row.options) args.push_back(o == "logs" ? dir + "/logs" : o);
    if (row.job) {
        args.insert(args.begin(), {binary("fernwick-cli"), "job", "make", dir + "/app.job"});
        args.insert(args.end(), {"--product", "P"});
        ASSERT_EQ(run(args).status, 0);
        args = {"--job", dir + "/app.job", "--operator", "Ann", "--lot", "L1"};
    }
    for (const auto& p : row.ports) args.insert(args.end(), {"--port", dir + "/" + p});
    std::vector<std::unique_ptr<started_program>> stations;
    for (int s = 0; s < row.stations; ++s) {
        stations.push_back(station_of(args));
        EXPECT_TRUE(
            within(20, [&] { return stations.back()->said().find("waiting for boards on") != std::string::npos; }));
    }
    random_flash(dir, 3, 2);  // the boards come with the bootstrap code in sector 2
    std::vector<std::unique_ptr<simulated_board>> boards;
    std::vector<int> held;
    for (std::size_t b = 0; b < row.boards.size(); ++b) {
        auto options = row.boards[b];
        options.insert(options.end(), {"--link", dir + "/fix/" + row.links[b], "--preload", dir + "/before.bin",
                                       "--dump", dir + "/dump" + std::to_string(b)});
        boards.push_back(std::make_unique<simulated_board>(options));
        if (row.hold_open) held.push_back(::open(boards.back()->device().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK));
    }
    play_steps(row, dir, stations, boards);
    std::string all;
    for (auto& s : stations) {
        const auto r = stop(*s);
        EXPECT_EQ(r.status, row.status) << r.out << r.err;
        all += r.out + r.err;
    }
    for (const int fd : held) ::close(fd);
    std::error_code none;
    for (const std::string end : {"", "-wal", "-shm"})
        std::filesystem::rename(dir + "/moved.db" + end, dir + "/ledger.db" + end, none);
    boards.clear();
    // Whatever became of it, a board holds the bootstrap code, where its record says when it has one.
    for (std::size_t b = 0; b < row.boards.size(); ++b) {
        const auto flash = read_image(dir + "/dump" + std::to_string(b));
        const auto code_at = static_cast<std::size_t>(row.code_after);
        EXPECT_TRUE(flash.size() == k_flash &&
                    (row.results.size() == 1 ? holds_the_code(flash, {code_at}) : holds_the_code(flash)))
            << b;
    }
    for (const auto& words : row.said) {
        const auto n = times_said(all, words);
        EXPECT_TRUE(n == 1 || (n > 1 && !row.once)) << words << " said " << n << " times in " << all;
    }
    for (const auto& words : row.never) EXPECT_EQ(all.find(words), std::string::npos) << words << " in " << all;
    // Said as the second fixture came, before any board's end.
    EXPECT_TRUE(row.ports.size() < 2 || all.find(row.said[0]) < all.find(": passed")) << all;
    if (!row.log_ends.empty()) {
        auto log = read_file(dir + "/logs/" + log_name(dir + "/fix/" + row.links[0]));
        while (log.ends_with('\n')) log.pop_back();
        EXPECT_EQ(log.substr(log.rfind('\n') + 1), row.log_ends);
    }
    check_records(row, dir, all);
}

// Each board that answered has one record in the report and one row in the
// ledger, whatever it did: leave, get a second name, meet a second station,
// be swapped at once, or find its hex file become a FIFO.
TEST(station, one_board_one_fixture_one_record)
{
    using k = station_step::kind;
    const std::vector<std::string> own = {"--sectors", "0,2",       "--bsl-now", "2",         "--bsl-target",
                                          "2",         "--retries", "1",         "--log-dir", "logs"};
    const station_row rows[] = {
        {.name = "a name that comes during the run joins its device's fixture",
         .boards = {{"--program-ms", "100"}},
         .links = {"usb0"},
         .steps = {{k::said, 0, "programming"}, {k::link, 0, "by-id-0"}, {k::records, 1}, {k::pause, 4000}},
         .results = {"ok"},
         .said = {"by-id-0 is another name of "}},
        // As when udev's events for a board's going and the next one's coming are seen at once.
        {.name = "a name that leads to another device at once: the next board",
         .steps = {{k::records, 1}, {k::repoint, 0, "a"}, {k::records, 2}},
         .results = {"ok", "ok"}},
        // Nor does it take the board for a new one when the port frees.
        {.name = "a second station leaves a held port alone",
         .steps = {{k::records, 1}, {k::pause, 3000}, {k::stop_holder}, {k::pause, 4000}},
         .results = {"ok"},
         .said = {" is held by another station; this station leaves it to that one"},
         .stations = 2},
        // Asked every second after its pass, it changes nothing; one put in at once answers otherwise.
        {.name = "a board that never resets by itself stays; one swapped at once is seen",
         .boards = {{"--fixed-adapter"}},
         .steps =
             {{k::records, 1}, {k::pause, 6000}, {k::take_out, 2}, {k::reset_if_said, 2, k_reset_it}, {k::records, 2}},
         .results = {"ok", "ok"},
         .said = {k_reset_it},
         .never = {"board gone"},
         .hold_open = true},
        // drop-at: during the first block of sector 2, after sector 0 got the code
        {.name = "pulled during its run with retries: recorded, never retried",
         .boards = {{"--fault", "drop-at:700"}},
         .options = own,
         .steps = {{k::records, 1}},
         .results = {"failed"},
         .said = {"Passed 0, failed 1", "the board is gone"},
         .never = {"Attempt 2 of 2"},
         .own_file = true,
         .attempts = {1},
         .code_after = 0},
        // drop-at: in the main program's upload, after the chip answered the zero byte and the first loader
        {.name = "pulled during its bring-up after its chip answered: recorded, never retried",
         .boards = {{"--fault", "drop-at:100"}},
         .options = own,
         .steps = {{k::records, 1}},
         .results = {"failed"},
         .said = {"Passed 0, failed 1, yield 0.0 %, boards per hour -"},
         .never = {"Attempt 2 of 2"},
         .own_file = true,
         .attempts = {1}},
        // A Flag Error at sector 2's second block, the code only in sector 0; gone in the retry's loader.
        {.name = "gone in the retry's bring-up: the code's place from the attempt that knew it",
         .boards = {{"--fault", "block:4:status=93", "--fault", "drop-at:830"}},
         .options = own,
         .steps = {{k::records, 1}},
         .results = {"failed"},
         .said = {"the board is gone", "run again with --bsl-now 0 (fernwick-cli program)"},
         .own_file = true,
         .attempts = {2},
         .code_after = 0,
         .log_ends = "the bootstrap code now lies only in sector 0: run again with --bsl-now 0"},
        {.name = "taken out of a fixed adapter during its run: the next board is a board of its own",
         .boards = {{"--fixed-adapter", "--program-ms", "300"}},
         .options = {"--retries", "1", "--serial", "2FFF0h:4"},
         .steps = {{k::said, 0, "programming"},
                   {k::take_out, 1},
                   {k::records, 1},
                   {k::take_out, 1},
                   {k::reset_if_said, 2, k_reset_it},
                   {k::records, 2}},
         .results = {"failed", "ok"},
         .never = {"Attempt 2 of 2"},
         .attempts = {1, 1}},
        {.name = "answers held back by the adapter: the hint once per fixture",
         .boards = {{"--fixed-adapter", "--line-rate", "follow", "--adapter-latency", "16"}},
         .steps = {{k::records, 1}, {k::take_out, 1}, {k::said, 0, "board gone"}, {k::take_out, 1}, {k::records, 2}},
         .results = {"ok", "ok"},
         .said = {"ATTR{latency_timer}=\"1\""},
         .once = true},
        {.name = "two fixtures with one log name: said when the second comes",
         .boards = {{}, {}},
         .links = {"x-y", "x/y"},
         .options = {"--log-dir", "logs"},
         .steps = {{k::records, 2}},
         .results = {"ok", "ok"},
         .said = {"it is also the log of "},
         .once = true,
         .ports = {"fix/x-y", "fix/x/y"}},
        // A damaged one programs nothing, the board waits; a sound one is the next board's.
        {.name = "the hex file changed on disk while the station runs",
         .boards = {},
         .options = {},
         .steps = {{k::write, 0, ":020000040001F9\n:01800000116F\n:00000001FF\n"},  // a wrong checksum
                   {k::pause, 800},
                   {k::arrive, 0, "a"},
                   {k::pause, 2000},
                   {k::exactly, 0},
                   {k::write, 0, ":020000040001F9\n:01800000116E\n:00000001FF\n"},
                   {k::records, 1}},
         .results = {"ok"},
         .said = {"app.hex changed and cannot be used; no board is programmed until it can"},
         .sha = "f6484bf30c56764a433e06c230ff1cc0551152fd824d808221406c6e218e6622"},
        // A job never takes a new file: a sound one of other bytes stops new boards until the job's is back.
        {.name = "a job's hex file changed during the run, then back",
         .boards = {},
         .options = {},
         .steps = {{k::write, 0, ":020000040001F9\n:01800000116E\n:00000001FF\n"},
                   {k::said, 0, "app.hex changed on disk (SHA-256 f6484bf3"},
                   {k::arrive, 0, "a"},
                   {k::pause, 2000},
                   {k::exactly, 0},
                   {k::write, 0, read_file(std::string(FERNWICK_SOURCE_DIR) + "/examples/demo.hex")},
                   {k::records, 1}},
         .results = {"ok"},
         .said = {"is not the job's file (SHA-256 ", "app.hex is the job's file again (SHA-256 "},
         .job = true},
        // At 2400 baud its bring-up takes two seconds: the file turns damaged during it.
        {.name = "the hex file changed during a board's bring-up: that board gets the file it began with",
         .boards = {{"--line-rate", "follow"}},
         .options = {"--baud", "2400", "--serial", "2FFF0h:4"},
         .steps = {{k::pause, 1200}, {k::write, 0, ":020000040001F9\n:01800000116F\n:00000001FF\n"}, {k::records, 1}},
         .results = {"ok"},
         .said = {"app.hex changed and cannot be used"},
         .sha = "20dd34b3bd8c6a4309e47620490acbfef3bd207321e88f43cd919c59e5fcf277"},
        // The station's loop goes on serving whatever the file's check waits for.
        {.name = "a FIFO moved over the hex file",
         .boards = {{"--fixed-adapter"}},
         .steps = {{k::records, 1},
                   {k::fifo},
                   {k::said, 0, "app.hex changed and cannot be used"},
                   {k::arrive, 0, "b"},
                   {k::said, 0, "fix/b: waiting for a hex file that can be used"}},
         .results = {"ok"},
         .said = {"app.hex: not a regular file"}},
        // The other board waits for the acknowledge of its main program as the first passes.
        {.name = "--count reached while another board's chip has answered: that board finishes and is recorded",
         .boards = {{}, {"--fault", "ack2:none"}},
         .links = {"a", "b"},
         .options = {"--serial", "2FFF0h:4", "--count", "1"},
         // Until the station has ended by itself: its last totals line has no clock.
         .steps = {{k::records, 2}, {k::said, 0, "\nPassed 1, failed 1"}, {k::pause, 500}},
         .results = {"ok", "failed"},
         .status = 1},
        // Its rows would go nowhere, and a ledger made anew would give its numbers again; a fixture
        // whose chip never answers ends its wait too.
        {.name = "the ledger moved away while the station runs: no further board, and the status says so",
         .boards = {{}, {"--fault", "id:none"}},
         .links = {"a", "b"},
         .steps =
             {{k::rows, 1}, {k::move_ledger}, {k::said, 0, "the station takes no further board"}, {k::pause, 1500}},
         .results = {"ok"},
         .said = {"was deleted or replaced while in use"},
         .once = true,
         .status = 1},
    };
    std::atomic<std::size_t> next{0};
    std::vector<std::future<void>> workers;
    for (int w = 0; w < 3; ++w)
        workers.push_back(std::async(std::launch::async, [&] {
            for (std::size_t i = next++; i < std::size(rows); i = next++) play_station_row(rows[i]);
        }));
    for (auto& w : workers) w.get();
}

}  // namespace
