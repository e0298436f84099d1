// A job in words, for the engineer who checks it and the operator who runs it.

#include <QString>
#include <sstream>

#include "station/job.h"

namespace fernwick::station {

namespace {

std::string place_of_code(int where)
{
    return where == core::k_nowhere ? "nowhere (-99)" : "sector " + std::to_string(where);
}

std::string or_none(const std::string& s, const char* none) { return s.empty() ? none : s; }

std::string serial_words(const serial_choice& c)
{
    if (!c.on) return "none";
    std::string words =
        serial_place_text(c) + " (" + std::to_string(c.bytes) + " bytes, " + serial_format_name(c.format) + "), ";
    words += c.list_file.empty() ? "from " + std::to_string(c.start) + " step " + std::to_string(c.step)
                                 : "from the list " + c.list_file;
    if (c.over) words += std::string(", over the file's ") + (*c.over == 0 ? "00" : "ff") + " bytes";
    return words;
}

std::string joined(const std::vector<std::string>& words)
{
    std::string all;
    for (const auto& w : words) all += (all.empty() ? "" : " ") + w;
    return all;
}

}  // namespace

std::string record_name_fault(const std::string& name)
{
    constexpr std::size_t k_longest = 200;
    const auto text = QString::fromStdString(name);
    if (text.toStdString() != name) return "is not UTF-8 text";
    if (text.trimmed().isEmpty()) return "is empty";
    if (text.trimmed() != text) return "begins or ends with a space";
    for (const auto c : text)
        if (c.category() == QChar::Other_Control || c.category() == QChar::Other_Format ||
            c.category() == QChar::Separator_Line || c.category() == QChar::Separator_Paragraph)
            return "has a line end, a tab or another control character";
    if (name.size() > k_longest) return "is longer than " + std::to_string(k_longest) + " bytes";
    return {};
}

std::string ports_beside_job_fault(const job& j, const std::vector<std::string>& ports)
{
    if (!j.setup.ports.empty() && !ports.empty())
        return j.path + " names its fixtures' ports (" + joined(j.setup.ports) +
               "): --port is given only with a job that names none";
    if (j.setup.ports.empty() && ports.empty()) return j.path + " names no fixtures' ports: give them with --port";
    return {};
}

std::string job_words(const job& j)
{
    const auto& r = j.setup;
    std::ostringstream out;
    out << "Product: " << j.product << "\n";
    out << "Hex file: " << j.hex_file;
    if (j.hex_file != r.choices.hex_file) out << " (" << r.choices.hex_file << ")";
    out << "\nIts SHA-256: " << r.hex_sha256 << "\n";
    std::string sectors;
    for (const int n : r.choices.sectors.value_or(std::vector<int>{}))
        sectors += (sectors.empty() ? "" : ",") + std::to_string(n);
    out << "Sectors: " << (r.choices.sectors ? sectors : "those the file has data for, and those the rules lock on")
        << "\n";
    out << "Bootstrap code: now in " << place_of_code(r.choices.bsl_now) << ", to lie in "
        << place_of_code(r.choices.bsl_target) << "\n";
    out << "Sector 0 segment: " << r.choices.sector0_segment << "\n";
    out << "Bytes that reach no flash: " << (r.choices.allow_unplaced ? "left out" : "refuse the file") << "\n";
    out << "Entry sequence: " << (r.bench.entry.empty() ? "none" : core::sequence_text(r.bench.entry)) << "\n";
    out << "Exit sequence: " << (r.bench.exit.empty() ? "none" : core::sequence_text(r.bench.exit)) << "\n";
    out << "Baud rate: " << r.baud << "\n";
    out << "Retries: " << r.retries << "\n";
    out << "Serial numbers: " << serial_words(r.serial) << "\n";
    out << "Ledger: " << or_none(r.ledger_file, "none") << "\n";
    out << "Report: " << or_none(r.report, "none") << "\n";
    out << "Log folder: " << or_none(r.log_dir, "none") << "\n";
    out << "Batch: " << (r.count > 0 ? std::to_string(r.count) + " boards passed" : "until stopped") << "\n";
    std::string ports;
    for (const auto& p : r.ports) ports += (ports.empty() ? "" : " ") + p;
    out << "Fixtures' ports: " << or_none(ports, "given beside --job (--port)") << "\n";
    if (!r.job_sha256.empty()) out << "Job file SHA-256: " << r.job_sha256 << "\n";
    return out.str();
}

}  // namespace fernwick::station
