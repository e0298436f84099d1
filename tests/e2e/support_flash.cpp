#include "support_flash.h"

#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QString>

#include <algorithm>
#include <cstdio>
#include <random>

#include "support_board.h"

namespace fernwick::e2e {

namespace {

const char* const k_code =
    "A55AA5A5E60940FAE60B40FAE60A0CFAE60800FA8AE2FEB06FA49AE2FEB06EA4F20748FE26072400E6F148005B11F25A0EFEAFE2AFE3E6D80"
    "180E658D5009AB6FE707EB64FD8E6F040FA9AB7FE70A400B2FE7EB786F05FFA3DF8FA0040FACC00";

}  // namespace

image code_bytes()
{
    image code;
    for (const char* p = k_code; *p; p += 2)
        code.push_back(static_cast<std::uint8_t>(std::stoi(std::string(p, 2), nullptr, 16)));
    return code;
}

reference read_with_srec_cat(const std::string& hex, const std::string& dir)
{
    reference filled;
    for (int i = 0; i < 2; ++i) {
        const auto bin = dir + "/ref.bin";
        EXPECT_EQ(run({"/usr/bin/srec_cat", hex, "-intel", "-crop", "0", "0x30000", "-fill", i ? "0xFF" : "0x00", "0",
                       "0x30000", "-o", bin, "-binary"})
                      .status,
                  0);
        const auto text = read_file(bin);
        filled[i].assign(text.begin(), text.end());
        filled[i].resize(0x30000);
    }
    return filled;
}

// What the flash must hold after programming `sectors`: each data byte at its
// address, 00h padding in every 64-byte block that holds data, the code where
// it belongs, FFh elsewhere in the programmed sectors, the rest untouched.
image expected_flash(const image& before, const reference& ref, const std::string& sectors, int target,
                     int sector0_segment)
{
    image flash = before;
    const auto code = code_bytes();
    const auto supplied = [&ref](std::size_t a) { return ref[0][a] == ref[1][a]; };
    for (std::size_t i = 0; i < sectors.size(); i += 2) {
        const int s = sectors[i] - '0';
        auto* out = &flash[s * k_sector];
        std::fill(out, out + k_sector, 0xFF);
        // Where the sector lies in the hex file's linear address space.
        const std::size_t base = s ? 0x10000 + s * k_sector : sector0_segment * 0x10000u;
        const std::size_t first = s == target ? 0x60 : 0;
        for (std::size_t block = 0; block < k_sector; block += 64) {
            bool data = false;
            for (std::size_t a = std::max(block, first); a < block + 64; ++a) data = data || supplied(base + a);
            if (!data) continue;
            for (std::size_t a = block; a < block + 64; ++a)
                out[a] = a >= first && supplied(base + a) ? ref[0][base + a] : 0x00;
        }
        if (s == target) {
            std::copy(code.begin(), code.end(), out);
            if (out[0x60] == 0xFF)  // the code's second block carries 00h after the code
                std::fill(out + 0x60, out + 0x80, 0x00);
        }
    }
    return flash;
}

// Random records with gaps, shuffled, lower-case digits, both kinds of
// address record.
std::string generated(const std::string& dir, unsigned seed)
{
    std::mt19937 random(seed);
    std::vector<std::string> records;
    for (std::size_t address = 0x10; address < 0x30000;) {
        const int length = 1 + static_cast<int>(random() % 40);
        const auto segment = static_cast<int>(address >> 16);
        const auto offset = static_cast<int>(address & 0xFFFF);
        if (offset + length > 0x10000) {
            address = (address | 0xFFFF) + 1;
            continue;
        }
        char line[128];
        const bool linear = random() % 2;
        std::snprintf(line, sizeof line, linear ? ":02000004%04X%02X" : ":02000002%04X%02X",
                      linear ? segment : segment << 12, (256 - (linear ? 6 + segment : 4 + (segment << 4))) & 0xFF);
        std::string record = line;
        std::snprintf(line, sizeof line, "\n:%02X%04X00", length, offset);
        record += line;
        int sum = length + (offset >> 8) + (offset & 0xFF);
        for (int i = 0; i < length; ++i) {
            const int b = static_cast<int>(random() % 256);
            std::snprintf(line, sizeof line, random() % 3 ? "%02X" : "%02x", b);
            record += line;
            sum += b;
        }
        std::snprintf(line, sizeof line, "%02X", (256 - sum % 256) & 0xFF);
        records.push_back(record + line);
        address += length + random() % 3000;
    }
    std::shuffle(records.begin(), records.end(), random);
    std::string text;
    for (const auto& r : records) text += r + "\n";
    const auto hex = dir + "/gen.hex";
    write_file(hex, text + ":00000001FF\n");
    return hex;
}

bool holds_the_code(const image& flash, std::initializer_list<std::size_t> sectors)
{
    const auto code = code_bytes();
    for (const std::size_t sector : sectors)
        if (std::equal(code.begin(), code.end(), flash.begin() + static_cast<long>(sector * k_sector))) return true;
    return false;
}

// A flash of random bytes with the code in sector `now` (none if negative), written to dir/before.bin.
image random_flash(const std::string& dir, unsigned seed, int now)
{
    std::mt19937 random(seed);
    image before(k_flash);
    for (auto& b : before) b = static_cast<std::uint8_t>(random());
    const auto code = code_bytes();
    if (now >= 0) std::copy(code.begin(), code.end(), before.begin() + now * static_cast<long>(k_sector));
    write_file(dir + "/before.bin", std::string(before.begin(), before.end()));
    return before;
}

image read_image(const std::string& path)
{
    const auto text = read_file(path);
    return {text.begin(), text.end()};
}

std::vector<QJsonObject> json_lines(const std::string& text)
{
    std::vector<QJsonObject> objects;
    for (const auto& line : QString::fromStdString(text).split('\n', Qt::SkipEmptyParts))
        objects.push_back(QJsonDocument::fromJson(line.toUtf8()).object());
    return objects;
}

std::vector<QJsonObject> records_of(const std::vector<QJsonObject>& records, const std::string& port, const char* key)
{
    std::vector<QJsonObject> its;
    for (const auto& r : records)
        if (r[key] == port.c_str()) its.push_back(r);
    return its;
}

std::string log_name(const std::string& port)
{
    auto name = port.substr(1) + ".log";
    std::replace(name.begin(), name.end(), '/', '-');
    return name;
}

}  // namespace fernwick::e2e
