#pragma once
// Whole-file reading and writing for the hex file and the block file. Errors
// keep the system's reason, so that the operator learns what is in the way.

#include <optional>
#include <string>

namespace fernwick::programming {

struct file_text {
    std::optional<std::string> text;  // the file's bytes
    std::string reason;               // why there are none, e.g. "No such file or directory"
};

// A descriptor open for reading on `path`, only when it is a regular file;
// -1 with `reason` otherwise ("not a regular file", "Is a directory", or the
// system's). Never blocks: a FIFO would hold the opening until a writer came
// and a device may never end, so a name that is not a regular file is not
// opened at all, and one replaced by a FIFO meanwhile is opened without
// waiting and refused. Every reading of an operator's input file goes
// through it.
int open_regular_file(const std::string& path, std::string& reason);

// The file's bytes; none when it is missing, unreadable or not a regular
// file (a folder, a pipe, a device).
file_text read_text_file(const std::string& path);

// Writes `text` to a new file beside `path` and renames it over `path`, so
// that `path` holds either its old contents or all of `text`, never a part.
// The new file is created exclusively under a name of its own, so no file or
// link that lies in the folder is ever written through or removed. nullopt
// when written; otherwise the reason.
std::optional<std::string> replace_file(const std::string& path, const std::string& text);

}  // namespace fernwick::programming
