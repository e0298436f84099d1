#include "programming/text_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
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

file_text read_text_file(const std::string& path)
{
    std::error_code ec;
    const auto status = fs::status(path, ec);
    if (ec) return {std::nullopt, ec.message()};
    // Only a regular file: a folder opens as an empty stream on some
    // platforms, a pipe blocks the opening and a device may never end.
    if (fs::is_directory(status)) return {std::nullopt, system_reason(EISDIR)};
    if (!fs::is_regular_file(status)) return {std::nullopt, "not a regular file"};
    errno = 0;
    std::ifstream in(path, std::ios::binary);
    if (!in) return {std::nullopt, system_reason(errno ? errno : EACCES)};
    std::string text;
    // One allocation for the usual case; a file that grows meanwhile still reads whole.
    text.reserve(static_cast<std::size_t>(fs::file_size(path, ec)) + 1);
    char chunk[65536];
    while (in.read(chunk, sizeof chunk) || in.gcount() > 0) {
        text.append(chunk, static_cast<std::size_t>(in.gcount()));
    }
    if (in.bad()) return {std::nullopt, system_reason(errno ? errno : EIO)};
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
