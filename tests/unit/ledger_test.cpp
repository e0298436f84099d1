#include <gtest/gtest.h>
#include <sched.h>
#include <sqlite3.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QTemporaryDir>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <set>
#include <sstream>
#include <thread>

#include "cli/ledger_command.h"
#include "station/ledger.h"
#include "station/server_ledger.h"
#include "support_pg.h"

namespace {

using namespace fernwick::cli;
using namespace fernwick::station;
namespace fs = std::filesystem;

serial_value number(std::uint64_t i) { return {i, std::to_string(1000 + i), {static_cast<std::uint8_t>(i)}}; }

// Numbers from 1000, `count` of them.
std::unique_ptr<serial_book> book_of(ledger& l, std::uint64_t count = 5)
{
    std::string why;
    auto b =
        l.book({.name = "numbers from 1000",
                .place = "02'FFF0h",
                .value_at = [count](std::uint64_t i) { return i < count ? std::optional(number(i)) : std::nullopt; }},
               why);
    EXPECT_TRUE(b) << why;
    return b;
}

// What `work` says, run in a child process: there a test may mount a medium
// of its own or give up root's rights.
std::string in_child(const std::function<std::string()>& work)
{
    int pipe_ends[2];
    if (::pipe(pipe_ends) != 0) return "no pipe";
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(pipe_ends[0]);
        const auto said = work();
        ::_exit(::write(pipe_ends[1], said.data(), said.size()) == static_cast<ssize_t>(said.size()) ? 0 : 1);
    }
    ::close(pipe_ends[1]);
    std::string said;
    char part[512];
    for (ssize_t n; (n = ::read(pipe_ends[0], part, sizeof part)) > 0;) said.append(part, static_cast<std::size_t>(n));
    ::close(pipe_ends[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    return said;
}

// A ledger with one row, closed again (its -wal and -shm gone with it).
std::string made(const std::string& path)
{
    std::string why;
    const auto l = ledger::open(path, why);
    if (l) l->record({.result = "passed"}, nullptr, why);
    return path;
}

std::uint64_t take(serial_book& b)
{
    std::string why;
    const auto v = b.take(why);
    EXPECT_TRUE(v) << why;
    return v ? v->index : 99;
}

struct ledger_test : testing::Test {
    QTemporaryDir dir;
    std::string path = dir.filePath("line.ledger").toStdString();
    std::string why;
    std::unique_ptr<ledger> l = ledger::open(path, why);
};

// One server for the program's tests of a server's ledger, each ledger a
// database of its own, the last one's name in `db`.
std::unique_ptr<fernwick::e2e::throwaway_pg> g_server;
std::string new_server_ledger(std::string& why, std::string* db = nullptr)
{
    static int made = 0;
    if (!g_server) {
        g_server = std::make_unique<fernwick::e2e::throwaway_pg>();
        if (why = g_server->start(); !why.empty()) return g_server.reset(), "";
    }
    const auto name = "ledger" + std::to_string(++made);
    if (db) *db = name;
    if (why = g_server->make_database(name); !why.empty()) return "";
    const auto target = g_server->conninfo(name);
    return server_ledger::init(target, 60, why) ? target : "";
}

// The tests that hold for both kinds of ledger, run on each: one table, two
// backends, so that the two never drift apart.
struct either_ledger : ledger_test, testing::WithParamInterface<std::string> {
    void SetUp() override
    {
        if (GetParam() == "file") return;
        path = another();
        ASSERT_FALSE(path.empty()) << why;
        l = ledger::open(path, keeping, why);
    }
    // A new ledger of this kind: a file, or a database on the server.
    std::string another(int n = 0)
    {
        return GetParam() == "file" ? dir.filePath("l" + QString::number(n)).toStdString() : new_server_ledger(why);
    }
    ledger_options keeping{.spool = dir.filePath("spool").toStdString()};
};

INSTANTIATE_TEST_SUITE_P(kinds, either_ledger, testing::Values("file", "server"));

// A failed board's number is given next, lowest first; a kept one never again.
TEST_P(either_ledger, rows_read_back_and_numbers_given_back_come_first)
{
    ASSERT_TRUE(l) << why;
    auto b = book_of(*l);
    const auto n0 = number(take(*b)), n1 = number(take(*b)), n2 = number(take(*b));
    ledger_row failed{.fixture = "board 2", .port = "/dev/ttyUSB1", .result = "failed", .step = "erase"};
    failed.sector = 2;
    ASSERT_TRUE(l->record(failed, &n2, why)) << why;
    ASSERT_TRUE(b->settle(n1, false, why)) << why;
    ASSERT_TRUE(l->record({.result = "passed"}, &n0, why)) << why;
    EXPECT_FALSE(b->settle(n0, false, why));  // kept for good: not ours to give back
    for (const std::uint64_t want : {1, 2, 3, 4}) EXPECT_EQ(take(*b), want);
    EXPECT_FALSE(b->take(why));
    EXPECT_NE(why.find("used up"), std::string::npos) << why;
    const auto rows = l->rows(std::nullopt, why);
    ASSERT_TRUE(rows && rows->size() == 2) << why;
    const auto& r = rows->front();
    // Only the board that passed holds its number.
    EXPECT_EQ(std::tie(r.serial, rows->back().serial), std::tie(std::nullopt, "1000"));
    EXPECT_EQ(std::tie(r.fixture, r.port, r.result, r.step, r.series),
              std::tie(failed.fixture, failed.port, failed.result, failed.step, "numbers from 1000"));
    EXPECT_EQ(r.sector, 2);
    EXPECT_FALSE(r.block);
}

// Stations sharing a ledger: a number another station gives back goes to
// the next board, whatever was kept after it; four taking at once are each
// given numbers of their own.
TEST_P(either_ledger, numbers_of_stations_at_once_are_their_own_and_one_given_back_goes_next)
{
    ASSERT_TRUE(l) << why;
    auto other = ledger::open(path, keeping, why);
    ASSERT_TRUE(other) << why;
    auto a = book_of(*l, 200), b = book_of(*other, 200);
    const auto a0 = a->take(why), b1 = b->take(why), a2 = a->take(why);
    ASSERT_TRUE(a0 && b1 && a2) << why;
    ASSERT_TRUE(l->record({.result = "passed"}, &*a0, why)) << why;
    ASSERT_TRUE(l->record({.result = "passed"}, &*a2, why)) << why;
    EXPECT_EQ(take(*a), 3u);  // past 1001, held, and 1002, kept
    ASSERT_TRUE(other->record({.result = "failed"}, &*b1, why)) << why;
    EXPECT_EQ(take(*a), 1u);
    {
        // Numbers held ahead and not used go back at the end.
        auto ahead = ledger::open(path, {.spool = keeping.spool + "-ahead", .serial_lease = 3}, why);
        ASSERT_TRUE(ahead) << why;
        EXPECT_EQ(take(*book_of(*ahead, 200)), 4u);
        ahead->finish();
    }
    EXPECT_EQ(take(*a), 5u);

    constexpr int k_stations = 4, k_each = 10;
    int ends[2];
    ASSERT_EQ(::pipe(ends), 0);
    for (int s = 0; s < k_stations; ++s) {
        if (::fork() != 0) continue;
        ::close(ends[0]);
        // Its own ledger and spool, as a station of its own; _exit keeps the parent's server.
        auto mine = keeping;
        mine.spool += std::to_string(s);
        std::string why, said;
        auto own = ledger::open(path, mine, why);
        auto book = own ? book_of(*own, 200) : nullptr;
        for (int i = 0; i < k_each; ++i) {
            const auto v = book ? book->take(why) : std::nullopt;
            said += (v ? std::to_string(v->index) : "refused: " + why) + "\n";
        }
        [[maybe_unused]] const auto n = ::write(ends[1], said.data(), said.size());
        ::_exit(0);
    }
    ::close(ends[1]);
    std::string got;
    char part[512];
    for (ssize_t n; (n = ::read(ends[0], part, sizeof part)) > 0;) got.append(part, static_cast<std::size_t>(n));
    ::close(ends[0]);
    while (::wait(nullptr) > 0) {}
    std::istringstream lines(got);
    std::set<std::string> given;
    int n = 0;
    for (std::string line; std::getline(lines, line); ++n) EXPECT_TRUE(given.insert(line).second) << line;
    EXPECT_EQ(n, k_stations * k_each) << got;
}

// A station that stopped renewing its hold (cut off, stopped) while its
// board ran records it late: the row the sweep wrote for its number gives
// way to the board's, and a failed board's number goes back to its station,
// whose numbers had gone past it.
TEST(server_ledger, a_late_record_of_a_swept_number_replaces_its_unknown_row)
{
    const struct {
        const char* result;
        std::size_t rows_of_1000;
        std::uint64_t next;
    } rows[] = {{"passed", 1, 3}, {"failed", 0, 0}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.result);
        QTemporaryDir dir;
        std::string why, db;
        const auto target = new_server_ledger(why, &db);
        ASSERT_FALSE(target.empty()) << why;
        auto late = ledger::open(target, {.spool = dir.filePath("late").toStdString()}, why);
        ASSERT_TRUE(late) << why;
        const auto held = book_of(*late)->take(why);
        ASSERT_TRUE(held) << why;
        ASSERT_EQ(g_server->execute(db, "UPDATE held SET expires = now() - INTERVAL '1 second'"), "");
        auto next = ledger::open(target, {.spool = dir.filePath("next").toStdString()}, why);
        ASSERT_TRUE(next) << why;
        EXPECT_EQ(take(*book_of(*next)), 1u);  // 1000 swept, kept as unknown
        auto own = book_of(*late);
        EXPECT_EQ(take(*own), 2u);
        ASSERT_TRUE(late->record({.result = row.result}, &*held, why)) << why;
        const auto all = next->rows(std::nullopt, why), of_1000 = next->rows("1000", why);
        ASSERT_TRUE(all && of_1000) << why;
        ASSERT_EQ(all->size(), 1u);
        EXPECT_EQ(all->front().result, row.result);
        EXPECT_EQ(of_1000->size(), row.rows_of_1000);
        EXPECT_EQ(take(*own), row.next);
    }
}

// Records made while the server is away wait in the spool, the station not
// held up by a paused server beyond the answer's deadline, and reach the
// server in order once it is back, each number settled as its board ended.
TEST(server_ledger, records_made_while_the_server_is_away_reach_it_in_order_once_it_is_back)
{
    std::string why;
    ASSERT_FALSE(new_server_ledger(why).empty()) << why;
    auto& pg = *g_server;
    std::string db;
    std::thread holder;
    const auto read_only = [&](const std::string& on) {
        auto error = pg.execute("postgres", "ALTER SYSTEM SET default_transaction_read_only = " + on);
        if (error.empty()) error = pg.execute("postgres", "SELECT pg_reload_conf()");
        std::this_thread::sleep_for(std::chrono::milliseconds(500));  // the sessions read it anew
        return error;
    };
    const struct {
        const char* what;
        std::function<std::string()> away, back;
        bool refused = false;  // the second record, for good: kept in the spool, counted and said
    } rows[] = {{"stopped", [&] { return pg.stop(); }, [&] { return pg.start(); }},
                {"paused", [&] { return pg.pause(); }, [&] { return pg.resume(); }},
                // as a standby is after a failover, until it is promoted
                {"read-only", [&] { return read_only("on"); }, [&] { return read_only("off"); }},
                // every statement of the ledger runs into its time-out
                {"its lock held by another session",
                 [&] {
                     holder =
                         std::thread([&] { pg.execute(db, "SELECT pg_advisory_xact_lock(1180126279), pg_sleep(9)"); });
                     std::this_thread::sleep_for(std::chrono::milliseconds(500));
                     return std::string();
                 },
                 [&] { return holder.join(), std::string(); }},
                {"a row it refuses for good",
                 [&] { return pg.execute(db, "ALTER TABLE boards ADD CHECK (fixture <> 'second')"); },
                 [] { return std::string(); }, true}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        QTemporaryDir dir;
        const auto target = new_server_ledger(why, &db);
        ASSERT_FALSE(target.empty()) << why;
        auto l = ledger::open(target, {.spool = dir.filePath("spool").toStdString()}, why);
        ASSERT_TRUE(l) << why;
        auto book = book_of(*l);
        const auto passed = book->take(why), failed = book->take(why);
        ASSERT_TRUE(passed && failed) << why;
        ASSERT_EQ(row.away(), "");
        // Back after 20 s whatever happens, so that a station held up fails the row rather than the run.
        std::once_flag once;
        std::string came_back;
        std::atomic<bool> ended = false;
        const auto end_outage = [&] { std::call_once(once, [&] { came_back = row.back(), ended = true; }); };
        std::thread safety([&] {
            for (int i = 0; i < 200 && !ended; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(100));
            end_outage();
        });
        EXPECT_TRUE(l->record({.fixture = "first", .result = "passed"}, &*passed, why)) << why;
        EXPECT_TRUE(l->record({.fixture = "second", .result = "failed"}, &*failed, why)) << why;
        const auto h = l->health();
        EXPECT_TRUE(row.refused || h.waiting == 2) << h.waiting;
        // "ledger server unreachable since 10:42, 2 records waiting", or "back" between two time-outs
        EXPECT_TRUE(row.refused || h.trouble.find(", 2 records waiting") != std::string::npos) << h.trouble;
        end_outage();
        safety.join();
        ASSERT_EQ(came_back, "");
        for (int i = 0; i < 300 && l->health().waiting > 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        const auto kept = l->rows(std::nullopt, why);
        ASSERT_TRUE(kept && kept->size() == (row.refused ? 1u : 2u)) << why;
        EXPECT_EQ(kept->front().fixture + " " + kept->front().serial.value_or("-"), "first 1000");
        EXPECT_EQ(kept->back().fixture + " " + kept->back().result, row.refused ? "first passed" : "second failed");
        if (row.refused) {
            EXPECT_NE(l->health().trouble.find("1 record refused by the server, kept in "), std::string::npos);
            EXPECT_NE(l->finish().find("1 record was refused by "), std::string::npos);
        }
        EXPECT_EQ(take(*book), row.refused ? 2u : 1u);  // the failed board's number, given back once recorded
        // The outage said once, not again each time a server that reads is tried.
        std::string news;
        for (const auto& line : l->news()) news += line + "\n";
        EXPECT_LE(std::count(news.begin(), news.end(), '\n'), 3) << news;
    }
}

// Two stations sharing a ledger, giving back the numbers of failed boards,
// run end to end in station.two_stations_sharing_a_ledger_never_give_a_number_twice.

// A ledger of version 1, which booked numbers by their index in a series:
// 1000 and 1001 kept; or of version 2, which kept them by their bytes at
// their place and had no job's columns.
void write_old_version(const std::string& path, int version)
{
    sqlite3* db = nullptr;
    sqlite3_open(path.c_str(), &db);
    const char* const sql = R"(
CREATE TABLE boards(id INTEGER PRIMARY KEY, time TEXT NOT NULL, host TEXT NOT NULL, fixture TEXT NOT NULL,
  port TEXT NOT NULL, adapter_serial TEXT NOT NULL, hex_file TEXT NOT NULL, hex_sha256 TEXT NOT NULL,
  series TEXT NOT NULL, serial TEXT, result TEXT NOT NULL, step TEXT NOT NULL, sector INTEGER, block INTEGER,
  received TEXT NOT NULL, attempts INTEGER NOT NULL, seconds REAL NOT NULL, version TEXT NOT NULL);
CREATE TABLE series(key TEXT PRIMARY KEY, next_index INTEGER NOT NULL);
CREATE TABLE given_back(series TEXT NOT NULL, idx INTEGER NOT NULL, PRIMARY KEY(series, idx));
CREATE TABLE used(series TEXT NOT NULL, idx INTEGER NOT NULL, PRIMARY KEY(series, idx));
CREATE TABLE reserved(series TEXT NOT NULL, idx INTEGER NOT NULL, serial TEXT NOT NULL, host TEXT NOT NULL,
  pid INTEGER NOT NULL, time TEXT NOT NULL, PRIMARY KEY(series, idx));
INSERT INTO boards (time, host, fixture, port, adapter_serial, hex_file, hex_sha256, series, serial, result, step,
  received, attempts, seconds, version)
  VALUES ('t', 'h', 'f', 'p', '', 'a.hex', '', 'numbers from 1000 step 1 as le at 02''FFF0h-02''FFF3h', '1000',
    'passed', '', '', 1, 1, '2.0'),
  ('t', 'h', 'f', 'p', '', 'a.hex', '', 'numbers from 1000 step 1 as le at 02''FFF0h-02''FFF3h', '1001',
    'passed', '', '', 1, 1, '2.0');
INSERT INTO series VALUES ('numbers from 1000 step 1 as le at 02''FFF0h-02''FFF3h', 2);
INSERT INTO used VALUES ('numbers from 1000 step 1 as le at 02''FFF0h-02''FFF3h', 0),
  ('numbers from 1000 step 1 as le at 02''FFF0h-02''FFF3h', 1);
PRAGMA user_version = 1;
PRAGMA application_id = 1180126279;
)";
    const char* const version_2 = R"(
DROP TABLE series; DROP TABLE given_back; DROP TABLE used; DROP TABLE reserved;
CREATE TABLE kept(place TEXT NOT NULL, value TEXT NOT NULL, series TEXT NOT NULL, board INTEGER,
  PRIMARY KEY(place, value));
CREATE TABLE held(place TEXT NOT NULL, value TEXT NOT NULL, series TEXT NOT NULL, serial TEXT NOT NULL,
  host TEXT NOT NULL, pid INTEGER NOT NULL, time TEXT NOT NULL, PRIMARY KEY(place, value));
CREATE TABLE skipped(series TEXT NOT NULL, place TEXT NOT NULL, value TEXT NOT NULL, PRIMARY KEY(series, place, value));
CREATE TABLE lists(series TEXT PRIMARY KEY, digest TEXT NOT NULL, count INTEGER NOT NULL);
CREATE TABLE notes(id INTEGER PRIMARY KEY, time TEXT NOT NULL, host TEXT NOT NULL, note TEXT NOT NULL);
INSERT INTO kept VALUES ('02''FFF0h-02''FFF3h', 'E8:03:00:00', 'numbers from 1000 step 1 as le at 02''FFF0h-02''FFF3h', 1),
  ('02''FFF0h-02''FFF3h', 'E9:03:00:00', 'numbers from 1000 step 1 as le at 02''FFF0h-02''FFF3h', 2);
PRAGMA user_version = 2;
)";
    EXPECT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
    if (version == 2) {
        EXPECT_EQ(sqlite3_exec(db, version_2, nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
    }
    sqlite3_close(db);
}

// Runs one after another on one ledger, each with one board that passes: a
// number kept at its place is never given there again, whatever the series,
// and one skipped is said with the next number and noted in the ledger,
// once; a list is booked by its values, and a changed one is said to be.
TEST_P(either_ledger, a_number_kept_at_its_place_is_never_given_there_again_whatever_the_series)
{
    const auto list_file = dir.filePath("serials.txt").toStdString();
    const auto from = [](std::uint64_t start, long address = 0x2FFF0) {
        return serial_choice{.on = true, .address = address, .bytes = 4, .start = start};
    };
    const serial_choice list{.on = true, .address = 0x2FFF0, .bytes = 2, .list_file = list_file};
    struct run {
        serial_choice c;
        const char* gives;
        std::string says = "";    // in the number's notes and the ledger's
        const char* values = "";  // the list, when it is one
    };
    const auto skipped =
        "serial numbers 1001 and 1002 skipped: boards keep them already, from the series numbers "
        "from 1000 step 1 as le at 02'FFF0h-02'FFF3h";
    const struct {
        int version;  // of the ledger the runs open; 0 for a new one
        std::vector<run> runs;
    } rows[] = {
        {0,
         {{from(1000), "1000"},
          {from(1000), "1001"},
          {from(1000), "1002"},
          {from(1001), "1003", skipped},
          {from(1001), "1004"}}},
        {0, {{from(1000), "1000"}, {from(1000, 0x2FFE0), "1000"}}},  // another place
        {0,
         {{list, "00:01", "", "00:01\n00:02\n"},
          {list, "00:09",
           "the serial list " + list_file + " changed since this ledger last gave from it (3 values now, 2 then)",
           "00:09\n00:01\n00:02\n"},
          {list, "00:02", "", "00:09\n00:01\n00:02\n"}}},
        {1, {{from(1000), "1002"}, {from(1001), "1003", skipped}}},
        // brought to version 3 in place: its numbers stay kept, and a job's board keeps its lot
        {2, {{from(1000), "1002"}}},
    };
    int n = 0;
    for (const auto& row : rows) {
        const auto file = another(++n);
        if (row.version > 0 && GetParam() != "file") continue;  // a server's ledger was never older
        if (row.version > 0) write_old_version(file, row.version);
        auto in = ledger::open(file, keeping, why);
        ASSERT_TRUE(in) << why;
        for (const auto& r : row.runs) {
            SCOPED_TRACE(std::to_string(n) + ": " + r.gives);
            if (*r.values) std::ofstream(list_file) << r.values;
            const auto book = open_serial_book(r.c, in.get(), why);
            ASSERT_TRUE(book) << why;
            const auto v = book->take(why);
            ASSERT_TRUE(v) << why;
            EXPECT_EQ(v->text, r.gives);
            ASSERT_TRUE(in->record({.result = "passed", .lot = "L" + std::to_string(n)}, &*v, why)) << why;
            const auto kept = in->rows(v->text, why);
            ASSERT_TRUE(kept && !kept->empty()) << why;
            EXPECT_EQ(kept->back().lot, "L" + std::to_string(n));
            std::string notes;
            for (const auto& note : v->notes) notes += note + "\n";
            EXPECT_EQ(notes.empty(), r.says.empty()) << notes;
            EXPECT_NE(notes.find(r.says), std::string::npos) << notes;
            const auto noted = in->notes(why);
            ASSERT_TRUE(noted) << why;
            EXPECT_TRUE(r.says.empty() || std::any_of(noted->begin(), noted->end(), [&](const std::string& line) {
                            return line.find(r.says) != std::string::npos;
                        }));
        }
    }
}

TEST_F(ledger_test, a_number_held_by_a_station_that_ended_is_skipped_and_recorded)
{
    ASSERT_TRUE(l) << why;
    if (const pid_t child = ::fork(); child == 0) {
        auto own = ledger::open(path, why);
        ::_exit(own && book_of(*own)->take(why) ? 0 : 1);
    } else {
        int status = -1;
        ::waitpid(child, &status, 0);
        ASSERT_EQ(status, 0);
    }
    auto b = book_of(*l);
    EXPECT_EQ(take(*b), 1u);
    const auto rows = l->rows("1000", why);
    ASSERT_TRUE(rows && rows->size() == 1) << why;
    EXPECT_EQ(rows->front().result + ": " + rows->front().step, std::string("unknown: ") + k_unsettled_step);
}

// What is wrong with the ledger's file, its -wal or -shm, or its folder is
// said of them; a ledger deleted or replaced while open records no more. A
// hex file given for the ledger, or a link, is refused and left as it is. A
// read-only medium is a tmpfs mounted in the child's own mount namespace;
// read-only files and folders are tried as nobody when run as root, which
// writes them whatever their bits.
TEST_F(ledger_test, what_is_wrong_with_a_ledgers_files_is_said_at_open_and_after)
{
    enum where { here, read_only_medium, as_nobody };
    const struct {
        const char* what;
        std::function<std::string(const std::string&)> before;  // in the row's folder: the ledger's path
        std::string says;                                       // empty: opened
        bool write = true;
        where in = here;
        std::function<void(const std::string&)> after = {};  // with the ledger open: record() then fails
        const char* moved_to = nullptr;  // where the row recorded before `after` must be, in the file alone
    } rows[] = {
        {"a hex file", [](auto f) { return (std::ofstream(f + "/app.hex") << ":00000001FF\n", f + "/app.hex"); },
         "app.hex: not a ledger (no SQLite database); it is left as it is"},
        {"a link", [](auto f) { return fs::create_symlink(f + "/line.ledger", f + "/link"), f + "/link"; },
         "link: a link; a ledger is not written through one"},
        {"a link for its -shm",
         [](auto f) { return fs::create_symlink(f + "/x", made(f + "/line.ledger") + "-shm"), f + "/line.ledger"; },
         "line.ledger-shm is a link, where the ledger's own -shm file must be"},
        {"a link for its -wal, to read",
         [](auto f) { return fs::create_symlink(f + "/x", made(f + "/line.ledger") + "-wal"), f + "/line.ledger"; },
         "line.ledger-wal is a link, where the ledger's own -wal file must be", false},
        {"a file for its folder", [](auto f) { return (std::ofstream(f + "/dir") << "x", f + "/dir/line.ledger"); },
         "/dir is no folder but a file"},
        {"of version 2, brought to version 3 by the last opening",
         [](auto f) {
             std::string why;
             write_old_version(f + "/l", 2);
             return ledger::open(f + "/l", why), f + "/l";
         },
         ""},
        {"a read-only medium", [](auto f) { return made(f + "/line.ledger"); }, "line.ledger: on a read-only medium (",
         true, read_only_medium},
        {"a read-only medium, to read", [](auto f) { return made(f + "/line.ledger"); }, "", false, read_only_medium},
        {"a read-only file", [](auto f) { return fs::permissions(made(f + "/l"), fs::perms(0444)), f + "/l"; },
         "l: a read-only file", true, as_nobody},
        {"a read-only folder", [](auto f) { return fs::permissions(f, fs::perms(0555)), f + "/line.ledger"; },
         "it cannot be made: its folder ", true, as_nobody},
        {"deleted", [](auto f) { return f + "/line.ledger"; }, "line.ledger was deleted or replaced while in use", true,
         here, [](auto path) { fs::remove(path); }},
        {"replaced", [](auto f) { return made(f + "/other"), f + "/line.ledger"; },
         "line.ledger was deleted or replaced while in use", true, here,
         [](auto path) { fs::rename(fs::path(path).parent_path() / "other", path); }},
        {"its -wal deleted", [](auto f) { return f + "/line.ledger"; },
         "line.ledger was deleted or replaced while in use", true, here, [](auto path) { fs::remove(path + "-wal"); }},
        {"moved without its -wal", [](auto f) { return f + "/line.ledger"; },
         "line.ledger was deleted or replaced while in use", true, here,
         [](auto path) { fs::rename(path, path + ".moved"); }, "line.ledger.moved"},
    };
    fs::permissions(dir.path().toStdString(), fs::perms(0755));  // for nobody
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        const auto folder = dir.filePath(row.what).toStdString();
        fs::create_directory(folder);
        fs::permissions(folder, fs::perms(0777));
        const auto said = in_child([&]() -> std::string {
            if (row.in == read_only_medium &&
                (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
                 ::mount("tmpfs", folder.c_str(), "tmpfs", 0, nullptr) != 0))
                return "skipped: no mount namespace here";
            const auto path = row.before(folder);
            if (row.in == read_only_medium &&
                ::mount(nullptr, folder.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr))
                return "skipped: no read-only remount here";
            if (row.in == as_nobody && ::getuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0))
                return "skipped: nobody's rights cannot be taken";
            std::string why;
            auto l = row.write ? ledger::open(path, why) : ledger::open_to_read(path, why);
            if (!l || !row.after) return l ? (l->rows(std::nullopt, why) ? "" : why) : why;
            auto b = book_of(*l);
            const auto n = b->take(why);
            if (!n || !l->record({.result = "failed"}, nullptr, why)) return "not recorded before: " + why;
            row.after(path);
            if (l->record({.result = "passed"}, &*n, why) || !l->gone()) return "recorded: " + why;
            return b->take(why) ? "gave a number" : why;
        });
        if (said.starts_with("skipped")) {
            std::cout << row.what << ": " << said << '\n';
            continue;
        }
        EXPECT_EQ(said.empty(), row.says.empty()) << said;
        EXPECT_NE(said.find(row.says), std::string::npos) << said;
        if (!row.moved_to) continue;
        std::string why;
        auto moved = ledger::open_to_read(folder + "/" + row.moved_to, why);
        ASSERT_TRUE(moved) << why;
        const auto kept = moved->rows(std::nullopt, why);
        ASSERT_TRUE(kept) << why;
        EXPECT_EQ(kept->size(), 1u) << "the board recorded before the move is not in the moved file";
    }
    const auto hex = dir.filePath("a hex file/app.hex").toStdString();
    std::ostringstream out, err;
    EXPECT_EQ(run_ledger({.file = hex}, out, err), 2);
    EXPECT_EQ(fs::file_size(hex), 12u);
    for (const auto& e : fs::directory_iterator(fs::path(hex).parent_path()))
        EXPECT_FALSE(e.path().string().starts_with(hex + "-")) << e.path();  // no journal of it either
}

