#pragma once
// The baud rate the host has set on its end of the pseudo-terminal, which
// the board can pace its bytes at.

#include <optional>

namespace fernwick::sim {

// Read through the master, which reports the settings of the host's device;
// nullopt when they cannot be read or name no rate (B0).
std::optional<int> host_line_rate(int master);

}  // namespace fernwick::sim
