#include "station/ledger_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

namespace fernwick::station {

namespace {

namespace fs = std::filesystem;

struct folder_state {
    std::string name;  // absolute, for the words
    bool read_only_medium = false;
    bool writable = false;  // new files can be made in it
};

std::optional<std::string> folder_fault(const std::string& path, folder_state& folder)
{
    std::error_code no_folder;
    const auto absolute = fs::absolute(path, no_folder).lexically_normal();
    folder.name = absolute.parent_path().string();
    struct stat info {};
    if (::stat(folder.name.c_str(), &info) != 0) {
        if (errno == ENOENT) return "its folder " + folder.name + " does not exist";
        if (errno == ENOTDIR) return "its folder " + folder.name + " is no folder (a part of that path is a file)";
        return "its folder " + folder.name + ": " + std::strerror(errno);
    }
    if (!S_ISDIR(info.st_mode)) return "its folder " + folder.name + " is no folder but a file";
    struct statvfs medium {};
    folder.read_only_medium = ::statvfs(folder.name.c_str(), &medium) == 0 && (medium.f_flag & ST_RDONLY) != 0;
    folder.writable = !folder.read_only_medium && ::access(folder.name.c_str(), W_OK | X_OK) == 0;
    return std::nullopt;
}

// The ledger's own file: a regular file holding an SQLite database, or
// nothing yet (`exists` false).
std::optional<std::string> file_fault(const std::string& path, bool& exists)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    exists = fd >= 0;
    if (fd < 0 && errno == ENOENT) return std::nullopt;
    if (fd < 0)
        return errno == ELOOP ? "a link; a ledger is not written through one" : std::string(std::strerror(errno));
    struct stat info {};
    char header[16] = {};
    std::optional<std::string> why;
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode))
        why = "not a regular file";
    else if (info.st_size > 0 && (::read(fd, header, sizeof header) != sizeof header ||
                                  std::memcmp(header, "SQLite format 3", sizeof header) != 0))
        why = "not a ledger (no SQLite database); it is left as it is";
    ::close(fd);
    return why;
}

// The -wal or -shm file SQLite keeps beside the ledger: none yet, or a
// regular file of its own (`exists`).
std::optional<std::string> companion_fault(const std::string& path, const char* suffix, bool write, bool& exists)
{
    const auto name = path + suffix;
    struct stat info {};
    exists = ::lstat(name.c_str(), &info) == 0;
    if (!exists) return std::nullopt;
    const auto own = std::string("the ledger's own ") + suffix + " file must be";
    if (S_ISLNK(info.st_mode))
        return name + " is a link, where " + own + "; a ledger's files are not opened through a link";
    if (!S_ISREG(info.st_mode)) return name + " is not a regular file, where " + own;
    if (write && ::access(name.c_str(), W_OK) != 0) return name + " is a read-only file";
    return std::nullopt;
}

}  // namespace

ledger_files_check check_ledger_files(const std::string& path, bool write)
{
    ledger_files_check c;
    folder_state folder;
    bool exists = false, wal = false, shm = false;
    if ((c.fault = folder_fault(path, folder)) || (c.fault = file_fault(path, exists))) return c;
    if (!exists) {
        if (!write)
            c.fault = std::strerror(ENOENT);
        else if (folder.read_only_medium)
            c.fault = "it cannot be made: its folder " + folder.name + " is on a read-only medium";
        else if (!folder.writable)
            c.fault = "it cannot be made: its folder " + folder.name + " is read-only";
        return c;
    }
    // The ledger itself first: SQLite makes its -wal and -shm read-only beside a read-only ledger.
    if (write && folder.read_only_medium)
        c.fault = "on a read-only medium (" + folder.name + "); a ledger is written where it lies";
    else if (write && ::access(path.c_str(), W_OK) != 0)
        c.fault = "a read-only file; a ledger is written where it lies";
    if (c.fault || (c.fault = companion_fault(path, "-wal", write, wal)) ||
        (c.fault = companion_fault(path, "-shm", write, shm)))
        return c;
    if (write) {
        if (!folder.writable)
            c.fault = "its folder " + folder.name + " is read-only; a ledger makes its -wal and -shm files beside it";
        return c;
    }
    // SQLite reads a ledger with its -shm file, made when missing.
    if (folder.writable || (wal && shm)) return c;
    if (!wal && folder.read_only_medium)
        c.read_as_it_stands = true;
    else
        c.fault = std::string(wal ? "its -wal file holds rows that are read with a -shm file"
                                  : "it is read with a "
                                    "-shm file") +
                  ", which cannot be made in its folder " + folder.name + " (" +
                  (folder.read_only_medium ? "a read-only medium" : "read-only") + "); copy the ledger" +
                  (wal ? " with its -wal file" : "") + " to a folder that can be written";
    return c;
}

std::optional<file_identity> identity_of(const std::string& path)
{
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) return std::nullopt;
    return file_identity{info.st_dev, info.st_ino};
}

}  // namespace fernwick::station
