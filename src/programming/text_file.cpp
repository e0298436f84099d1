#include "programming/text_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <system_error>

namespace fernwick::programming {

namespace {

namespace fs = std::filesystem;

std::string system_reason(int error) { return std::generic_category().message(error); }

// A file that did not exist before, created by us alone: "x" never opens an
// existing name and never follows a link lying in wait at it.
struct own_file {
    std::string path;
    std::FILE* file = nullptr;
    std::string reason;
};

own_file create_beside(const std::string& path)
{
    static thread_local std::mt19937 random{std::random_device{}()};
    constexpr char digits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
    own_file own;
    for (int attempt = 0; attempt < 100; ++attempt) {
        own.path = path + ".tmp-";
        for (int i = 0; i < 8; ++i) own.path += digits[random() % (sizeof digits - 1)];
        errno = 0;
        own.file = std::fopen(own.path.c_str(), "wbx");
        if (own.file) return own;
        if (errno != EEXIST) break;
    }
    own.reason = system_reason(errno ? errno : EEXIST);
    return own;
}

// Writes and closes; nullopt when every byte reached the file.
std::optional<std::string> write_all(std::FILE* file, const std::string& text)
{
    errno = 0;
    const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    int error = errno;
    const bool flushed = std::fflush(file) == 0;
    if (!flushed && error == 0) error = errno;
    const bool closed = std::fclose(file) == 0;
    if (!closed && error == 0) error = errno;
    if (written && flushed && closed) return std::nullopt;
    return system_reason(error ? error : EIO);
}

}  // namespace

int open_regular_file(const std::string& path, std::string& reason)
{
    // A look first, so that a device (a serial port, whose opening may reset
    // a board) is never opened as a file.
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) {
        reason = S_ISDIR(info.st_mode) ? system_reason(EISDIR) : "not a regular file";
        return -1;
    }
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        reason = system_reason(errno);
        return -1;
    }
    // What was opened, which may no longer be what was looked at.
    const int flags = ::fcntl(fd, F_GETFL);
    const bool looked = ::fstat(fd, &info) == 0 && flags >= 0;
    if (looked && !S_ISREG(info.st_mode)) {
        reason = S_ISDIR(info.st_mode) ? system_reason(EISDIR) : "not a regular file";
    } else if (looked && ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0) {
        return fd;
    } else {
        reason = system_reason(errno);
    }
    ::close(fd);
    return -1;
}

file_text read_text_file(const std::string& path)
{
    std::string reason;
    const int fd = open_regular_file(path, reason);
    if (fd < 0) return {std::nullopt, reason};
    std::string text;
    struct stat info {};
    // One allocation for the usual case; a file that grows meanwhile still reads whole.
    if (::fstat(fd, &info) == 0) text.reserve(static_cast<std::size_t>(info.st_size) + 1);
    char chunk[65536];
    ssize_t n = 0;
    while ((n = ::read(fd, chunk, sizeof chunk)) > 0 || (n < 0 && errno == EINTR))
        if (n > 0) text.append(chunk, static_cast<std::size_t>(n));
    const int error = errno;
    ::close(fd);
    if (n < 0) return {std::nullopt, system_reason(error)};
    return {std::move(text), {}};
}

std::optional<std::string> replace_file(const std::string& path, const std::string& text)
{
    const own_file own = create_beside(path);
    if (!own.file) return own.reason;
    std::error_code ec;
    if (auto failed = write_all(own.file, text)) {
        fs::remove(own.path, ec);
        return failed;
    }
    fs::rename(own.path, path, ec);
    if (ec) {
        const std::string reason = ec.message();
        fs::remove(own.path, ec);
        return reason;
    }
    return std::nullopt;
}

}  // namespace fernwick::programming
