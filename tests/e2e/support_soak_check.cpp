// The checks of one fixture's boards against the reports and the ledger, and
// of a station's exit status.

#include <QDateTime>
#include <QJsonValue>
#include <QString>

#include <algorithm>

#include "support_soak_run.h"

namespace fernwick::e2e {

namespace {

std::string told(const QJsonObject& o, const char* result_key)
{
    auto text = o[result_key].toString().toStdString();
    if (o["serial"].isString()) text += " serial " + o["serial"].toString().toStdString();
    if (!o["step"].toString().isEmpty()) text += " at " + o["step"].toString().toStdString();
    return text;
}

std::string list(const std::vector<QJsonObject>& objects, const char* result_key)
{
    std::string text;
    for (const auto& o : objects) text += (text.empty() ? "" : ", ") + told(o, result_key);
    return "(" + text + ")";
}

std::chrono::system_clock::time_point began(const QJsonObject& record)
{
    const auto ms = QDateTime::fromString(record["time"].toString(), Qt::ISODateWithMs).toMSecsSinceEpoch();
    return std::chrono::system_clock::time_point(std::chrono::milliseconds(ms));
}

std::string last_line(const std::string& text)
{
    auto end = text.find_last_not_of('\n');
    if (end == std::string::npos) return {};
    const auto start = text.rfind('\n', end);
    return text.substr(start == std::string::npos ? 0 : start + 1, end - (start == std::string::npos ? 0 : start));
}

}  // namespace

void soak_run::check_fixture(int f, const std::vector<QJsonObject>& records, const std::vector<QJsonObject>& rows)
{
    const auto recs = records_of(records, link(f)), its_rows = records_of(rows, link(f), "fixture");
    std::vector<const board_seen*> mine;
    for (const auto& b : boards_)
        if (b.fixture == f) mine.push_back(&b);
    std::sort(mine.begin(), mine.end(), [](auto* a, auto* b) { return a->number < b->number; });
    // A record is begun at its chip's answer: it belongs to the board in the fixture then.
    std::vector<bool> owned(recs.size());
    auto since = std::chrono::system_clock::time_point::min();
    for (const auto* b : mine) {
        std::vector<QJsonObject> its;
        for (std::size_t i = 0; i < recs.size(); ++i)
            if (const auto at = began(recs[i]); at > since && at <= b->left) {
                its.push_back(recs[i]);
                owned[i] = true;
            }
        since = b->left;
        check_board(*b, its);
    }
    for (std::size_t i = 0; i < recs.size(); ++i)
        if (!owned[i])
            say_broken("one record", "f" + std::to_string(f) + ": a record begun when no board was there " +
                                         list({recs[i]}, "result"));
    // The ledger tells each board as the reports do, and of the same file.
    const auto told_all = [](const std::vector<QJsonObject>& objects) {
        std::vector<std::string> all;
        for (const auto& o : objects) {
            auto t = told(o, "result") + " of " + o["hex_sha256"].toString().toStdString();
            if (t.starts_with("ok")) t.replace(0, 2, "passed");
            all.push_back(t);
        }
        std::sort(all.begin(), all.end());
        return all;
    };
    if (told_all(recs) != told_all(its_rows))
        say_broken("one record", "f" + std::to_string(f) + ": the reports say " + list(recs, "result") +
                                     ", the ledger " + list(its_rows, "result"));
}

void soak_run::check_board(const board_seen& b, const std::vector<QJsonObject>& its)
{
    const auto said = chip_said(b);
    const auto name = board_name(b) + (b.fixed ? " (fixed)" : " (usb)");
    // Left unseen it would stay blank: its fixture's line must have said so.
    if (said.deaf && its.empty() && std::none_of(stations_.begin(), stations_.end(), [&](const station& s) {
            return s.result.out.find("did not come up: reset it") != std::string::npos;
        }))
        say_broken("one record", name + ": its loader heard a presence reading first, and no line said so");
    if (said.heard && its.empty())
        say_broken("one record", name + ": its chip answered" +
                                     (said.commands ? " and took commands" : " only zero bytes") +
                                     ", and it has no record");
    if (its.size() > 1)
        say_broken("one record", name + " has " + std::to_string(its.size()) + " records " + list(its, "result"));
    if (!said.any && !its.empty())
        say_broken("one record", name + ": its chip never answered, and it has a record " + list(its, "result"));
    if (its.size() != 1) return;
    if (its[0]["result"] == "ok") {
        check_passed(b, its[0]);
    } else if (const auto code = its[0]["bsl_now_after"]; code.isDouble()) {
        const auto flash = read_image(b.dump);
        if (flash.size() == k_flash && !holds_the_code(flash, {static_cast<std::size_t>(code.toInt())}))
            say_broken("holds the code", name + ": its record says the code lies in sector " +
                                             std::to_string(code.toInt()) + "; it does not");
    }
}

void soak_run::check_passed(const board_seen& b, const QJsonObject& record)
{
    const auto sha = record["hex_sha256"].toString().toStdString();
    const auto want = expected_.find(sha);
    if (want == expected_.end()) {
        say_broken("holds the file", board_name(b) + " passed with a file never given, SHA-256 " + sha);
        return;
    }
    if (!record["serial"].isString()) {
        say_broken("holds the file", board_name(b) + " passed without a serial number");
        return;
    }
    const auto serial = record["serial"].toString().toUInt();
    const auto expected = numbered_image(want->second, serial);
    const auto flash = read_image(b.dump);
    if (flash == expected) return;
    char at[16];
    std::snprintf(
        at, sizeof at, "%05zXh",
        static_cast<std::size_t>(std::mismatch(flash.begin(), flash.end(), expected.begin(), expected.end()).first -
                                 flash.begin()));
    say_broken("holds the file", board_name(b) + " passed with serial " + std::to_string(serial) + " of file " +
                                     sha.substr(0, 8) + ", but its flash differs from it first at " + at);
}

// A job's boards get its file alone, and every record says whose job, operator and lot it was.
void soak_run::check_job(const std::vector<QJsonObject>& rows)
{
    const auto& file = first_sha256_;
    const auto lot = "lot " + std::to_string(plan.seed);
    const auto carries = [&](const QJsonObject& o, std::size_t k) {
        return o["product"] == "Soak board" && o["lot"] == lot.c_str() &&
               o["operator"] == ("op " + std::to_string(k)).c_str() && o["job_sha256"] == job_sha256_[k].c_str();
    };
    for (std::size_t k = 0; k < reports.size(); ++k)
        for (const auto& r : json_lines(read_file(reports[k]))) {
            if (r["result"] == "ok" && r["hex_sha256"] != file.c_str())
                say_broken("the job", "station " + std::to_string(k) + " passed a board with a file not the job's, " +
                                          r["hex_sha256"].toString().toStdString());
            if (!carries(r, k))
                say_broken("the job", "a record of station " + std::to_string(k) + " " + told(r, "result") +
                                          " does not carry its job, operator and lot");
        }
    for (const auto& row : rows) {
        bool any = false;
        for (std::size_t k = 0; k < reports.size(); ++k) any = any || carries(row, k);
        if (!any)
            say_broken("the job",
                       "a ledger row " + told(row, "result") + " carries no station's job, operator and lot");
    }
}

void soak_run::check_exit(std::size_t k)
{
    const auto& s = stations_[k];
    const auto name = "station " + std::to_string(k);
    const auto own = json_lines(read_file(reports[k]));
    const auto passed = std::count_if(own.begin(), own.end(), [](const QJsonObject& o) { return o["result"] == "ok"; });
    const int by_records = passed == static_cast<long>(own.size()) ? 0 : 1;
    const bool counted = plan.count > 0 && passed >= plan.count;
    const auto status = std::to_string(s.result.status);
    if (s.result.status == -1) {
        say_broken("exit status", name + " did not end within 30 s of SIGTERM");
    } else if (s.signalled) {
        // It may have reached --count just as the signal went.
        if (s.result.status != 143 && !(counted && s.result.status == by_records))
            say_broken("exit status", name + " ended with " + status + " after SIGTERM: " + last_line(s.result.err));
    } else if (!counted) {
        say_broken("exit status", name + " ended by itself with " + status + " after " + std::to_string(passed) +
                                      " passed boards: " + last_line(s.result.err));
    } else if (s.result.status != by_records) {
        say_broken("exit status", name + " ended with " + status + " though its records say " +
                                      std::to_string(by_records) + " (" + std::to_string(passed) + " of " +
                                      std::to_string(own.size()) + " passed)");
    }
}

}  // namespace fernwick::e2e
