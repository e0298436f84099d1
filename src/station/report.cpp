#include "station/report.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCryptographicHash>
#include <QDateTime>
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
#include "programming/text_file.h"
#include "station/fixtures.h"

namespace fernwick::station {

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

// The length of the UTF-8 sequence at `i`; 0 when it is none (a stray byte,
// an overlong form, a surrogate, beyond U+10FFFF, cut short).
std::size_t utf8_length(const std::string& s, std::size_t i)
{
    const auto b = static_cast<unsigned char>(s[i]);
    if (b < 0x80) return 1;
    const std::size_t n = b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC2 ? 2 : 0;
    if (n == 0 || b > 0xF4 || i + n > s.size()) return 0;
    for (std::size_t k = 1; k < n; ++k)
        if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return 0;
    const auto next = static_cast<unsigned char>(s[i + 1]);
    if ((b == 0xE0 && next < 0xA0) || (b == 0xED && next >= 0xA0) || (b == 0xF0 && next < 0x90) ||
        (b == 0xF4 && next >= 0x90))
        return 0;
    return n;
}

}  // namespace

QString name_text(const std::string& s)
{
    std::string out;
    for (std::size_t i = 0; i < s.size();) {
        if (const auto n = utf8_length(s, i)) {
            out.append(s, i, n);
            i += n;
        } else {
            out += "\\x" + core::hex2(static_cast<std::uint8_t>(s[i++]));
        }
    }
    return text(out);
}

namespace {

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

std::vector<std::string> table_row(const board_outcome& o, bool attempts, bool serials)
{
    std::vector<std::string> row{printable(o.device), result_word(o.result), sector_list(o.sectors),
                                 std::to_string(o.blocks_sent) + "/" + std::to_string(o.blocks_total),
                                 seconds_text(o.seconds)};
    if (attempts) row.push_back(std::to_string(o.attempts.size()) + " of " + std::to_string(o.attempts_allowed));
    if (serials) row.push_back(o.serial ? printable(o.serial->text) : "-");
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

// Where a failure or a stop happened, and for a failure what the chip sent.
void add_failure(QJsonObject& r, result outcome, const core::run_record& run)
{
    if (outcome == result::succeeded) return;
    r["step"] = text(run.step);
    r["sector"] = run.sector < 0 ? QJsonValue() : QJsonValue(run.sector);
    r["block"] = sends_block(run.step) ? QJsonValue(run.block) : QJsonValue();
    if (outcome == result::stopped) return;
    r["received"] = text(core::hex_bytes(run.received));
    r["gone"] = run.gone;
}

// For appending, never truncating. Only a regular file is taken: a FIFO
// would hold the run until a reader came (O_NONBLOCK: one put there after
// the look fails at once), and a device is no record (/dev/full fails only
// once the boards are done). -1 with `why` ("path: reason").
int open_report(const std::string& path, std::string& why)
{
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) {
        why = path + ": not a regular file";
        return -1;
    }
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_CLOEXEC, 0644);
    if (fd < 0) {
        why = path + ": " + (errno == ENXIO ? "not a regular file" : std::strerror(errno));
        return -1;
    }
    // One put there after the look, with a reader, opens as well.
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        why = path + ": not a regular file";
        ::close(fd);
        return -1;
    }
    return fd;
}

}  // namespace

