#include "app/cli_report.h"

#include <fcntl.h>
#include <unistd.h>

#include <QCryptographicHash>
#include <QDateTime>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <iomanip>
#include <ostream>
#include <sstream>

#include "core/hex_text.h"

namespace fernwick::app {

using result = core::run_record::result;

namespace {

bool sends_block(const std::string& step) { return step == "program block" || step == "save code"; }

const char* result_word(result r)
{
    // A board that never got to a verdict did not succeed either.
    return r == result::succeeded ? "ok" : r == result::stopped ? "stopped" : "failed";
}

QJsonValue location(std::int16_t sector) { return sector == core::k_nowhere ? QJsonValue() : QJsonValue(sector); }

QString text(const std::string& s) { return QString::fromStdString(s); }

std::string utc_time(std::chrono::system_clock::time_point t)
{
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count();
    return QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC).toString(Qt::ISODateWithMs).toStdString();
}

std::string sector_list(const std::vector<int>& sectors)
{
    std::string list;
    for (int n : sectors) list += (list.empty() ? "" : ",") + std::to_string(n);
    return list.empty() ? "-" : list;
}

// A device name may hold anything; the table keeps to printable ASCII.
std::string printable(const std::string& s)
{
    std::string out = s;
    for (char& c : out)
        if (c < 0x20 || c > 0x7E) c = '?';
    return out;
}

std::string seconds_text(double seconds)
{
    std::ostringstream text;
    text << std::fixed << std::setprecision(1) << seconds;
    return text.str();
}

std::vector<std::string> table_row(const board_outcome& o)
{
    std::vector<std::string> row{printable(o.device), result_word(o.result), sector_list(o.sectors),
                                 std::to_string(o.blocks_sent) + "/" + std::to_string(o.blocks_total),
                                 seconds_text(o.seconds)};
    if (o.result == result::succeeded) return row;
    const auto& run = o.run;
    row.push_back(run.step.empty() ? "-" : run.step);
    row.push_back(run.sector < 0 ? "-" : std::to_string(run.sector));
    row.push_back(sends_block(run.step) ? std::to_string(run.block) : "-");
    if (o.result == result::stopped) return row;
    // The chip's last byte is its status byte, what it made of the exchange,
    // when one came after the checksum.
    const auto& got = run.received;
    row.push_back(run.gone ? "gone" : got.size() > 1 ? core::hex_bytes(got.substr(got.size() - 1)) : "-");
    return row;
}

// The bsl_now a next run needs: where the run left the code, or where the
// operator said it lay when no run began.
QJsonValue code_after(const run_description& d, const core::code_location& code)
{
    return location(code.known ? code.now() : d.choices.bsl_now);
}

std::string code_line(const core::code_location& code)
{
    if (!code.known) return "nothing was erased: the bootstrap code lies where it did";
    const std::string again = ": run again with --bsl-now " + std::to_string(code.now());
    if (code.in_0 && code.in_2) return "the bootstrap code now lies in sectors 0 and 2" + again;
    const bool kept = code.now() == code.given;
    if (code.now() == core::k_nowhere)
        return std::string("the bootstrap code ") + (kept ? "still" : "now") + " lies in no sector" + again;
    return "the bootstrap code " + std::string(kept ? "still lies" : "now lies only") + " in sector " +
           std::to_string(code.now()) + again;
}

}  // namespace

std::optional<std::string> sha256_of_file(const std::string& path, std::string& why)
{
    QFile file(text(path));
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!file.open(QIODevice::ReadOnly) || !hash.addData(&file)) {
        why = path + ": " + file.errorString().toStdString();
        return std::nullopt;
    }
    return hash.result().toHex().toStdString();
}

std::optional<run_description> describe_run(const hex_choices& c, int baud, std::string& why)
{
    run_description d;
    d.choices = c;
    d.baud = baud;
    d.hex_file = std::filesystem::absolute(c.hex_file).lexically_normal().string();
    const auto sha = sha256_of_file(d.hex_file, why);
    if (!sha) return std::nullopt;
    d.hex_sha256 = *sha;
    return d;
}

