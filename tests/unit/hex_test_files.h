#pragma once
// Hex files, folders and expected block records for the tests of the hex
// reading, the scan and the conversion.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

namespace hex_test {

namespace fs = std::filesystem;

inline std::string hex2(long value)
{
    char text[3];
    std::snprintf(text, sizeof text, "%02lX", value & 0xFF);
    return text;
}

// A record with a correct checksum; `data` is hex text.
inline std::string record(int type, int offset, const std::string& data)
{
    const auto length = static_cast<long>(data.size() / 2);
    const std::string body = hex2(length) + hex2(offset >> 8) + hex2(offset) + hex2(type) + data;
    long sum = 0;
    for (std::size_t i = 0; i < body.size(); i += 2) sum += std::stol(body.substr(i, 2), nullptr, 16);
    return ":" + body + hex2(0x100 - (sum & 0xFF));
}

inline std::string data(int offset, const std::string& bytes) { return record(0x00, offset, bytes); }
inline std::string linear(int segment) { return record(0x04, 0, "00" + hex2(segment)); }
inline std::string segment_base(int segment) { return record(0x02, 0, hex2(segment << 4) + "00"); }
inline const std::string end_record = ":00000001FF";

// `count` bytes of value `byte`, or counting up from it, as hex text.
inline std::string fill(int count, int byte, int step = 0)
{
    std::string text;
    for (int i = 0; i < count; ++i) text += hex2(byte + i * step);
    return text;
}

// The lines as a sound file has them: closed by the end record unless one
// stands among them already.
inline std::string joined(std::vector<std::string> lines, const std::string& line_end = "\r\n")
{
    if (std::find(lines.begin(), lines.end(), end_record) == lines.end()) lines.push_back(end_record);
    std::string text;
    for (const auto& line : lines) text += line + line_end;
    return text;
}

inline std::string read_file(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// The lines of a block file, each of which must end with CR LF.
inline std::vector<std::string> crlf_lines(std::string text)
{
    EXPECT_TRUE(text.empty() || text.ends_with("\r\n")) << "a line without CR LF ends the file";
    std::vector<std::string> lines;
    for (std::size_t end; (end = text.find("\r\n")) != std::string::npos; text.erase(0, end + 2))
        lines.push_back(text.substr(0, end));
    return lines;
}

// A fresh folder for one test, removed with everything in it afterwards.
struct temp_folder {
    fs::path root = fs::path(::testing::TempDir()) / ("fernwick_hex_" + std::to_string(std::random_device{}()));
    temp_folder() { fs::create_directories(root); }
    ~temp_folder()
    {
        std::error_code ec;
        fs::remove_all(root, ec);
    }
    temp_folder(const temp_folder&) = delete;
    std::string path(const std::string& name) const { return (root / name).string(); }
    std::string file(const std::string& name, const std::string& text) const
    {
        std::ofstream(root / name, std::ios::binary) << text;
        return path(name);
    }
};

}  // namespace hex_test
