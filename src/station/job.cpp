#include "station/job.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <filesystem>
#include <set>

#include "programming/text_file.h"
#include "station/written_files.h"

namespace fernwick::station {

namespace {

namespace fs = std::filesystem;

// Every field a job of this format has: one more or one fewer is a job
// this program does not know how to run.
const std::set<QString> k_fields = {"format",  "product",    "hex_file",        "hex_sha256",     "sectors",
                                    "bsl_now", "bsl_target", "sector0_segment", "allow_unplaced", "entry",
                                    "exit",    "baud",       "retries",         "count",          "ledger",
                                    "report",  "log_dir",    "serial",          "ports"};
const std::set<QString> k_serial_fields = {"place", "start", "step", "list", "over"};

QString q(const std::string& s) { return QString::fromStdString(s); }
std::string s(const QJsonValue& v) { return v.toString().toStdString(); }

// A path as the job keeps it: absolute, so that the job runs the same from
// any folder.
std::string absolute(const std::string& path)
{
    return path.empty() ? path : fs::absolute(path).lexically_normal().string();
}

// A wiring by its name, steps as the option writes them: read again by the
// option's own parser.
std::string sequence_words(const core::modem_sequence& m)
{
    if (m.empty()) return {};
    return m.wiring.empty() ? core::sequence_text(m) : m.wiring;
}

QJsonValue serial_json(const serial_choice& c)
{
    if (!c.on) return QJsonValue();
    char address[16];
    std::snprintf(address, sizeof address, "0x%lX", c.address);
    return QJsonObject{
        {"place", q(std::string(address) + ":" + std::to_string(c.bytes) + ":" + serial_format_name(c.format))},
        {"start", q(std::to_string(c.start))},
        {"step", q(std::to_string(c.step))},
        {"list", q(absolute(c.list_file))},
        {"over", c.over ? QJsonValue(*c.over == 0 ? "00" : "ff") : QJsonValue()},
    };
}

QJsonObject job_json(const job& j, const std::string& job_path)
{
    const auto& r = j.setup;
    const auto hex = fs::absolute(r.choices.hex_file).lexically_normal();
    const bool beside = hex.parent_path() == fs::absolute(job_path).lexically_normal().parent_path();
    QJsonArray ports;
    for (const auto& p : r.ports) ports.append(q(p));
    QJsonValue sectors;
    if (r.choices.sectors) {
        QJsonArray list;
        for (const int n : *r.choices.sectors) list.append(n);
        sectors = list;
    }
    return QJsonObject{
        {"format", k_job_format},
        {"product", q(j.product)},
        {"hex_file", q(beside ? hex.filename().string() : hex.string())},
        {"hex_sha256", q(r.hex_sha256)},
        {"sectors", sectors},
        {"bsl_now", r.choices.bsl_now},
        {"bsl_target", r.choices.bsl_target},
        {"sector0_segment", r.choices.sector0_segment},
        {"allow_unplaced", r.choices.allow_unplaced},
        {"entry", q(sequence_words(r.bench.entry))},
        {"exit", q(sequence_words(r.bench.exit))},
        {"baud", r.baud},
        {"retries", r.retries},
        {"count", r.count},
        {"ledger", q(is_server_ledger(r.ledger_file) ? r.ledger_file : absolute(r.ledger_file))},
        {"report", q(absolute(r.report))},
        {"log_dir", q(absolute(r.log_dir))},
        {"serial", serial_json(r.serial)},
        {"ports", ports},
    };
}

// A whole number of the field within its bounds, as the option takes it.
std::optional<int> whole_field(const QJsonObject& o, const char* name, int lowest, int highest, std::string& why)
{
    const auto v = o[name];
    const double d = v.toDouble(-1e18);
    if (v.isDouble() && d == static_cast<double>(static_cast<long long>(d)) && d >= lowest && d <= highest)
        return static_cast<int>(d);
    why = std::string("the field '") + name + "' takes a whole number from " + std::to_string(lowest) + " to " +
          std::to_string(highest);
    return std::nullopt;
}

bool text_field(const QJsonObject& o, const char* name, std::string& into, std::string& why)
{
    if (!o[name].isString()) {
        why = std::string("the field '") + name + "' takes a text";
        return false;
    }
    into = s(o[name]);
    return true;
}

std::string unknown_or_missing(const QJsonObject& o, const std::set<QString>& fields, const std::string& in)
{
    for (const auto& key : o.keys())
        if (!fields.contains(key)) return "unknown field '" + key.toStdString() + "'" + in;
    for (const auto& key : fields)
        if (!o.contains(key)) return "missing field '" + key.toStdString() + "'" + in;
    return {};
}

std::optional<std::uint64_t> digits(const QJsonValue& v)
{
    const auto t = s(v);
    std::uint64_t n = 0;
    const auto [end, error] = std::from_chars(t.data(), t.data() + t.size(), n);
    if (!v.isString() || t.empty() || error != std::errc{} || end != t.data() + t.size()) return std::nullopt;
    return n;
}

bool read_serial(const QJsonValue& v, serial_choice& c, std::string& why)
{
    if (v.isNull()) return true;
    const auto o = v.toObject();
    if (!v.isObject() || !(why = unknown_or_missing(o, k_serial_fields, " in 'serial'")).empty()) {
        if (why.empty()) why = "the field 'serial' takes null or an object";
        return false;
    }
    if (!o["place"].isString() || !(why = read_serial_place(s(o["place"]), c)).empty()) {
        why = "the field 'serial' has a place that --serial refuses: " + (why.empty() ? "not a text" : why);
        return false;
    }
    const auto start = digits(o["start"]), step = digits(o["step"]);
    if (!start || !step || *step == 0) {
        why = "the field 'serial' takes 'start' and 'step' as whole numbers in a text (step from 1)";
        return false;
    }
    c.start = *start;
    c.step = *step;
    if (!text_field(o, "list", c.list_file, why)) return false;
    const auto over = o["over"];
    if (!over.isNull() && over != QJsonValue("ff") && over != QJsonValue("00")) {
        why = "the field 'serial' takes 'over' as null, \"ff\" or \"00\"";
        return false;
    }
    if (!over.isNull()) c.over = over == QJsonValue("00") ? 0x00 : 0xFF;
    return true;
}

bool read_place_fields(const QJsonObject& o, hex_choices& c, std::string& why)
{
    if (!o["sectors"].isNull()) {
        std::string list;
        for (const auto& n : o["sectors"].toArray())
            list += (list.empty() ? "" : ",") + (n.isDouble() ? std::to_string(n.toInt(-1)) : std::string("x"));
        c.sectors = parse_sector_list(list);
        if (!o["sectors"].isArray() || !c.sectors) {
            why = "the field 'sectors' takes null or sector numbers 0 to 3";
            return false;
        }
    }
    const auto now = whole_field(o, "bsl_now", -99, 2, why), target = whole_field(o, "bsl_target", -99, 2, why);
    const auto segment = whole_field(o, "sector0_segment", 0, 1, why);
    for (const auto& [v, name] : {std::pair{now, "bsl_now"}, std::pair{target, "bsl_target"}})
        if (v && *v != 0 && *v != 2 && *v != core::k_nowhere) {
            why = std::string("the field '") + name + "' takes 0, 2 or -99";
            return false;
        }
    if (!now || !target || !segment) return false;
    c.bsl_now = static_cast<std::int16_t>(*now);
    c.bsl_target = static_cast<std::int16_t>(*target);
    c.sector0_segment = static_cast<std::int16_t>(*segment);
    if (!o["allow_unplaced"].isBool()) {
        why = "the field 'allow_unplaced' takes true or false";
        return false;
    }
    c.allow_unplaced = o["allow_unplaced"].toBool();
    return true;
}

bool read_bench(const QJsonObject& o, core::bench_setup& bench, std::string& why)
{
    for (const bool exit : {false, true}) {
        std::string words;
        const char* name = exit ? "exit" : "entry";
        if (!text_field(o, name, words, why)) return false;
        if (words.empty()) continue;
        auto m = core::parse_modem_sequence(words, exit, why);
        if (!m) {
            why.insert(
                0,
                std::string("the field '").append(name).append("' is a sequence --").append(name).append(" refuses: "));
            return false;
        }
        m->given_in = std::string("the job's ") + name;
        (exit ? bench.exit : bench.entry) = *m;
    }
    return true;
}

bool read_fields(const QJsonObject& o, const std::string& folder, job& j, std::string& why)
{
    auto& r = j.setup;
    if (!text_field(o, "product", j.product, why) || !text_field(o, "hex_file", j.hex_file, why) ||
        !text_field(o, "hex_sha256", r.hex_sha256, why) || !read_place_fields(o, r.choices, why) ||
        !read_bench(o, r.bench, why) || !text_field(o, "ledger", r.ledger_file, why) ||
        !text_field(o, "report", r.report, why) || !text_field(o, "log_dir", r.log_dir, why) ||
        !read_serial(o["serial"], r.serial, why))
        return false;
    if (const auto fault = record_name_fault(j.product); !fault.empty())
        return why = "the field 'product' " + fault, false;
    if (j.hex_file.empty()) return why = "the field 'hex_file' is empty", false;
    if (r.hex_sha256.size() != 64 || r.hex_sha256.find_first_not_of("0123456789abcdef") != std::string::npos)
        return why = "the field 'hex_sha256' takes 64 lower-case hex digits", false;
    const auto baud = whole_field(o, "baud", 2400, 19200, why);
    if (baud && *baud != 2400 && *baud != 4800 && *baud != 9600 && *baud != 14400 && *baud != 19200)
        return why = "the field 'baud' takes 2400, 4800, 9600, 14400 or 19200", false;
    const auto retries = whole_field(o, "retries", 0, 100, why), count = whole_field(o, "count", 0, 1000000, why);
    if (!baud || !retries || !count) return false;
    r.baud = *baud;
    r.retries = *retries;
    r.count = *count;
    if (!o["ports"].isArray()) return why = "the field 'ports' takes a list of patterns", false;
    for (const auto& p : o["ports"].toArray()) {
        if (!p.isString() || p.toString().isEmpty()) return why = "the field 'ports' takes a list of patterns", false;
        r.ports.push_back(s(p));
    }
    // Each path from the job's folder, as the hex file's, whichever folder it is run from.
    for (auto* path : {&r.choices.hex_file, &r.ledger_file, &r.report, &r.log_dir, &r.serial.list_file}) {
        if (path == &r.choices.hex_file) *path = j.hex_file;
        if (!path->empty() && !(path == &r.ledger_file && is_server_ledger(*path)))
            *path = (fs::path(folder) / *path).lexically_normal().string();
    }
    return true;
}

}  // namespace

std::optional<job> read_job(const std::string& path, std::string& why)
{
    std::string reason;
    const int fd = programming::open_regular_file(path, reason);
    if (fd < 0) {
        why = path + ": " + reason;
        return std::nullopt;
    }
    QByteArray bytes;
    char buffer[65536];
    ssize_t n = 0;
    while ((n = ::read(fd, buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR))
        if (n > 0) bytes.append(buffer, n);
    const int error = errno;
    ::close(fd);
    if (n < 0) {
        why = path + ": " + std::strerror(error);
        return std::nullopt;
    }
    QJsonParseError parsed{};
    const auto document = QJsonDocument::fromJson(bytes, &parsed);
    const auto o = document.object();
    if (parsed.error != QJsonParseError::NoError)
        reason = "not a job: not valid JSON (" + parsed.errorString().toStdString() + " at byte " +
                 std::to_string(parsed.offset) + ")";
    else if (!document.isObject())
        reason = "not a job: no JSON object";
    else if (!o["format"].isDouble())
        reason = "not a job: it has no format version";
    else if (o["format"].toDouble() != k_job_format)
        reason = "a job of format " + QString::number(o["format"].toDouble()).toStdString() +
                 "; this fernwick-cli runs jobs of format " + std::to_string(k_job_format);
    else
        reason = unknown_or_missing(o, k_fields, "");
    job j;
    j.path = path;
    // The folder of the job itself, not of a link to it: the hex file lies beside the job.
    std::error_code no_link;
    auto real = fs::canonical(path, no_link);
    if (no_link) real = fs::absolute(path);
    if (reason.empty()) read_fields(o, real.lexically_normal().parent_path().string(), j, reason);
    if (!reason.empty()) {
        why = path + ": " + reason;
        return std::nullopt;
    }
    // What every record of the job's boards names it by: the very bytes read.
    j.setup.job_sha256 = QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex().toStdString();
    return j;
}

std::optional<std::string> write_job(const std::string& path, const job& j)
{
    const auto& r = j.setup;
    std::vector<written_file> kept{{"the job " + path, path}};
    if (!r.report.empty()) kept.push_back({"the report " + r.report, r.report});
    if (!r.ledger_file.empty()) kept.push_back({"the ledger " + r.ledger_file, r.ledger_file});
    if (const auto clash = one_file(r.choices.hex_file, kept)) return *clash;
    const auto text = QJsonDocument(job_json(j, path)).toJson(QJsonDocument::Indented);
    // Written beside it and renamed over it: a station reading the job sees
    // the old one or the new one, never half of one.
    auto temporary =
        (fs::absolute(path).parent_path() / ("." + fs::path(path).filename().string() + ".XXXXXX")).string();
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0) return path + ": " + std::strerror(errno);
    bool written = ::fchmod(fd, 0644) == 0;
    for (qsizetype done = 0; written && done < text.size();) {
        const auto n = ::write(fd, text.constData() + done, static_cast<std::size_t>(text.size() - done));
        if (n < 0 && errno == EINTR) continue;
        written = n > 0;
        done += n > 0 ? n : 0;
    }
    written = written && ::fsync(fd) == 0;
    const int error = errno;
    ::close(fd);
    if (!written || ::rename(temporary.c_str(), path.c_str()) != 0) {
        const auto why = path + ": " + std::strerror(written ? errno : error);
        ::unlink(temporary.c_str());
        return why;
    }
    return std::nullopt;
}

}  // namespace fernwick::station
