#pragma once
// The files of a ledger as the system sees them: what is wrong with the
// ledger's file, its -wal and -shm beside it, or its folder, said before
// SQLite touches them; and their identity, by which a ledger deleted or
// replaced while in use is seen.

#include <sys/types.h>

#include <optional>
#include <string>

namespace fernwick::station {

struct ledger_files_check {
    std::optional<std::string> fault;  // what is wrong, without the path; nullopt when it may be opened
    // A ledger on a read-only medium with neither -wal nor -shm: read as it
    // stands, since SQLite cannot make the -shm file it reads with and
    // nothing can write the file there.
    bool read_as_it_stands = false;
};

// For writing (a missing file is to be made) or for reading (nothing made):
// a link, no regular file, no SQLite database, a folder that is missing or
// no folder, a read-only medium, file or folder, and a -wal or -shm that is
// a link, no regular file or read-only.
ledger_files_check check_ledger_files(const std::string& path, bool write);

struct file_identity {
    dev_t device = 0;
    ino_t inode = 0;
    bool operator==(const file_identity&) const = default;
};

// The file at `path` itself (a link is not followed); nullopt when there is none.
std::optional<file_identity> identity_of(const std::string& path);

}  // namespace fernwick::station
