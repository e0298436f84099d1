#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QTemporaryDir>
#include <filesystem>
#include <fstream>

#include "cli/station_view.h"
#include "station/fixtures.h"

namespace {

using namespace fernwick::cli;
using namespace fernwick::station;
namespace fs = std::filesystem;

// What a folder of ports holds, and which of its names the station takes as
// fixtures: serial devices only, each device once, under the name of the
// first pattern that matched it.
TEST(cli_station, a_fixture_is_a_serial_device_named_once)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const auto at = [&](const std::string& name) { return dir.filePath(QString::fromStdString(name)).toStdString(); };
    fs::create_directories(at("by-id"));
    // Links stand for the devices: a test may not make device nodes.
    fs::create_symlink("/dev/null", at("by-id/usb-a"));
    fs::create_symlink("/dev/null", at("ttyA"));  // the same adapter under its kernel name
    fs::create_symlink(at("ttyA"), at("by-id/usb-a-link"));
    fs::create_symlink("/dev/zero", at("ttyB"));
    std::ofstream(at("ttyC")) << "a regular file\n";
    fs::create_symlink(at("ttyC"), at("ttyD"));
    fs::create_symlink(at("none"), at("ttyE"));
    ::mkfifo(at("ttyF").c_str(), 0600);
    fs::create_directory(at("ttyG"));
    const struct {
        std::vector<std::string> patterns;
        std::vector<std::string> ports;
    } rows[] = {
        {{at("tty*")}, {at("ttyA"), at("ttyB")}},
        {{at("by-id/*"), at("tty*")}, {at("by-id/usb-a"), at("ttyB")}},
        {{at("ttyA"), at("by-id/*")}, {at("ttyA")}},
        {{"/dev/null", at("ttyA"), at("ttyB")}, {"/dev/null", at("ttyB")}},
        {{at("tty[C-G]")}, {}},
        {{at("ttyB"), at("ttyB")}, {at("ttyB")}},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.patterns.front());
        std::vector<std::string> first_names;
        for (const auto& d : matching_devices(r.patterns)) first_names.push_back(d.names.front());
        EXPECT_EQ(first_names, r.ports);
    }
}

// The totals line's figures: boards that ended count once, passed or not;
// the pace is over the time the station had boards.
TEST(cli_station, the_totals_count_every_board_that_ended)
{
    using namespace std::chrono;
    const struct {
        int passed, failed;
        duration<double> from_first_to_last_end;
        const char* yield;
        const char* per_hour;
    } rows[] = {
        {0, 0, {}, "-", "-"},         {2, 1, 1h, "66.7 %", "3"},
        {1, 2, 90s, "33.3 %", "120"}, {6, 1, 2370s, "85.7 %", "11"},    // 10.6 an hour
        {199, 1, 59s, "99.5 %", "-"},                                   // less than a minute
        {0, 3, 10min, "0.0 %", "18"}, {1000, 0, 24h, "100.0 %", "42"},  // 41.7 an hour
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(std::to_string(r.passed) + " passed, " + std::to_string(r.failed) + " failed");
        station_totals t{r.passed, r.failed};
        t.first_board = steady_clock::now();
        t.last_end = t.first_board + duration_cast<steady_clock::duration>(r.from_first_to_last_end);
        EXPECT_EQ(t.yield_text(), r.yield);
        EXPECT_EQ(t.per_hour_text(), r.per_hour);
    }
}

}  // namespace
