// Conversion of large hex files into the block file, and the sector scan.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "programming/conversion.h"
#include "programming/hex_scan.h"

namespace {

namespace fs = std::filesystem;
using namespace fernwick::programming;

struct record {
    int segment;
    int offset;
    int length;
};

std::string hex2(unsigned value)
{
    char text[3];
    std::snprintf(text, sizeof text, "%02X", value & 0xFF);
    return text;
}

std::string line(int type, int offset, const std::string& data)
{
    const auto length = static_cast<unsigned>(data.size() / 2);
    unsigned sum =
        length + static_cast<unsigned>(offset >> 8) + static_cast<unsigned>(offset) + static_cast<unsigned>(type);
    for (std::size_t i = 0; i < data.size(); i += 2) sum += std::stoul(data.substr(i, 2), nullptr, 16);
    return ":" + hex2(length) + hex2(static_cast<unsigned>(offset >> 8)) + hex2(static_cast<unsigned>(offset)) +
           hex2(static_cast<unsigned>(type)) + data + hex2(0x100 - (sum & 0xFF)) + "\r\n";
}

// Writes the records in the given order, with an address record wherever
// the segment changes.
std::string write_hex(const std::vector<record>& records)
{
    const auto path = (fs::temp_directory_path() / ("fernwick_bench_" + std::to_string(records.size()) + "_" +
                                                    std::to_string(records.front().offset) + ".hex"))
                          .string();
    std::ofstream out(path, std::ios::binary);
    std::mt19937 rng(1);
    int segment = -1;
    for (const auto& r : records) {
        if (r.segment != segment) out << line(0x04, 0, "00" + hex2(static_cast<unsigned>(segment = r.segment)));
        std::string data;
        for (int i = 0; i < r.length; ++i) data += hex2(rng());
        out << line(0x00, r.offset, data);
    }
    out << ":00000001FF\r\n";
    return path;
}

// The four sectors, full, as records of `length` bytes every `stride` bytes.
std::vector<record> flash_records(int length, int stride)
{
    std::vector<record> records;
    for (int segment = 0; segment <= 2; ++segment) {
        const int first = segment == 1 ? 0x8000 : 0;
        const int end = segment == 0 ? 0x8000 : 0x10000;
        for (int offset = first; offset < end; offset += stride) records.push_back({segment, offset, length});
    }
    return records;
}

std::string shuffled_image()
{
    auto records = flash_records(16, 16);
    std::shuffle(records.begin(), records.end(), std::mt19937(2));
    return write_hex(records);
}

// The same image and three times as many records that lie in no sector.
std::string shuffled_image_and_more()
{
    auto records = flash_records(16, 16);
    const auto in_flash = records.size();
    for (std::size_t i = 0; i < 3 * in_flash; ++i) {
        records.push_back({3 + static_cast<int>(i / 4096), static_cast<int>(i % 4096) * 16, 16});
    }
    std::shuffle(records.begin(), records.end(), std::mt19937(3));
    return write_hex(records);
}

// 8192 records in rising order, none continuing the one before.
std::string one_record_runs() { return write_hex(flash_records(8, 16)); }

void convert(benchmark::State& state, const std::string& path)
{
    for (auto _ : state) {
        const auto result = convert_hex_file({path, {true, true, true, true}, 2, 0});
        if (!result.ok()) state.SkipWithError("conversion failed");
        benchmark::DoNotOptimize(result.block_count);
    }
    state.counters["file_KB"] = static_cast<double>(fs::file_size(path)) / 1000;
}

void scan(benchmark::State& state, const std::string& path)
{
    for (auto _ : state) benchmark::DoNotOptimize(scan_sectors(path, 0));
}

}  // namespace

int main(int argc, char** argv)
{
    const auto image = shuffled_image();
    const auto image_and_more = shuffled_image_and_more();
    const auto runs = one_record_runs();
    benchmark::RegisterBenchmark("convert/128KiB_16byte_records_shuffled", convert, image)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("convert/4x_records_extra_outside_flash", convert, image_and_more)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("convert/8192_one_record_runs", convert, runs)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("scan/128KiB_16byte_records_shuffled", scan, image)->Unit(benchmark::kMillisecond);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    for (const auto& path : {image, image_and_more, runs}) {
        std::error_code ec;
        fs::remove(path, ec);
        fs::remove(new_file_name_for(path), ec);
    }
    return 0;
}
