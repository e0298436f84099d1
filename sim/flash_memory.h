#pragma once
// The Mirel's flash: four sectors of 32 KiB that erase to FFh and whose
// programming can only clear bits.

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "chip_config.h"

namespace fernwick::sim {

inline constexpr std::size_t k_sector_size = std::size_t{32} * 1024;
inline constexpr std::size_t k_flash_size = k_sector_count * k_sector_size;

// The sector that holds segment:offset, or nullopt outside the four sectors.
std::optional<int> sector_of(int segment, int offset);

class flash_memory {
public:
    flash_memory();

    void erase(int sector);
    // Writes a block at segment:offset and answers its status byte: operand
    // error outside a sector or across its end, flag error when a bit would
    // have to go from 0 to 1 (nothing is written then), done otherwise.
    std::uint8_t program(int segment, int offset, std::span<const std::uint8_t> data);

    std::span<const std::uint8_t> sector(int n) const;
    // Sectors 0 to 3 in order, the layout of the preload and dump files.
    const std::vector<std::uint8_t>& image() const { return bytes_; }
    // False (and nothing changed) unless the image has exactly k_flash_size bytes.
    bool load(std::span<const std::uint8_t> image);

private:
    std::vector<std::uint8_t> bytes_;
};

}  // namespace fernwick::sim
