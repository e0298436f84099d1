#pragma once
// Helpers of the chip model tests: hex text to bytes, a chip brought up to
// its resident program, and exchanges at one instant of its clock.

#include <ostream>
#include <string>
#include <vector>

#include "chip_model.h"

namespace fernwick::sim::testing {

// "A5 5A" or "A55A" to the bytes A5h 5Ah.
std::string bytes_of(const std::string& hex);
// The bytes as upper-case hex pairs separated by blanks.
std::string hex_of(const std::string& bytes);

// Zero byte, first-level loader and main program, answers discarded.
void bring_up(chip_model& chip, int now_ms = 0);
// Writes the bytes at now_ms and returns what has arrived by then, as hex.
std::string answer_to(chip_model& chip, const std::string& bytes, int now_ms = 0);
// The block command: 33h, segment, address high and low, 64 data bytes.
std::string block(int segment, int offset, const std::string& data);

// A write of the chip as arrival time and hex bytes.
struct timed {
    int arrival_ms;
    std::string bytes;
    bool operator==(const timed&) const = default;
};
std::ostream& operator<<(std::ostream& out, const timed& t);

// Every write of the chip until it has nothing more to do.
std::vector<timed> writes_until_quiet(chip_model& chip);

}  // namespace fernwick::sim::testing
