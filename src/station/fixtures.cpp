#include "station/fixtures.h"

#include <fcntl.h>
#include <glob.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>
#include <QSerialPort>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <utility>

#include "core/protocol.h"

namespace fernwick::station {

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

std::vector<port_device> matching_devices(const std::vector<std::string>& patterns)
{
    std::vector<port_device> devices;
    for (const auto& pattern : patterns) {
        glob_t found{};
        if (::glob(pattern.c_str(), 0, nullptr, &found) == 0) {
            for (std::size_t i = 0; i < found.gl_pathc; ++i) {
                const std::string path = found.gl_pathv[i];
                struct stat st {};
                if (::stat(path.c_str(), &st) != 0 || !S_ISCHR(st.st_mode)) continue;
                const auto key = std::to_string(major(st.st_rdev)) + ":" + std::to_string(minor(st.st_rdev));
                auto at = std::find_if(devices.begin(), devices.end(), [&](const auto& d) { return d.key == key; });
                if (at == devices.end()) at = devices.insert(devices.end(), {key, {}});
                if (std::find(at->names.begin(), at->names.end(), path) == at->names.end()) at->names.push_back(path);
            }
        }
        ::globfree(&found);
    }
    return devices;
}

port_watcher::port_watcher(std::vector<std::string> patterns,
                           std::function<void(const std::vector<port_device>&)> changed)
    : patterns_(std::move(patterns)), changed_(std::move(changed))
{
    watch_folders();
    QObject::connect(&watcher_, &QFileSystemWatcher::directoryChanged, [this](const QString&) {
        // A folder that came or went changes what is watched.
        watch_folders();
        changed_(devices());
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

device_hold::outcome device_hold::take(const std::string& device, std::optional<device_hold>& hold, std::string& why)
{
    // O_NONBLOCK: a port without carrier would hold the open otherwise.
    const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        why = std::strerror(errno);
        return outcome::unusable;
    }
    struct flock whole {};
    whole.l_type = F_WRLCK;
    whole.l_whence = SEEK_SET;
    if (::fcntl(fd, F_OFD_SETLK, &whole) != 0) {
        const int error = errno;
        ::close(fd);
        if (error == EAGAIN || error == EACCES) return outcome::held_elsewhere;
        why = std::strerror(error);
        return outcome::unusable;
    }
    hold.emplace(device_hold(fd));
    return outcome::held;
}

device_hold::device_hold(device_hold&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

device_hold::~device_hold()
{
    if (fd_ >= 0) ::close(fd_);
}

bool device_hold::gone() const
{
    // A hung-up terminal says so to every descriptor still open on it.
    pollfd p{fd_, 0, 0};
    return ::poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
}

void device_hold::discard_input() const { ::tcflush(fd_, TCIFLUSH); }

struct presence_probe::port {
    QSerialPort serial;
};

presence_probe::presence_probe(const std::string& device, int baud) : port_(std::make_unique<port>())
{
    auto& p = port_->serial;
    p.setPortName(QString::fromStdString(device));
    if (!p.open(QIODevice::ReadWrite)) return;
    p.setBaudRate(baud);
    p.setDataBits(QSerialPort::Data8);
    p.setParity(QSerialPort::NoParity);
    p.setStopBits(QSerialPort::OneStop);
    p.setFlowControl(QSerialPort::NoFlowControl);
}

presence_probe::~presence_probe() = default;

presence presence_probe::ask(int answer_ms)
{
    auto& p = port_->serial;
    if (!p.isOpen()) return presence::unusable;
    // What came since the last reading (a late copy of its answer) is no answer to this one.
    p.clear(QSerialPort::Input);
    p.readAll();
    constexpr char reading[] = {char(protocol::status_command), char(protocol::status_command)};
    if (p.write(reading, sizeof reading) != sizeof reading || !p.waitForBytesWritten(answer_ms))
        return presence::unusable;
    // The two status bytes, the checksum of the command, the status byte.
    constexpr qsizetype k_answer = 4;
    constexpr auto k_checksum = static_cast<char>((256 - 2 * protocol::status_command % 256) % 256);
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(answer_ms);
    QByteArray answer;
    for (auto left = answer_ms; answer.size() < k_answer && left > 0;) {
        if (p.bytesAvailable() > 0 || p.waitForReadyRead(left)) answer += p.readAll();
        if (p.error() == QSerialPort::ResourceError) return presence::unusable;
        left = static_cast<int>(
            std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now()).count());
    }
    if (answer.isEmpty()) return presence::silent;
    return answer.size() >= k_answer && answer[2] == k_checksum ? presence::same_board : presence::other_answer;
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

}  // namespace fernwick::station
