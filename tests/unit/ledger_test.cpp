#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QTemporaryDir>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <thread>

#include "cli/ledger.h"
#include "cli/ledger_command.h"

namespace {

using namespace fernwick::cli;

serial_value number(std::uint64_t i) { return {i, std::to_string(1000 + i), {}}; }

// Numbers from 1000, `count` of them.
std::unique_ptr<serial_book> book_of(ledger& l, std::uint64_t count = 5)
{
    std::string why;
    auto b = l.book(
        "numbers from 1000", [count](std::uint64_t i) { return i < count ? std::optional(number(i)) : std::nullopt; },
        why);
    EXPECT_TRUE(b) << why;
    return b;
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

// A failed board's number is given next, lowest first; a kept one never again.
TEST_F(ledger_test, rows_read_back_and_numbers_given_back_come_first)
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

// Two stations on one ledger, each a connection of its own, giving back a
// quarter of their numbers: none given twice, none skipped.
TEST_F(ledger_test, two_stations_never_give_one_number_twice)
{
    ASSERT_TRUE(l) << why;
    std::vector<std::uint64_t> kept[2];
    auto station = [&](int n) {
        std::string reason;
        auto own = ledger::open(path, reason);
        auto b = book_of(*own, 1000);
        for (int i = 0; kept[n].size() < 100; ++i) {
            const auto v = b->take(reason);
            if (!v || !b->settle(*v, i % 4 != 3, reason)) return ADD_FAILURE() << reason;
            if (i % 4 != 3) kept[n].push_back(v->index);
        }
    };
    std::thread one(station, 0), two(station, 1);
    one.join();
    two.join();
    std::set<std::uint64_t> all(kept[0].begin(), kept[0].end());
    all.insert(kept[1].begin(), kept[1].end());
    ASSERT_EQ(all.size(), 200u);
    const auto top = *all.rbegin();
    auto b = book_of(*l, 1000);  // what is left in the pool, then the next new number
    for (auto i = take(*b); i <= top; i = take(*b)) EXPECT_TRUE(all.insert(i).second) << i;
    EXPECT_EQ(all.size(), top + 1);
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

// A hex file given for the ledger, or a link, is refused and left as it is.
TEST_F(ledger_test, a_file_that_is_no_ledger_is_refused_untouched)
{
    const auto hex = dir.filePath("app.hex").toStdString(), link = dir.filePath("link").toStdString();
    const std::string text = ":00000001FF\n";
    std::ofstream(hex) << text;
    std::filesystem::create_symlink(path, link);
    for (const auto& [file, says] : {std::pair{hex, "not a ledger"}, {link, "a link"}}) {
        EXPECT_FALSE(ledger::open(file, why));
        EXPECT_NE(why.find(says), std::string::npos) << why;
    }
    std::ostringstream out, err;
    EXPECT_EQ(run_ledger({.file = hex}, out, err), 2);
    EXPECT_EQ(std::filesystem::file_size(hex), text.size());
    for (const auto& e : std::filesystem::directory_iterator(dir.path().toStdString()))
        EXPECT_FALSE(e.path().string().starts_with(hex + "-")) << e.path();  // no journal of it either
}

TEST_F(ledger_test, the_ledger_command_prints_totals_rows_and_one_serial)
{
    ASSERT_TRUE(l) << why;
    const ledger_row boards[] = {
        {.fixture = "board 1", .result = "passed"},
        {.fixture = "board \"2\", left", .result = "failed", .step = "erase"},
        {.fixture = "board 1", .result = "passed"},
        {.fixture = "board 3", .hex_sha256 = "bb", .result = "failed", .step = "program block"},
        {.fixture = "board 3", .hex_sha256 = "bb", .result = "failed", .step = "program block"},
        {.fixture = "board 1", .hex_sha256 = "aa", .result = "stopped", .step = "erase"},  // no good one, no failure
        {.fixture = "board 1", .hex_sha256 = "aa", .result = "passed"}};
    for (const auto& row : boards) ASSERT_TRUE(l->record(row, nullptr, why)) << why;
    const std::pair<ledger_request, std::string> rows[] = {
        {{.file = path},
         "Boards: 7, passed: 3, failed: 3, other: 1\nYield: 42.9 %\nFailures by step:\n  program block  2\n  erase  "
         "        1\nFailures by fixture:\n  board 3          2\n  board \"2\", left  1\nBy hex file (SHA-256):\n  aa  "
         "passed 1, failed 0\n  bb  passed 0, failed 2\n"},
        {{.file = path, .csv = true}, ",\"board \"\"2\"\", left\",,"},
        {{.file = path, .json = true}, "\"serial\":null,\"series\":\"\",\"step\":\"erase\""},
        {{.file = path, .serial = "1000"}, ""},
    };
    for (const auto& [request, shows] : rows) {
        std::ostringstream out, err;
        EXPECT_EQ(run_ledger(request, out, err), shows.empty() ? 1 : 0) << err.str();
        EXPECT_NE(out.str().find(shows), std::string::npos) << out.str();
    }
}

}  // namespace
