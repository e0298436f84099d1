#include "cli/fixtures.h"

#include <glob.h>
#include <sys/stat.h>
#include <QSerialPort>
#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

namespace fernwick::cli {

namespace {

namespace fs = std::filesystem;

bool has_wildcard(const std::string& text) { return text.find_first_of("*?[") != std::string::npos; }

// The folder to watch for a pattern: its own, or while that is missing the
// nearest one above that exists.
std::string folder_to_watch(const std::string& pattern)
{
    fs::path folder = fs::path(pattern).parent_path();
    std::error_code e;
    while (!folder.empty() && !fs::is_directory(folder, e) && folder != folder.root_path())
        folder = folder.parent_path();
    return folder.string();
}

}  // namespace

std::optional<std::string> pattern_problem(const std::string& pattern)
{
    const fs::path path(pattern);
    if (!path.is_absolute()) return "the port pattern " + pattern + " is not an absolute path";
    if (has_wildcard(path.parent_path().string()))
        return "the port pattern " + pattern + " has wildcards in its folder; only the last part may have them";
    if (path.filename().empty()) return "the port pattern " + pattern + " names a folder, not its ports";
    return std::nullopt;
}

std::vector<std::string> matching_ports(const std::vector<std::string>& patterns)
{
    std::vector<std::string> ports;
    std::vector<std::string> seen;  // the devices behind them
    for (const auto& pattern : patterns) {
        glob_t found{};
        if (::glob(pattern.c_str(), 0, nullptr, &found) == 0) {
            for (std::size_t i = 0; i < found.gl_pathc; ++i) {
                const std::string path = found.gl_pathv[i];
                struct stat st {};
                if (::stat(path.c_str(), &st) != 0 || !S_ISCHR(st.st_mode)) continue;
                std::error_code e;
                auto device = fs::canonical(path, e).string();
                if (e) device = path;
                if (std::find(seen.begin(), seen.end(), device) != seen.end()) continue;
                seen.push_back(device);
                ports.push_back(path);
            }
        }
        ::globfree(&found);
    }
    return ports;
}

port_watcher::port_watcher(std::vector<std::string> patterns,
                           std::function<void(const std::vector<std::string>&)> changed)
    : patterns_(std::move(patterns)), changed_(std::move(changed))
{
    watch_folders();
    QObject::connect(&watcher_, &QFileSystemWatcher::directoryChanged, [this](const QString&) {
        // A folder that came or went changes what is watched.
        watch_folders();
        changed_(ports());
    });
}

void port_watcher::watch_folders()
{
    QStringList folders;
    for (const auto& pattern : patterns_) {
        const auto folder = QString::fromStdString(folder_to_watch(pattern));
        if (!folder.isEmpty() && !folders.contains(folder)) folders << folder;
        // The folder above sees the pattern's own folder go and come back.
        const auto above = QString::fromStdString(fs::path(folder.toStdString()).parent_path().string());
        if (!above.isEmpty() && !folders.contains(above)) folders << above;
    }
    const auto watched = watcher_.directories();
    for (const auto& f : watched)
        if (!folders.contains(f)) watcher_.removePath(f);
    for (const auto& f : folders)
        if (!watched.contains(f)) watcher_.addPath(f);
}

std::optional<bool> chip_answers(const std::string& device, int baud, const core::modem_sequence& entry, int answer_ms)
{
    QSerialPort port(QString::fromStdString(device));
    if (!port.open(QIODevice::ReadWrite)) return std::nullopt;
    port.setBaudRate(baud);
    port.setDataBits(QSerialPort::Data8);
    port.setParity(QSerialPort::NoParity);
    port.setStopBits(QSerialPort::OneStop);
    port.setFlowControl(QSerialPort::NoFlowControl);
    port.clear();
    for (const auto& step : entry.steps) {
        if (step.lines.dtr && !port.setDataTerminalReady(*step.lines.dtr)) return false;
        if (step.lines.rts && !port.setRequestToSend(*step.lines.rts)) return false;
        if (step.wait_ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(step.wait_ms));
    }
    if (port.write(QByteArray(1, '\0')) != 1 || !port.waitForBytesWritten(answer_ms)) return false;
    return port.bytesAvailable() > 0 || port.waitForReadyRead(answer_ms);
}

std::string adapter_serial(const std::string& device)
{
    std::error_code e;
    const auto name = fs::canonical(device, e).filename();
    if (e) return {};
    // A USB adapter's tty sits a few levels below the USB device that has the serial number.
    auto at = fs::canonical(fs::path("/sys/class/tty") / name / "device", e);
    for (int up = 0; !e && up < 4 && !at.empty() && at != at.root_path(); ++up, at = at.parent_path()) {
        std::ifstream file(at / "serial");
        std::string serial;
        if (file && std::getline(file, serial) && !serial.empty()) return serial;
    }
    return {};
}

}  // namespace fernwick::cli
