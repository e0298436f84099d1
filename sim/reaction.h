#pragma once
// What the chip does in answer to one received byte, timed from that byte.

#include <cstdint>
#include <optional>
#include <vector>

namespace fernwick::sim {

struct answer_byte {
    int after_ms = 0;
    std::uint8_t value = 0;
};

struct reaction {
    std::vector<answer_byte> answer;
    int busy_ms = 0;                   // no further byte is taken before this
    std::optional<int> drop_after_ms;  // the link goes dead then
    bool back_to_bootstrap = false;    // the software reset has run
};

}  // namespace fernwick::sim
