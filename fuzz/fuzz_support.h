#pragma once
// What the fuzz targets share: stopping on a broken invariant, and the
// choices of a run taken from the input's first byte.

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "programming/bsl_code.h"

namespace fernwick::fuzz {

// libFuzzer saves the input that made the target abort.
inline void require(bool holds, std::string_view what)
{
    if (holds) return;
    std::fprintf(stderr, "fernwick invariant broken: %.*s\n", static_cast<int>(what.size()), what.data());
    std::abort();
}

struct run_choice {
    std::array<bool, 4> sectors{};
    int bsl_target = 2;
    int sector0_segment = 0;
    std::string hex_text;
};

// Byte 0: bits 0-3 the chosen sectors, bits 4-5 the code's target (0, 2,
// none, none), bit 6 the segment of sector 0. The rest is the hex file.
inline run_choice read_choice(const std::uint8_t* data, std::size_t size)
{
    run_choice choice;
    if (size == 0) return choice;
    const unsigned first = data[0];
    for (unsigned s = 0; s < 4; ++s) choice.sectors[s] = (first >> s & 1u) != 0;
    const unsigned target = first >> 4 & 3u;
    choice.bsl_target = target == 0 ? 0 : target == 1 ? 2 : programming::k_bsl_nowhere;
    choice.sector0_segment = static_cast<int>(first >> 6 & 1u);
    choice.hex_text.assign(reinterpret_cast<const char*>(data) + 1, size - 1);
    return choice;
}

}  // namespace fernwick::fuzz