TEST_P(either_ledger, the_ledger_command_prints_totals_rows_and_one_serial)
{
    ASSERT_TRUE(l) << why;
    const ledger_row boards[] = {
        {.fixture = "board 1", .result = "passed"},
        {.fixture = "board \"2\", left", .result = "failed", .step = "erase"},
        {.fixture = "board 1", .result = "passed"},
        {.fixture = "board 3", .hex_sha256 = "bb", .result = "failed", .step = "program block"},
        {.fixture = "board 3", .hex_sha256 = "bb", .result = "failed", .step = "program block"},
        {.fixture = "board 1", .hex_sha256 = "aa", .result = "stopped", .step = "erase"},  // no good one, no failure
        {.fixture = "board 1", .hex_sha256 = "aa", .result = "passed", .operator_name = "Ann", .lot = "L2"}};
    for (const auto& row : boards) ASSERT_TRUE(l->record(row, nullptr, why)) << why;
    const std::pair<ledger_request, std::string> rows[] = {
        {{.file = path},
         "Boards: 7, passed: 3, failed: 3, other: 1\nYield: 42.9 %\nFailures by step:\n  program block  2\n  erase  "
         "        1\nFailures by fixture:\n  board 3          2\n  board \"2\", left  1\nBy hex file (SHA-256):\n  aa  "
         "passed 1, failed 0\n  bb  passed 0, failed 2\n"},
        {{.file = path, .csv = true}, ",\"board \"\"2\"\", left\",,"},
        {{.file = path, .json = true}, "\"serial\":null,\"series\":\"\",\"station\":\""},
        {{.file = path, .serial = "1000"}, ""},
        {{.file = path, .by = "lot"},
         "By lot:\n  -   boards 6, passed 2, failed 3, yield 33.3 %\n  L2  boards 1, passed 1, failed 0, yield 100.0 "
         "%\n"},
        {{.file = path, .json = true}, "\"lot\":\"L2\",\"operator\":\"Ann\",\"port\""},
        {{.file = path, .since = "2999-01-01"}, "Boards: 0,"},
        {{.file = path, .lot = "L2"}, "Boards: 1, passed: 1"},
    };
    for (const auto& [request, shows] : rows) {
        std::ostringstream out, err;
        EXPECT_EQ(run_ledger(request, out, err), shows.empty() ? 1 : 0) << err.str();
        EXPECT_NE(out.str().find(shows), std::string::npos) << out.str();
    }
}

}  // namespace
