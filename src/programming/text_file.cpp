#include "programming/text_file.h"

#include <filesystem>
#include <fstream>
#include <system_error>

namespace fernwick::programming {

namespace fs = std::filesystem;

std::optional<std::string> read_text_file(const std::string& path)
{
    std::error_code ec;
    // Only a regular file: a folder opens as an empty stream on some
    // platforms, a pipe blocks the opening and a device may never end.
    if (!fs::is_regular_file(path, ec)) return std::nullopt;
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::string text;
    char chunk[65536];
    while (in.read(chunk, sizeof chunk) || in.gcount() > 0) {
        text.append(chunk, static_cast<std::size_t>(in.gcount()));
    }
    if (in.bad()) return std::nullopt;
    return text;
}

bool replace_file(const std::string& path, const std::string& text)
{
    const std::string temporary = path + ".tmp";
    std::error_code ec;
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        if (out) {
            out.write(text.data(), static_cast<std::streamsize>(text.size()));
            out.close();
        }
        if (!out) {
            fs::remove(temporary, ec);
            return false;
        }
    }
    fs::rename(temporary, path, ec);
    if (ec) {
        fs::remove(temporary, ec);
        return false;
    }
    return true;
}

}  // namespace fernwick::programming