std::optional<std::string> sha256_of_file(const std::string& path, std::string& why)
{
    // The bytes of the path as they are: a name that is not UTF-8 would not
    // survive a QString.
    std::string reason;
    const int fd = programming::open_regular_file(path, reason);
    if (fd < 0) {
        why = path + ": " + reason;
        return std::nullopt;
    }
    QCryptographicHash hash(QCryptographicHash::Sha256);
    char buffer[65536];
    ssize_t n = 0;
    while ((n = ::read(fd, buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR))
        if (n > 0) hash.addData(QByteArrayView(buffer, n));
    if (n < 0) why = path + ": " + std::strerror(errno);
    ::close(fd);
    if (n < 0) return std::nullopt;
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
        {"device", name_text(o.device)},
        {"hex_file", name_text(d.hex_file)},
        {"block_file", d.block_file.empty() ? QJsonValue() : QJsonValue(name_text(d.block_file))},
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
        {"answer_delay_ms", o.answer_delay_ms ? QJsonValue(std::round(*o.answer_delay_ms * 10) / 10) : QJsonValue()},
        {"result", result_word(o.result)},
        {"bsl_now_after", code_after(d, o.run.code)},
    };
    if (!d.bench.entry.empty()) r["entry"] = text(core::sequence_text(d.bench.entry));
    // A job's boards say whose they are; a plain station's records stay as they were.
    if (!d.job_sha256.empty()) {
        r["product"] = text(d.product);
        r["job_sha256"] = text(d.job_sha256);
        r["operator"] = text(d.operator_name);
        r["lot"] = text(d.lot);
    }
    if (!d.bench.exit.empty()) r["exit"] = text(core::sequence_text(d.bench.exit));
    if (!d.unplaced.empty()) {
        QJsonArray ranges;
        for (const auto& line : d.unplaced) ranges.append(text(line));
        r["unplaced"] = ranges;
    }
    if (o.attempts_allowed > 0) {
        QJsonArray attempts;
        for (std::size_t i = 0; i < o.attempts.size(); ++i) {
            const auto& a = o.attempts[i];
            QJsonObject one{{"attempt", static_cast<int>(i + 1)},
                            {"bsl_now", location(a.bsl_now)},
                            {"blocks_sent", a.blocks_sent},
                            {"seconds", std::round(a.seconds * 1000) / 1000},
                            {"result", result_word(a.result)},
                            {"bsl_now_after", location(a.run.code.known ? a.run.code.now() : a.bsl_now)}};
            add_failure(one, a.result, a.run);
            attempts.append(one);
        }
        r["attempts"] = attempts;
        r["attempts_allowed"] = o.attempts_allowed;
    }
    add_failure(r, o.result, o.run);
    if (o.serial) r["serial"] = text(o.serial->text);
    return r;
}

std::optional<std::string> check_report(const std::string& path)
{
    std::string why;
    const int fd = open_report(path, why);
    if (fd < 0) return why;
    ::close(fd);
    return std::nullopt;
}