QJsonObject report_record(const run_description& d, const board_outcome& o)
{
    QJsonArray sectors;
    for (int n : o.sectors) sectors.append(n);
    QJsonObject r{
        {"time", text(utc_time(o.started))},
        {"tool_version", text(d.tool_version)},
        {"device", text(o.device)},
        {"hex_file", text(d.hex_file)},
        {"hex_sha256", text(d.hex_sha256)},
        {"baud", d.baud},
        {"bsl_now", location(d.choices.bsl_now)},
        {"bsl_target", location(d.choices.bsl_target)},
        {"sector0_segment", d.choices.sector0_segment},
        {"sectors", sectors},
        {"blocks_sent", o.blocks_sent},
        {"blocks_total", o.blocks_total},
        {"bytes_sent", static_cast<qint64>(o.bytes_sent)},
        {"bytes_received", static_cast<qint64>(o.bytes_received)},
        {"seconds", std::round(o.seconds * 1000) / 1000},
        {"result", result_word(o.result)},
        {"bsl_now_after", code_after(d, o.run.code)},
    };
    if (!d.unplaced.empty()) {
        QJsonArray ranges;
        for (const auto& line : d.unplaced) ranges.append(text(line));
        r["unplaced"] = ranges;
    }
    if (o.result == result::succeeded) return r;
    const auto& run = o.run;
    r["step"] = text(run.step);
    r["sector"] = run.sector < 0 ? QJsonValue() : QJsonValue(run.sector);
    r["block"] = sends_block(run.step) ? QJsonValue(run.block) : QJsonValue();
    if (o.result == result::stopped) return r;
    r["received"] = text(core::hex_bytes(run.received));
    r["gone"] = run.gone;
    return r;
}

std::optional<std::string> append_report(const std::string& path, const std::vector<QJsonObject>& records)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return path + ": " + std::strerror(errno);
    std::optional<std::string> why;
    for (const auto& record : records) {
        const QByteArray line = QJsonDocument(record).toJson(QJsonDocument::Compact) + '\n';
        ssize_t written;
        do written = ::write(fd, line.constData(), static_cast<std::size_t>(line.size()));
        while (written < 0 && errno == EINTR);
        if (written < 0) why = path + ": " + std::strerror(errno);
        // A second write could land after another program's line: better
        // to say so than to finish the line.
        else if (written != line.size())
            why = path + ": only " + std::to_string(written) + " of " + std::to_string(line.size()) +
                  " bytes of a line written";
        if (why) break;
    }
    // Some file systems report a failed write only at close.
    if (::close(fd) != 0 && !why) why = path + ": " + std::strerror(errno);
    return why;
}

void print_table(std::ostream& out, const std::vector<board_outcome>& boards)
{
    std::vector<std::vector<std::string>> rows{
        {"device", "result", "sectors", "blocks", "time (s)", "step", "sector", "block", "status"}};
    for (const auto& o : boards) rows.push_back(table_row(o));
    std::vector<std::size_t> width(rows[0].size());
    for (const auto& row : rows)
        for (std::size_t i = 0; i < row.size(); ++i) width[i] = std::max(width[i], row[i].size());
    for (const auto& row : rows) {
        std::string line;
        for (std::size_t i = 0; i < row.size(); ++i)
            line += row[i] + (i + 1 < row.size() ? std::string(width[i] - row[i].size() + 2, ' ') : "");
        out << line << '\n';
    }
}

std::string failure_line(const board_outcome& o)
{
    if (o.result == result::succeeded) return {};
    const auto& run = o.run;
    std::string line = o.result == result::stopped ? "Stopped before: " : "Failed at: ";
    line += run.step.empty() ? "an unrecorded step" : run.step;
    if (sends_block(run.step)) line += " " + std::to_string(run.block) + " of " + std::to_string(o.blocks_total);
    if (run.sector >= 0) line += ", sector " + std::to_string(run.sector);
    if (o.result != result::stopped) {
        if (!run.received.empty()) line += ", received " + core::hex_bytes(run.received);
        if (run.gone)
            line += ", the board is gone";
        else if (run.received.empty() && run.step != "bring-up")
            line += ", nothing received";
    }
    return line + "\n" + code_line(run.code);
}

}  // namespace fernwick::app
