#pragma once
// The two pieces of target code that the bring-up downloads into the chip's
// RAM: the first-level loader and the resident main program it receives.

#include <array>
#include <cstdint>

#include "core/serial_link.h"

namespace fernwick::bootstrap {

inline constexpr std::size_t k_first_loader_size = 32;
inline constexpr std::size_t k_main_program_size = 510;

extern const std::array<std::uint8_t, k_first_loader_size> k_first_loader;
extern const std::array<std::uint8_t, k_main_program_size> k_main_program;

// The images as serial data, one char per byte.
core::byte_string first_loader_bytes();
core::byte_string main_program_bytes();

// How many bytes the first-level loader receives after it has started: its
// count in bytes 06-07 (least significant first) plus one.
std::size_t first_loader_count(const core::byte_string& loader);

}  // namespace fernwick::bootstrap
