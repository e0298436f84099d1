#include <gtest/gtest.h>

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <chrono>
#include <map>
#include <sstream>
#include <thread>

#include "app/cli_report.h"

namespace {

using namespace fernwick::app;
using namespace std::chrono;
using namespace std::string_literals;
using result = fernwick::core::run_record::result;

const QString k_absent = "(absent)";

std::string in(const QTemporaryDir& dir, const char* name) { return dir.filePath(name).toStdString(); }

// Every line of the report as JSON; a line that does not parse fails the test.
std::vector<QJsonObject> read_back(const std::string& path)
{
    QFile file(QString::fromStdString(path));
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << path;
    std::vector<QJsonObject> records;
    for (const auto& line : file.readAll().split('\n')) {
        if (line.isEmpty()) continue;
        QJsonParseError error;
        const auto doc = QJsonDocument::fromJson(line, &error);
        EXPECT_TRUE(error.error == QJsonParseError::NoError && doc.isObject()) << line.toStdString();
        records.push_back(doc.object());
    }
    return records;
}

void expect_fields(const QJsonObject& got, const QJsonObject& want, std::size_t row)
{
    for (auto it = want.begin(); it != want.end(); ++it) {
        if (*it == k_absent)
            EXPECT_FALSE(got.contains(it.key())) << row << " " << it.key().toStdString();
        else
            EXPECT_TRUE(got[it.key()] == *it) << row << " " << it.key().toStdString() << ": "
                                              << QJsonDocument(QJsonArray{got[it.key()]}).toJson().toStdString();
    }
}

struct board_row {
    board_outcome outcome;
    QJsonObject fields;  // as read back
    std::string line;    // failure_line
    std::vector<std::string> in_table;
};

const std::string k_odd_device = "/dev/by-id/usb-\"Mirel\"\\K\xC3\xBCnzel\tport0";

TEST(cli_report, boards_read_back_from_the_report_as_they_ended)
{
    const auto started = sys_days{2026y / 12 / 7} + 10h + 15min + 30s + 123ms;
    const std::vector<int> all{0, 1, 2, 3};
    const board_row rows[] = {
        {{"/dev/ttyUSB0", result::succeeded, {}, all, 322, 322, 41000, 700, 41.3, started},
         {{"time", "2026-12-07T10:15:30.123Z"},
          {"result", "ok"},
          {"device", "/dev/ttyUSB0"},
          {"blocks_sent", 322},
          {"bytes_sent", 41000},
          {"bytes_received", 700},
          {"seconds", 41.3},
          {"step", k_absent},
          {"received", k_absent}},
         "",
         {"ok", "0,1,2,3", "322/322", "41.3"}},
        {{"/dev/ttyUSB1", result::failed, {result::failed, "program block", 3, 164, "\x33\x00\x91"s}, all, 163, 322},
         {{"result", "failed"},
          {"step", "program block"},
          {"sector", 3},
          {"block", 164},
          {"received", "33 00 91"},
          {"blocks_total", 322}},
         "Failed at: program block 164 of 322, sector 3, received 33 00 91",
         {"failed", "163/322", "164", " 91"}},
        // a block number left from the sector before means nothing for an erase
        {{"/dev/ttyUSB2", result::stopped, {result::stopped, "erase", 1, 40, ""}, {1}, 40, 90},
         {{"result", "stopped"},
          {"step", "erase"},
          {"sector", 1},
          {"block", QJsonValue::Null},
          {"received", k_absent},
          {"sectors", QJsonArray{1}}},
         "Stopped before: erase, sector 1",
         {"stopped", "erase", "40/90"}},
        {{"/dev/ttyUSB3", result::failed, {result::failed, "bring-up", -1, 0, ""}, all, 0, 322},
         {{"result", "failed"},
          {"step", "bring-up"},
          {"sector", QJsonValue::Null},
          {"block", QJsonValue::Null},
          {"received", ""}},
         "Failed at: bring-up",
         {"bring-up", "0/322"}},
        {{k_odd_device, result::failed, {result::failed, "late-byte check", 2, 7, ""}, {2}, 7, 7},
         {{"device", QString::fromStdString(k_odd_device)}, {"step", "late-byte check"}, {"block", QJsonValue::Null}},
         "Failed at: late-byte check, sector 2, nothing received",
         {"Mirel\"\\K??nzel?port0", "7/7"}},
        // a run that never reached a verdict is no success; a failed save names its block
        {{"/dev/ttyUSB4", result::none, {result::failed, "save code", 0, 2, "\x12\x93"s}, {0, 2}, 1, 11},
         {{"result", "failed"}, {"step", "save code"}, {"block", 2}},
         "Failed at: save code 2 of 11, sector 0, received 12 93",
         {"failed", "1/11"}},
    };
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const auto hex = in(dir, "app.hex");
    QFile file(QString::fromStdString(hex));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write("abc") == 3);
    file.close();
    std::string why;
    auto d = describe_run({.hex_file = hex, .bsl_now = 0, .bsl_target = -99, .sector0_segment = 1}, 19200, why);
    ASSERT_TRUE(d) << why;
    EXPECT_FALSE(describe_run({.hex_file = in(dir, "missing.hex")}, 9600, why));
    EXPECT_NE(why.find("missing.hex: No such file"), std::string::npos) << why;

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
    const QJsonObject shared{{"tool_version", FERNWICK_VERSION},
                             {"hex_file", QString::fromStdString(hex)},
                             {"hex_sha256", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
                             {"baud", 19200},
                             {"bsl_now", 0},
                             {"bsl_target", QJsonValue::Null},
                             {"sector0_segment", 1}};

    std::ostringstream table;
    print_table(table, boards);
    std::vector<std::string> lines;
    std::istringstream table_lines(table.str());
    for (std::string line; std::getline(table_lines, line);) lines.push_back(line);
    ASSERT_EQ(lines.size(), std::size(rows) + 1);
    const auto result_column = lines[0].find("result");
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        const auto& row = rows[i];
        expect_fields(back[i], shared, i);
        expect_fields(back[i], row.fields, i);
        EXPECT_EQ(failure_line(row.outcome), row.line);
        const auto& line = lines[i + 1];
        EXPECT_EQ(line.substr(result_column, 2), back[i]["result"].toString().left(2).toStdString()) << line;
        for (const auto& bit : row.in_table) EXPECT_NE(line.find(bit), std::string::npos) << bit << " in " << line;
    }
    for (unsigned char c : table.str()) EXPECT_TRUE(c == '\n' || (c >= 0x20 && c < 0x7F)) << int(c);
    EXPECT_NE(append_report(in(dir, "no/such/folder/report.jsonl"), records).value_or("").find("No such file"),
              std::string::npos);
}

TEST(cli_report, boards_appending_at_once_never_mix_their_lines)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const auto report = in(dir, "report.jsonl");
    constexpr int k_writers = 4, k_calls = 100, k_per_call = 5;
    auto append = [&](int writer) {
        run_description d;
        board_outcome o;
        o.device = std::string(3000, static_cast<char>('a' + writer));  // lines longer than a pipe's atomic write
        const std::vector<QJsonObject> records(k_per_call, report_record(d, o));
        for (int i = 0; i < k_calls; ++i) EXPECT_EQ(append_report(report, records), std::nullopt);
    };
    std::vector<std::jthread> writers;
    for (int w = 0; w < k_writers; ++w) writers.emplace_back(append, w);
    writers.clear();
    std::map<QString, int> lines_of;
    for (const auto& record : read_back(report)) ++lines_of[record["device"].toString()];
    ASSERT_EQ(lines_of.size(), std::size_t{k_writers});
    for (const auto& [device, count] : lines_of) EXPECT_EQ(count, k_calls * k_per_call);
}

}  // namespace