std::optional<std::string> append_report(const std::string& path, const std::vector<QJsonObject>& records)
{
    std::string reason;
    const int fd = open_report(path, reason);
    if (fd < 0) return reason;
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
    const bool attempts =
        std::any_of(boards.begin(), boards.end(), [](const auto& o) { return o.attempts_allowed > 0; });
    std::vector<std::vector<std::string>> rows{{"device", "result", "sectors", "blocks", "time (s)"}};
    if (attempts) rows[0].push_back("attempts");
    const bool serials = std::any_of(boards.begin(), boards.end(), [](const auto& o) { return o.serial.has_value(); });
    if (serials) rows[0].push_back("serial");
    rows[0].insert(rows[0].end(), {"step", "sector", "block", "status"});
    for (const auto& o : boards) rows.push_back(table_row(o, attempts, serials));
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

std::string summary_text(const board_outcome& o, int baud)
{
    const double wire_bits = 10.0 * static_cast<double>(o.bytes_sent + o.bytes_received);
    const double share = o.seconds > 0 ? wire_bits / o.seconds / baud : 0;
    std::ostringstream text;
    text << "Blocks sent: " << o.blocks_sent << ", bytes sent: " << o.bytes_sent
         << ", bytes received: " << o.bytes_received << "\n"
         << std::fixed << std::setprecision(2) << "Time: " << o.seconds << " s, ";
    // A board that takes the bytes faster than the line can carry them does
    // not pace the line: a share of its rate would mean nothing.
    if (share > 1)
        text << "faster than " << baud << " baud allows (the line is not paced)\n";
    else
        text << "line rate reached: " << std::setprecision(1) << 100 * share << " % of " << baud << " baud\n";
    if (o.attempts_allowed > 0) text << "Attempts: " << o.attempts.size() << " of " << o.attempts_allowed << "\n";
    if (o.serial) text << "Serial number: " << o.serial->text << "\n";
    return text.str();
}

void print_reasons(std::ostream& out, const std::vector<board_outcome>& boards)
{
    for (const auto& o : boards) {
        if (o.result == result::succeeded || o.result == result::stopped) continue;
        out << '\n' << printable(o.device) << ":\n";
        for (const auto& line : o.reason)
            if (!line.empty()) out << printable(line) << '\n';
        if (o.exit_status == 2) continue;
        std::istringstream lines(failure_line(o));
        for (std::string line; std::getline(lines, line);) out << "     " << line << '\n';
    }
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

std::string failure_line(const board_outcome& o)
{
    if (o.result == result::succeeded) return {};
    const auto& run = o.run;
    std::string line = o.result == result::stopped ? "Stopped before: " : "Failed at: ";
    line += run.step.empty() ? "an unrecorded step" : run.step;
    // "save code block 2 of 11": the step's name alone does not say what is counted.
    if (sends_block(run.step))
        line += (run.step == "save code" ? " block " : " ") + std::to_string(run.block) + " of " +
                std::to_string(o.blocks_total);
    if (run.sector >= 0) line += ", sector " + std::to_string(run.sector);
    if (o.result != result::stopped) {
        if (!run.received.empty()) line += ", received " + core::hex_bytes(run.received);
        if (run.gone)
            line += ", the board is gone";
        else if (run.received.empty() && run.step != "bring-up" && run.step != "serial number")
            line += ", nothing received";
    }
    return line + "\n" + code_line(run.code);
}

QJsonObject row_json(const ledger_row& r)
{
    const auto optional = [](const std::optional<int>& v) { return v ? QJsonValue(*v) : QJsonValue(); };
    return {{"time", name_text(r.time)},
            {"host", name_text(r.host)},
            {"fixture", name_text(r.fixture)},
            {"port", name_text(r.port)},
            {"adapter_serial", name_text(r.adapter_serial)},
            {"hex_file", name_text(r.hex_file)},
            {"hex_sha256", name_text(r.hex_sha256)},
            {"series", name_text(r.series)},
            {"serial", r.serial ? QJsonValue(name_text(*r.serial)) : QJsonValue()},
            {"result", name_text(r.result)},
            {"step", name_text(r.step)},
            {"sector", optional(r.sector)},
            {"block", optional(r.block)},
            {"received", name_text(r.received)},
            {"attempts", r.attempts},
            {"seconds", r.seconds},
            {"version", name_text(r.version)},
            {"product", name_text(r.product)},
            {"job_sha256", name_text(r.job_sha256)},
            {"operator", name_text(r.operator_name)},
            {"lot", name_text(r.lot)},
            {"station", name_text(r.station)}};
}

// A board as the ledger keeps it.
ledger_row ledger_row_of(const std::string& port, const board_outcome& o, const run_description& d)
{
    ledger_row row;
    row.fixture = port;
    std::error_code e;
    row.port = std::filesystem::canonical(port, e).string();
    if (e) row.port = port;
    row.adapter_serial = adapter_serial(port);
    row.hex_file = d.hex_file;
    row.hex_sha256 = d.hex_sha256;
    row.product = d.product;
    row.job_sha256 = d.job_sha256;
    row.operator_name = d.operator_name;
    row.lot = d.lot;
    row.result = o.result == result::succeeded ? "passed" : o.result == result::stopped ? "stopped" : "failed";
    if (o.result != result::succeeded) {
        row.step = o.run.step;
        if (o.run.sector >= 0) row.sector = o.run.sector;
        if (o.run.step == "program block" || o.run.step == "save code") row.block = o.run.block;
        row.received = core::hex_bytes(o.run.received);
    }
    row.attempts = o.attempts.empty() ? 1 : static_cast<int>(o.attempts.size());
    row.seconds = o.seconds;
    if (o.serial) row.serial = o.serial->text;
    return row;
}

std::string keep_board(ledger* in, serial_book* book, const std::optional<serial_value>& number, const ledger_row& row)
{
    std::string why;
    // The ledger settles the number with the board's row, in one transaction.
    if (in) {
        if (!in->record(row, number ? &*number : nullptr, why)) return "the ledger was not written: " + why;
    } else if (number && !book->settle(*number, row.result == "passed", why)) {
        return "the serial number " + number->text + " was not written down: " + why;
    }
    return {};
}

}  // namespace fernwick::station
