// A small read_job and write_job for the operator's window until the job
// file's own code is in the tree: the fields the window's runs need, in JSON.
// Linked only while src/station/job.cpp is missing.

#include <QCryptographicHash>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <filesystem>

#include "station/job.h"

namespace fernwick::station {

namespace {

std::string sha256_of(const std::string& path)
{
    QFile f(QString::fromStdString(path));
    if (!f.open(QIODevice::ReadOnly)) return {};
    return QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256).toHex().toStdString();
}

}  // namespace

std::optional<job> read_job(const std::string& path, std::string& why)
{
    QFile f(QString::fromStdString(path));
    if (!f.open(QIODevice::ReadOnly)) {
        why = path + ": " + f.errorString().toStdString();
        return std::nullopt;
    }
    const auto bytes = f.readAll();
    const auto o = QJsonDocument::fromJson(bytes).object();
    if (o.value("format").toInt() != k_job_format) {
        why = path + ": not a job file of format " + std::to_string(k_job_format);
        return std::nullopt;
    }
    job j;
    j.path = path;
    j.product = o.value("product").toString().toStdString();
    j.hex_file = o.value("hex_file").toString().toStdString();
    auto& s = j.setup;
    const auto folder = std::filesystem::path(path).parent_path();
    s.choices.hex_file = std::filesystem::path(j.hex_file).is_absolute() ? j.hex_file : (folder / j.hex_file).string();
    s.hex_sha256 = o.value("hex_sha256").toString().toStdString();
    if (s.hex_sha256 != sha256_of(s.choices.hex_file)) {
        why = s.choices.hex_file + " is not the job's file (its SHA-256 differs)";
        return std::nullopt;
    }
    for (const auto p : o.value("ports").toArray()) s.ports.push_back(p.toString().toStdString());
    s.baud = o.value("baud").toInt(9600);
    s.count = o.value("count").toInt();
    s.retries = o.value("retries").toInt();
    s.report = o.value("report").toString().toStdString();
    s.ledger_file = o.value("ledger").toString().toStdString();
    if (o.contains("serial_address")) {
        s.serial.on = true;
        s.serial.address = o.value("serial_address").toInteger();
        s.serial.bytes = o.value("serial_bytes").toInt();
        s.serial.start = static_cast<std::uint64_t>(o.value("serial_start").toInteger(1));
    }
    s.product = j.product;
    s.job_sha256 = QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex().toStdString();
    return j;
}

std::optional<std::string> write_job(const std::string& path, const job& j)
{
    QJsonObject o{{"format", k_job_format},
                  {"product", QString::fromStdString(j.product)},
                  {"hex_file", QString::fromStdString(j.hex_file)},
                  {"hex_sha256", QString::fromStdString(j.setup.hex_sha256)},
                  {"baud", j.setup.baud},
                  {"count", j.setup.count}};
    QFile f(QString::fromStdString(path));
    if (!f.open(QIODevice::WriteOnly) || f.write(QJsonDocument(o).toJson()) < 0) return f.errorString().toStdString();
    return std::nullopt;
}

std::string job_words(const job& j) { return "product " + j.product + "\nhex file " + j.hex_file + "\n"; }

}  // namespace fernwick::station
