#include "cli/ledger_command.h"

#include <CLI/CLI.hpp>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <iomanip>
#include <map>
#include <ostream>
#include <sstream>
#include <vector>

#include "cli/whole_number.h"
#include "station/ledger.h"
#include "station/report.h"
#include "station/server_ledger.h"

namespace fernwick::cli {

using namespace fernwick::station;

namespace {

constexpr int k_not_found = 1;
constexpr int k_unusable = 2;

const char* const k_csv_header =
    "time,host,fixture,port,adapter_serial,hex_file,hex_sha256,series,serial,result,step,sector,block,received,"
    "attempts,seconds,version,product,job_sha256,operator,lot,station";

std::string number(const std::optional<int>& v) { return v ? std::to_string(*v) : ""; }

std::string seconds_text(double seconds)
{
    std::ostringstream text;
    text << std::fixed << std::setprecision(3) << seconds;
    return text.str();
}

std::vector<std::string> fields(const ledger_row& r)
{
    return {r.time,
            r.host,
            r.fixture,
            r.port,
            r.adapter_serial,
            r.hex_file,
            r.hex_sha256,
            r.series,
            r.serial.value_or(""),
            r.result,
            r.step,
            number(r.sector),
            number(r.block),
            r.received,
            std::to_string(r.attempts),
            seconds_text(r.seconds),
            r.version,
            r.product,
            r.job_sha256,
            r.operator_name,
            r.lot,
            r.station};
}

// RFC 4180: a field with a comma, a quote or a line end goes in quotes, its
// quotes doubled; lines end in CR LF.
std::string csv_field(const std::string& s)
{
    if (s.find_first_of(",\"\r\n") == std::string::npos) return s;
    std::string out = "\"";
    for (const char c : s) out += c == '"' ? "\"\"" : std::string(1, c);
    return out + '"';
}

void print_csv(std::ostream& out, const std::vector<ledger_row>& rows)
{
    out << k_csv_header << "\r\n";
    for (const auto& r : rows) {
        const auto values = fields(r);
        for (std::size_t i = 0; i < values.size(); ++i) out << (i ? "," : "") << csv_field(values[i]);
        out << "\r\n";
    }
}

void print_json(std::ostream& out, const std::vector<ledger_row>& rows)
{
    for (const auto& r : rows) {
        auto o = row_json(r);
        o["seconds"] = std::round(r.seconds * 1000) / 1000;
        out << QJsonDocument(o).toJson(QJsonDocument::Compact).toStdString() << '\n';
    }
}

// Most first, then by name.
void print_counts(std::ostream& out, const char* title, const std::map<std::string, int>& counts)
{
    if (counts.empty()) return;
    std::vector<std::pair<std::string, int>> sorted(counts.begin(), counts.end());
    std::stable_sort(sorted.begin(), sorted.end(), [](const auto& a, const auto& b) { return a.second > b.second; });
    std::size_t width = 0;
    for (const auto& [name, n] : sorted) width = std::max(width, name.size());
    out << title << ":\n";
    for (const auto& [name, n] : sorted) out << "  " << name << std::string(width - name.size() + 2, ' ') << n << '\n';
}

// The boards each host and each of its station processes wrote, as the
// totals count them: a line of many hosts shows who does what.
void print_by_host(std::ostream& out, const std::vector<ledger_row>& rows)
{
    std::map<std::string, std::array<int, 3>> counts;  // boards, passed, failed
    for (const auto& r : rows) {
        for (const auto& key : {r.host.empty() ? "-" : r.host, (r.host.empty() ? "-" : r.host) + "  station " +
                                                                   (r.station.empty() ? "-" : r.station)}) {
            auto& c = counts[key];
            ++c[0];
            c[1] += r.result == "passed";
            c[2] += r.result == "failed";
        }
    }
    if (counts.empty()) return;
    out << "By host and station:\n";
    for (const auto& [name, c] : counts)
        out << (name.find("  station ") == std::string::npos ? "  " : "    ") << name << "  boards " << c[0]
            << ", passed " << c[1] << ", failed " << c[2] << '\n';
}

void print_summary(std::ostream& out, const std::vector<ledger_row>& rows, const std::vector<std::string>& notes)
{
    int passed = 0, failed = 0;
    std::map<std::string, int> by_step, by_fixture;
    std::map<std::string, std::pair<int, int>> by_file;  // passed, failed
    for (const auto& r : rows) {
        const bool pass = r.result == "passed", fail = r.result == "failed";
        passed += pass;
        failed += fail;
        if (fail) {
            ++by_step[r.step.empty() ? "-" : r.step];
            ++by_fixture[r.fixture.empty() ? "-" : r.fixture];
        }
        if (!r.hex_sha256.empty()) {
            by_file[r.hex_sha256].first += pass;
            by_file[r.hex_sha256].second += fail;
        }
    }
    const auto boards = static_cast<int>(rows.size());
    out << "Boards: " << boards << ", passed: " << passed << ", failed: " << failed
        << ", other: " << boards - passed - failed << '\n';
    // Every board counts: one stopped or left unsettled was not a good one either.
    if (boards > 0)
        out << "Yield: " << std::fixed << std::setprecision(1) << 100.0 * passed / boards << " %\n";
    else
        out << "Yield: - (no boards)\n";
    print_counts(out, "Failures by step", by_step);
    print_counts(out, "Failures by fixture", by_fixture);
    if (!by_file.empty()) out << "By hex file (SHA-256):\n";
    for (const auto& [sha, counts] : by_file)
        out << "  " << sha << "  passed " << counts.first << ", failed " << counts.second << '\n';
    print_by_host(out, rows);
    // What the ledger did with numbers that no row says.
    if (!notes.empty()) out << "Notes:\n";
    for (const auto& note : notes) out << "  " << note << '\n';
}

// The boards of each lot or operator, as the totals count them; "-" for
// boards of no job.
void print_by(std::ostream& out, const std::vector<ledger_row>& rows, const std::string& by)
{
    std::map<std::string, std::array<int, 3>> counts;  // boards, passed, failed
    for (const auto& r : rows) {
        const auto& key = by == "lot" ? r.lot : r.operator_name;
        auto& c = counts[key.empty() ? "-" : key];
        ++c[0];
        c[1] += r.result == "passed";
        c[2] += r.result == "failed";
    }
    std::size_t width = 0;
    for (const auto& [name, c] : counts) width = std::max(width, name.size());
    out << "By " << by << ":\n";
    for (const auto& [name, c] : counts)
        out << "  " << name << std::string(width - name.size() + 2, ' ') << "boards " << c[0] << ", passed " << c[1]
            << ", failed " << c[2] << ", yield " << std::fixed << std::setprecision(1) << 100.0 * c[1] / c[0] << " %\n";
}

void print_serial(std::ostream& out, const std::vector<ledger_row>& rows)
{
    for (const auto& r : rows) {
        out << r.time << "  " << r.result << (r.step.empty() ? "" : " at " + r.step) << "  " << r.fixture << "  "
            << r.port << "  " << r.host << "  " << r.hex_file << '\n';
    }
}

}  // namespace

void add_ledger_command(CLI::App& app, ledger_request& r)
{
    auto* command = app.add_subcommand(
        "ledger",
        "print what a ledger of programmed boards holds: the totals, the yield and the failures (the "
        "ledger is only read)");
    // "ledger init LEDGER" makes a server's ledger; "ledger LEDGER" reads one.
    command
        ->add_option("LEDGER", r.words,
                     "the ledger: an SQLite file, or a PostgreSQL server (postgresql://USER@HOST/DB or 'host=... "
                     "dbname=...'); 'init LEDGER' makes a server's ledger, in a database (or schema) that holds none "
                     "of its tables' names")
        ->required()
        ->expected(1, 2)
        ->type_name("");
    command
        ->add_option("--reservation-seconds", r.reservation_seconds,
                     "with init: a serial number held by a station that stops renewing its hold (killed, its host "
                     "lost) is kept for good and gets an 'unknown' row after S seconds (10 to 86400, default 120)")
        ->type_name("S")
        ->transform(whole_number(10, 86400));
    command->callback([&r] {
        r.init = r.words.size() == 2;
        if (r.init && r.words[0] != "init")
            throw CLI::ValidationError("LEDGER", "takes one ledger, or 'init' and the server's connection string");
        if (!r.init && r.reservation_seconds)
            throw CLI::ValidationError("--reservation-seconds", "is an option of ledger init, which makes a ledger");
        r.file = r.words.back();
    });
    auto* json = command->add_flag("--json", r.json, "print every row as a line of JSON (JSON Lines)");
    auto* csv = command->add_flag("--csv", r.csv, "print every row as CSV, with a header line");
    json->excludes(csv);
    command->add_option("--serial", r.serial, "print only the rows of serial number TEXT; exit status 1 when none")
        ->type_name("TEXT");
    command
        ->add_option("--since", r.since,
                     "only the rows from TIME on: a date or a time in UTC as the rows keep it (2026-12-08, "
                     "2026-12-08T10:00, 2026-12-08T10:00:30)")
        ->type_name("TIME")
        // Compared as text with the rows' times: a form that is not theirs would drop rows without a word.
        ->check(CLI::Validator(
            [](std::string& v) {
                if (!v.empty() && v.back() == 'Z') v.pop_back();
                const std::string form = "dddd-dd-ddTdd:dd:dd";
                const bool whole = v.size() == 10 || v.size() == 16 || v.size() == 19;
                for (std::size_t i = 0; whole && i < v.size(); ++i)
                    if (form[i] == 'd' ? !std::isdigit(static_cast<unsigned char>(v[i])) : v[i] != form[i])
                        return std::string(
                            "takes a date or a time in UTC: 2026-12-08, 2026-12-08T10:00 or "
                            "2026-12-08T10:00:30");
                return whole ? std::string()
                             : std::string(
                                   "takes a date or a time in UTC: 2026-12-08, "
                                   "2026-12-08T10:00 or 2026-12-08T10:00:30");
            },
            ""));
    command->add_option("--lot", r.lot, "only the rows of the lot TEXT")->type_name("TEXT");
    command
        ->add_option("--by", r.by,
                     "after the totals, the boards, passed, failed and yield of each lot or each operator of a job's "
                     "runs (fernwick-cli station --job ... --lot TEXT --operator NAME); '-' for boards of no job")
        ->type_name("lot|operator")
        ->check(CLI::IsMember({"lot", "operator"}))
        ->excludes(json)
        ->excludes(csv);
}

int run_ledger_init(const ledger_request& r, std::ostream& out, std::ostream& err)
{
    if (!is_server_ledger(r.file)) {
        err << "fernwick-cli ledger init: " << r.file
            << " is no PostgreSQL connection string; an SQLite ledger is made by its first station\n";
        return k_unusable;
    }
    std::string why;
    const auto done = server_ledger::init(r.file, r.reservation_seconds, why);
    if (!done) {
        err << "fernwick-cli ledger init: " << why << '\n';
        return k_unusable;
    }
    out << "fernwick-cli ledger init: " << *done << '\n';
    return 0;
}

int run_ledger(const ledger_request& r, std::ostream& out, std::ostream& err)
{
    if (r.init) return run_ledger_init(r, out, err);
    std::string why;
    const auto book = ledger::open_to_read(r.file, why);
    auto rows = book ? book->rows(r.serial, why) : std::nullopt;
    if (rows)
        std::erase_if(*rows, [&](const ledger_row& row) {
            return (!r.since.empty() && row.time < r.since) || (r.lot && row.lot != *r.lot);
        });
    const auto notes = rows ? book->notes(why) : std::nullopt;
    if (!notes) {
        err << "fernwick-cli ledger: " << why << '\n';
        return k_unusable;
    }
    if (r.serial && rows->empty()) {
        err << "fernwick-cli ledger: no board has the serial number " << *r.serial << '\n';
        return k_not_found;
    }
    if (r.json)
        print_json(out, *rows);
    else if (r.csv)
        print_csv(out, *rows);
    else if (r.serial)
        print_serial(out, *rows);
    else
        print_summary(out, *rows, *notes);
    if (!r.by.empty() && !r.json && !r.csv && !r.serial) print_by(out, *rows, r.by);
    return 0;
}

}  // namespace fernwick::cli
