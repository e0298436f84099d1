#include "station/written_files.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "core/port_names.h"

namespace fernwick::station {

namespace {

// One file whatever its name: the inode of what exists (links followed),
// else the path with its existing part resolved.
std::string identity(const std::string& path)
{
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0)
        return "inode " + std::to_string(info.st_dev) + ":" + std::to_string(info.st_ino);
    std::error_code ignored;
    return "path " + std::filesystem::weakly_canonical(std::filesystem::absolute(path, ignored), ignored).string();
}

}  // namespace

std::string log_file_name(const std::string& device)
{
    std::string name = device;
    while (name.starts_with('/')) name.erase(0, 1);
    std::replace(name.begin(), name.end(), '/', '-');
    return (name.empty() ? "board" : name) + ".log";
}

std::optional<std::string> one_file(const std::string& input, const std::vector<written_file>& files)
{
    const std::string hex = input.empty() ? std::string() : identity(input);
    std::vector<std::string> seen;
    for (const auto& f : files) {
        const auto id = identity(f.path);
        if (id == hex) return f.named + " is the hex file";
        const auto before = std::find(seen.begin(), seen.end(), id);
        if (before != seen.end()) return files[before - seen.begin()].named + " and " + f.named + " are one file";
        seen.push_back(id);
    }
    return std::nullopt;
}

bool same_device(const std::string& a, const std::string& b)
{
    return a == b || identity(core::device_path(a)) == identity(core::device_path(b));
}

std::unique_ptr<log_file> log_file::open(const std::string& path, std::string& why)
{
    // Not O_TRUNC: the lock decides whether the file may be cut. O_NONBLOCK:
    // a FIFO in its place must not hold the run before any board started.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
    if (fd < 0) {
        // ENXIO: a FIFO that no one reads.
        why = path + (errno == ELOOP   ? ": a link; a log is not written through one"
                      : errno == ENXIO ? ": not a regular file"
                                       : ": " + std::string(std::strerror(errno)));
        return nullptr;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode))
        why = path + ": not a regular file";
    else if (::flock(fd, LOCK_EX | LOCK_NB) != 0)
        why = path + ": held by another run";
    if (!why.empty()) {
        ::close(fd);
        return nullptr;
    }
    return std::unique_ptr<log_file>(new log_file(fd, path));
}

log_file::~log_file() { ::close(fd_); }

bool log_file::cut()
{
    if (::ftruncate(fd_, 0) == 0) return true;
    why_ = path_ + ": " + std::strerror(errno);
    return false;
}

bool log_file::write_line(const std::string& line)
{
    if (!why_.empty()) return false;
    const std::string text = line + '\n';
    for (std::size_t done = 0; done < text.size();) {
        const auto n = ::write(fd_, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            why_ = "cannot write the log " + path_ + ": " + std::strerror(n < 0 ? errno : ENOSPC);
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace fernwick::station
