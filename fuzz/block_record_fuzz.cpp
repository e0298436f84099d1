// The block file line reading on any text: what it accepts reads back the
// same after writing, and what is written from any fields reads back to them.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "fuzz_support.h"
#include "programming/block_record.h"

namespace {

using namespace fernwick::programming;
using fernwick::fuzz::require;

bool same_fields(const block_record& a, const block_record& b)
{
    return a.sector == b.sector && a.address == b.address && a.segment == b.segment && a.data == b.data &&
           a.marker == b.marker;
}

void check_accepted(std::string_view line)
{
    const auto record = read_block_record(line);
    if (!record) return;
    require(record->sector >= 0 && record->address >= 0 && record->segment >= 0, "numbers without sign");
    require(record->data.find('"') == std::string::npos && record->marker.find('"') == std::string::npos,
            "text fields without quotes");
    const auto again = read_block_record(format_block_record(*record));
    require(again && same_fields(*again, *record), "an accepted line reads back the same after writing");
    if (line.empty() || line.back() != '"') return;  // it has its line end already
    for (const std::string_view line_end : {"\n", "\r", "\r\n"}) {
        const auto ended = read_block_record(std::string(line) + std::string(line_end));
        require(ended && same_fields(*ended, *record), "a trailing line end changes nothing");
    }
}

// Fields from the input: three numbers of its first bytes, then the two
// texts split at the first NUL, without quotes.
void check_written(const std::uint8_t* data, std::size_t size)
{
    if (size < 12) return;
    auto number = [&](std::size_t at) {
        std::uint32_t n = 0;
        std::memcpy(&n, data + at, sizeof n);
        return static_cast<long>(n & 0x7FFFFFFF);
    };
    std::string texts(reinterpret_cast<const char*>(data) + 12, size - 12);
    std::erase(texts, '"');
    const auto nul = texts.find('\0');
    block_record written{static_cast<int>(number(0)), number(4), static_cast<int>(number(8)), texts.substr(0, nul),
                         nul == std::string::npos ? std::string() : texts.substr(nul + 1)};
    const auto read = read_block_record(format_block_record(written));
    require(read && same_fields(*read, written), "written fields read back");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    check_accepted(std::string_view(reinterpret_cast<const char*>(data), size));
    check_written(data, size);
    return 0;
}
