#include "flash_memory.h"

#include <algorithm>

namespace fernwick::sim {
namespace {

constexpr int k_upper_half = 0x8000;  // offsets 8000h-FFFFh

// Where each sector lies in the chip's address space.
struct sector_place {
    int segment;
    int first_offset;
};
constexpr std::array<sector_place, k_sector_count> k_sector_places = {
    {{0, 0}, {1, k_upper_half}, {2, 0}, {2, k_upper_half}}};

}  // namespace

std::optional<int> sector_of(int segment, int offset)
{
    if (offset < 0 || offset > 0xFFFF) return std::nullopt;
    const int first = offset & k_upper_half;
    for (int n = 0; n < k_sector_count; ++n) {
        const auto& place = k_sector_places[static_cast<std::size_t>(n)];
        if (place.segment == segment && place.first_offset == first) return n;
    }
    return std::nullopt;
}

flash_memory::flash_memory() : bytes_(k_flash_size, 0xFF) {}

void flash_memory::erase(int sector)
{
    const auto start = bytes_.begin() + static_cast<std::ptrdiff_t>(sector * k_sector_size);
    std::fill(start, start + static_cast<std::ptrdiff_t>(k_sector_size), 0xFF);
}

std::uint8_t flash_memory::program(int segment, int offset, std::span<const std::uint8_t> data)
{
    const auto first = sector_of(segment, offset);
    const auto last = sector_of(segment, offset + static_cast<int>(data.size()) - 1);
    if (!first || last != first) return wire::operand_error;
    const auto start = static_cast<std::size_t>(*first) * k_sector_size + (offset & (k_sector_size - 1));
    for (std::size_t i = 0; i < data.size(); ++i)
        if ((bytes_[start + i] & data[i]) != data[i]) return wire::flag_error;
    std::copy(data.begin(), data.end(), bytes_.begin() + static_cast<std::ptrdiff_t>(start));
    return wire::done;
}

std::span<const std::uint8_t> flash_memory::sector(int n) const
{
    return std::span(bytes_).subspan(static_cast<std::size_t>(n) * k_sector_size, k_sector_size);
}

bool flash_memory::load(std::span<const std::uint8_t> image)
{
    if (image.size() != k_flash_size) return false;
    std::copy(image.begin(), image.end(), bytes_.begin());
    return true;
}

}  // namespace fernwick::sim
