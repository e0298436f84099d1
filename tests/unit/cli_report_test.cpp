#include <gtest/gtest.h>

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "station/report.h"

namespace {

using namespace fernwick::station;
using namespace std::chrono;
using namespace std::string_literals;
using result = fernwick::core::run_record::result;

const QString k_absent = "(absent)";

std::string in(const QTemporaryDir& dir, const char* name) { return dir.filePath(name).toStdString(); }

// Every line of the report as JSON; one that does not parse reads as an
// empty object, which no row's fields match.
std::vector<QJsonObject> read_back(const std::string& path)
{
    QFile file(QString::fromStdString(path));
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << path;
    std::vector<QJsonObject> records;
    for (const auto& line : file.readAll().trimmed().split('\n'))
        records.push_back(QJsonDocument::fromJson(line).object());
    return records;
}

void expect_fields(const QJsonObject& got, const QJsonObject& want)
{
    for (auto it = want.begin(); it != want.end(); ++it)
        EXPECT_TRUE(*it == k_absent ? !got.contains(it.key()) : got[it.key()] == *it) << it.key().toStdString();
}

struct board_row {
    board_outcome outcome;
    QJsonObject fields;  // as read back
    std::string line;    // failure_line
    std::vector<std::string> in_table;
    std::string summary = "";  // in summary_text at 19200 baud
};

const std::string k_odd_device = "/dev/by-id/usb-\"Mirel\"\\K\xC3\xBCnzel\tport0";

TEST(cli_report, boards_read_back_from_the_report_as_they_ended)
{
    const auto started = sys_days{2026y / 12 / 7} + 10h + 15min + 30s + 123ms;
    const std::vector<int> all{0, 1, 2, 3};
    const QJsonValue null = QJsonValue::Null;
    // Where the code lies after the run, given in sector 2 or 0 (none: the run never began).
    const fernwick::core::code_location in2{true, 2, false, true}, in0{true, 2, true}, both{true, 0, true, true},
        nowhere{true, 2}, from0{true, 0, true}, none;
    const std::string again = ": run again with --bsl-now ";
    const board_row rows[] = {
        {{"/dev/ttyUSB0", result::succeeded, {}, all, 322, 322, 41000, 700, 41.3, started, 0, {}, 13.46},
         {{"time", "2026-12-07T10:15:30.123Z"},
          {"result", "ok"},
          {"bytes_sent", 41000},
          {"received", k_absent},
          {"answer_delay_ms", 13.5}},
         "",
         {"ok", "0,1,2,3", "322/322", "41.3"},
         "Blocks sent: 322, bytes sent: 41000, bytes received: 700\nTime: 41.30 s, line rate reached: 52.6 % of 19200 "
         "baud\n"},
        // the status column shows the status byte, not the checksum before it
        {{"/dev/ttyUSB1",
          result::failed,
          {result::failed, "program block", 3, 164, "\x33\x00\x91"s, false, in2},
          all,
          163,
          322,
          0,
          0,
          0,
          {},
          0,
          {"     A Flag Error occured ! ", "", "     Please Re-Start the Fernwick !"}},
         {{"result", "failed"}, {"block", 164}, {"received", "33 00 91"}, {"gone", false}, {"bsl_now_after", 2}},
         "Failed at: program block 164 of 322, sector 3, received 33 00 91\nthe bootstrap code still lies in sector 2" +
             again + "2",
         {"failed", "163/322", "164", " 91"}},
        // a block number left from the sector before means nothing for an erase
        {{"/dev/ttyUSB2", result::stopped, {result::stopped, "erase", 2, 40, "", false, in0}, {1}, 40, 90},
         {{"result", "stopped"}, {"sector", 2}, {"block", null}, {"received", k_absent}, {"bsl_now_after", 0}},
         "Stopped before: erase, sector 2\nthe bootstrap code now lies only in sector 0" + again + "0",
         {"stopped", "erase", "40/90"}},
        {{k_odd_device, result::failed, {result::failed, "bring-up", -1, 0, "", true, none}, all, 0, 322},
         {{"device", QString::fromStdString(k_odd_device)},
          {"block", null},
          {"gone", true},
          {"bsl_now_after", 0},
          {"answer_delay_ms", null}},
         "Failed at: bring-up, the board is gone\nnothing was erased: the bootstrap code lies where it did",
         {"Mirel\"\\K??nzel?port0", "0/322", "gone"}},
        // a run that never reached a verdict is no success; a failed save names its block; a lone checksum; a
        // board that takes the bytes faster than the line carries them has no share of the line's rate
        {{"/dev/ttyUSB4",
          result::none,
          {result::failed, "save code", 0, 2, "\x12"s, false, both},
          {0, 2},
          1,
          11,
          758,
          32,
          0.1},
         {{"result", "failed"}, {"step", "save code"}, {"block", 2}, {"bsl_now_after", 0}},
         "Failed at: save code block 2 of 11, sector 0, received 12\nthe bootstrap code now lies in sectors 0 and 2" +
             again + "0",
         {"failed", "1/11", " -"},
         "Time: 0.10 s, faster than 19200 baud allows (the line is not paced)\n"},
        {{"/dev/ttyUSB5", result::failed, {result::failed, "erase", 2, 4, "", false, nowhere}, {0, 2}, 4, 11},
         {{"bsl_now_after", null}},
         "Failed at: erase, sector 2, nothing received\nthe bootstrap code now lies in no sector" + again + "-99"},
        // with retries: each attempt from where the one before left the code; the time of all of them
        {{"/dev/ttyUSB6",
          result::succeeded,
          {result::succeeded, "", -1, 0, "", false, from0},
          all,
          322,
          322,
          83000,
          1400,
          7.3466,
          started,
          0,
          {},
          13.46,
          {{result::failed, {result::failed, "erase", 2, 7, "\xBE\x93"s, false, in0}, 2, 2.3456, 7},
           {result::succeeded, {result::succeeded, "", -1, 0, "", false, from0}, 0, 5.0009, 322}},
          3},
         {{"attempts", QJsonArray{QJsonObject{{"attempt", 1},
                                              {"bsl_now", 2},
                                              {"blocks_sent", 7},
                                              {"seconds", 2.346},
                                              {"result", "failed"},
                                              {"bsl_now_after", 0},
                                              {"step", "erase"},
                                              {"sector", 2},
                                              {"block", null},
                                              {"received", "BE 93"},
                                              {"gone", false}},
                                  QJsonObject{{"attempt", 2},
                                              {"bsl_now", 0},
                                              {"blocks_sent", 322},
                                              {"seconds", 5.001},
                                              {"result", "ok"},
                                              {"bsl_now_after", 0}}}},
          {"attempts_allowed", 3},
          {"seconds", 7.347},
          {"bsl_now_after", 0}},
         "",
         {"ok", "2 of 3", "7.3"},
         "Attempts: 2 of 3\n"},
    };
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    // A name that is not UTF-8, given relative to the folder the run is in, with a needless "./".
    const auto base = dir.path().toStdString();
    std::ofstream(base + "/app\xFF.hex") << "abc";
    std::string why;
    const auto run_folder = std::filesystem::current_path();
    std::filesystem::current_path(base);
    const auto folder = QString::fromStdString(std::filesystem::current_path().string());  // links resolved
    auto d =
        describe_run({.hex_file = "./app\xFF.hex", .bsl_now = 0, .bsl_target = -99, .sector0_segment = 1}, 19200, why);
    std::filesystem::current_path(run_folder);
    ASSERT_TRUE(d) << why;
    d->block_file = base + "/app.NEW";
    d->bench.entry = *fernwick::core::parse_modem_sequence("reset-rts-boot-jumper", false, why);
    d->bench.exit = *fernwick::core::parse_modem_sequence("dtr=0", true, why);

    std::vector<QJsonObject> records;
    std::vector<board_outcome> boards;
    for (const auto& row : rows) {
        records.push_back(report_record(*d, row.outcome));
        boards.push_back(row.outcome);
    }
    // Appending twice keeps what was there.
    const auto report = in(dir, "report.jsonl");
    ASSERT_EQ(append_report(report, std::vector(records.begin(), records.begin() + 2)), std::nullopt);
    ASSERT_EQ(append_report(report, std::vector(records.begin() + 2, records.end())), std::nullopt);
    const auto back = read_back(report);
    ASSERT_EQ(back.size(), std::size(rows));
    const QJsonObject shared{{"hex_file", folder + "/app\\xFF.hex"},
                             {"block_file", dir.path() + "/app.NEW"},
                             {"hex_sha256", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
                             {"bsl_target", QJsonValue::Null},
                             {"sector0_segment", 1},
                             {"entry", "reset-rts-boot-jumper (rts=1,wait=100,rts=0,wait=50)"},
                             {"exit", "dtr=0"}};

    std::ostringstream table;
    print_table(table, boards);
    std::vector<std::string> lines;
    std::istringstream table_lines(table.str());
    for (std::string line; std::getline(table_lines, line);) lines.push_back(line);
    ASSERT_EQ(lines.size(), std::size(rows) + 1);
    const auto result_column = lines[0].find("result");
    std::ostringstream reasons;
    print_reasons(reasons, boards);
    std::string reasons_expected;
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        const auto& row = rows[i];
        SCOPED_TRACE(i);
        expect_fields(back[i], shared);
        expect_fields(back[i], row.fields);
        EXPECT_EQ(failure_line(row.outcome), row.line);
        EXPECT_NE(summary_text(row.outcome, 19200).find(row.summary), std::string::npos);
        // A failed board's reasons, under its device as the table shows it: the chip's words, then the line.
        if (back[i]["result"] == "failed") {
            const auto& o = row.outcome;
            reasons_expected +=
                "\n" + (o.device == k_odd_device ? "/dev/by-id/usb-\"Mirel\"\\K??nzel?port0" : o.device) + ":\n";
            for (const auto& m : o.reason)
                if (!m.empty()) reasons_expected += m + "\n";
            std::istringstream said(row.line);
            for (std::string l; std::getline(said, l);) reasons_expected += "     " + l + "\n";
        }
        const auto& line = lines[i + 1];
        EXPECT_EQ(line.substr(result_column, 2), back[i]["result"].toString().left(2).toStdString()) << line;
        for (const auto& bit : row.in_table) EXPECT_NE(line.find(bit), std::string::npos) << bit << " in " << line;
    }
    EXPECT_EQ(reasons.str(), reasons_expected);
    std::filesystem::remove(base + "/app\xFF.hex");  // a name QTemporaryDir cannot take away
    for (unsigned char c : table.str()) EXPECT_TRUE(c == '\n' || (c >= 0x20 && c < 0x7F)) << int(c);
    EXPECT_NE(append_report(in(dir, "no/such/folder/report.jsonl"), records).value_or("").find("No such file"),
              std::string::npos);
}

}  // namespace
