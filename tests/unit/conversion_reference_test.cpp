// The block file checked against the flash image srec_cat reads from the
// same random records. (objcopy's binary output misplaces the data of
// files whose records are not in rising address order, so it cannot serve.)

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <map>

#include "hex_test_files.h"
#include "programming/block_record.h"
#include "programming/bsl_code.h"
#include "programming/conversion.h"

namespace {

using namespace fernwick::programming;
using namespace hex_test;

constexpr int k_flash_top = 0x40000;  // segments 0 to 3, linear
constexpr int k_absent = -1;
using image = std::vector<int>;  // a byte value per linear address

using piece = std::pair<int, std::string>;  // a linear address, hex text

image image_by_srec_cat(const temp_folder& folder, const std::string& hex)
{
    const auto mask = folder.path("mask"), values = folder.path("values");
    for (const auto& [filter, out] : {std::pair{" -and 0 -or 1", mask}, std::pair{"", values}}) {
        // NOLINTNEXTLINE(performance-inefficient-string-concatenation): two commands, run once each
        const auto command = "srec_cat '" + hex + "' -intel" + filter + " -o '" + out + "' -binary 2>/dev/null";
        EXPECT_EQ(std::system(command.c_str()), 0) << command;
    }
    const std::string held = read_file(mask), value = read_file(values);
    image result(k_flash_top, k_absent);
    for (std::size_t a = 0; a < held.size() && a < result.size(); ++a)
        if (held[a] == '\1') result[a] = static_cast<unsigned char>(value.at(a));
    return result;
}

// Every byte of `truth` in a chosen sector, but where the code lies, is at
// its address in the block file; the blocks hold nothing else but the code
// and 00h; the records are sorted, unique and inside their sectors.
void check_block_file(const std::string& path, const image& truth, const conversion_request& request)
{
    struct window {
        int segment, first, end;
    };  // the flash map, not taken from the code under test
    const window map[] = {
        {request.sector0_segment, 0, 0x8000}, {1, 0x8000, 0x10000}, {2, 0, 0x8000}, {2, 0x8000, 0x10000}};
    std::map<std::pair<int, long>, std::string> blocks;
    for (const auto& line : crlf_lines(read_file(path))) {
        const auto r = read_block_record(line);
        ASSERT_TRUE(r && r->sector >= 0 && r->sector < 4 && request.sectors[r->sector]) << line;
        const auto& w = map[r->sector];
        EXPECT_TRUE(r->segment == w.segment && r->address >= w.first && r->address < w.end && r->address % 64 == 0 &&
                    r->data.size() == 128 && r->marker == "EOB")
            << line;
        EXPECT_TRUE(blocks.empty() || blocks.rbegin()->first < std::pair(r->sector, r->address)) << line;
        blocks[{r->sector, r->address}] = r->data;
    }
    const std::string code = std::string(bsl_code_1) + std::string(bsl_code_2);
    for (int s = 0; s < 4; ++s) {
        for (int address = map[s].first; request.sectors[s] && address < map[s].end; address += 64) {
            const auto found = blocks.find({s, address});
            bool needed = false;
            for (int i = 0; i < 64; ++i) {
                const int offset = address + i;
                int expected = truth[map[s].segment * 0x10000 + offset];
                if (s == request.bsl_target && offset < 0x60)
                    expected = std::stoi(code.substr(std::size_t{2} * offset, 2), nullptr, 16);
                needed = needed || expected != k_absent;
                if (found == blocks.end()) continue;
                EXPECT_EQ(std::stoi(found->second.substr(std::size_t{2} * i, 2), nullptr, 16), std::max(expected, 0))
                    << "sector " << s << " offset " << offset;
            }
            EXPECT_EQ(found != blocks.end(), needed) << "sector " << s << " block " << address;
        }
    }
}

// Refuses a piece that overlaps one taken, or has bytes on both sides of
// 0060h where the code may go: its records would be dropped whole there,
// which an image cannot show.
bool refused(std::vector<bool>& used, int address, int length)
{
    for (int code_end = 0x60; code_end < 0x30000; code_end += 0x10000)
        if (address < code_end && code_end < address + length) return true;
    const auto first = used.begin() + address, last = first + length;
    if (std::find(first, last, true) != last) return true;
    std::fill(first, last, true);
    return false;
}

conversion_request random_request(std::mt19937& rng, const std::string& hex)
{
    const int targets[] = {0, 2, -99};
    const auto chosen = 1 + rng() % 15;
    return {hex,
            {(chosen & 1) != 0, (chosen & 2) != 0, (chosen & 4) != 0, (chosen & 8) != 0},
            targets[rng() % 3],
            static_cast<int>(rng() % 2)};
}

// Up to 120 records in segments 0 to 3, many near the sector and code
// edges, each inside one segment; some longer than a block.
std::vector<piece> random_records(std::mt19937& rng)
{
    std::vector<bool> used(k_flash_top);
    std::vector<piece> records;
    const int edges[] = {0x0000, 0x0060, 0x7FC0, 0x8000, 0xFFC0};
    for (int n = 1 + static_cast<int>(rng() % 120); static_cast<int>(records.size()) < n;) {
        const int offset = rng() % 2 ? static_cast<int>(rng() % 0x10000) : (edges[rng() % 5] + rng() % 128) % 0x10000;
        const int length = std::min<int>(1 + static_cast<int>(rng() % (rng() % 8 ? 32 : 255)), 0x10000 - offset);
        const int address = static_cast<int>(rng() % 4) * 0x10000 + offset;
        if (refused(used, address, length)) continue;
        piece p{address, {}};
        for (int i = 0; i < length; ++i) p.second += hex2(rng());
        records.push_back(p);
    }
    return records;
}

// The records shuffled, with an address record of type 02 or 04 where the
// segment changes and now and then where it does not.
std::string hex_file_of(std::mt19937& rng, std::vector<piece> records)
{
    std::shuffle(records.begin(), records.end(), rng);
    std::vector<std::string> lines;
    for (int i = 0, segment = -1; i < static_cast<int>(records.size()); ++i) {
        const auto& [address, bytes] = records[i];
        if (address / 0x10000 != segment || rng() % 10 == 0) {
            segment = address / 0x10000;
            lines.push_back(rng() % 2 ? linear(segment) : segment_base(segment));
        }
        lines.push_back(data(address % 0x10000, bytes));
    }
    lines.push_back(end_record);
    return joined(lines);
}

TEST(conversion_reference, random_hex_files_agree_with_srec_cat)
{
    temp_folder folder;
    std::mt19937 rng(20240611);
    for (int round = 0; round < 40; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        const auto request = random_request(rng, folder.file("app.hex", hex_file_of(rng, random_records(rng))));
        const auto truth = image_by_srec_cat(folder, request.hex_file_name);
        const auto result = convert_hex_file(request);
        ASSERT_TRUE(result.ok());
        check_block_file(result.new_file_name, truth, request);
    }
}

}  // namespace
