#pragma once
// The faults of the resident program's exchanges: which exchange they hit
// and how they turn its answer.

#include <array>
#include <vector>

#include "chip_config.h"
#include "reaction.h"

namespace fernwick::sim {

class fault_plan {
public:
    explicit fault_plan(std::vector<exchange_fault> faults);

    // Counts one more exchange of this kind and returns its faults, merged;
    // a default exchange_fault when none applies.
    exchange_fault next(exchange_kind kind);

private:
    std::vector<exchange_fault> faults_;
    std::array<int, k_exchange_kinds> counts_{};
};

// Whether the chip carries out a command under this fault.
bool carried_out(const exchange_fault& fault);

// The answer of an exchange: the leading bytes (status register bytes, then
// the checksum last) at once, the status byte after work_ms, both shifted
// by the fault's delay and changed by its other faults (a repeat sends the
// whole of it again right after).
reaction exchange_answer(const exchange_fault& fault, std::vector<std::uint8_t> lead, int work_ms, std::uint8_t status);

}  // namespace fernwick::sim
