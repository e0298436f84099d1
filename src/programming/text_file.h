#pragma once
// Whole-file reading and writing for the hex file and the block file.

#include <optional>
#include <string>

namespace fernwick::programming {

// The file's bytes; nullopt when it is missing, unreadable or not a regular
// file (a folder, a pipe, a device).
std::optional<std::string> read_text_file(const std::string& path);

// Writes `text` to a temporary file beside `path` and renames it over
// `path`, so that `path` holds either its old contents or all of `text`,
// never a part. False when that fails; the temporary file is removed.
bool replace_file(const std::string& path, const std::string& text);

}  // namespace fernwick::programming
