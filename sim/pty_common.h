#pragma once
// What the simulator's two ways of serving a pseudo-terminal share: the
// raw master, the symlink to its device, the trace file, the clock.

#include <fstream>
#include <string>
#include <string_view>

namespace fernwick::sim {

// While the host has the device closed the master reports a hang-up on every
// poll, so it is left out of the poll and looked at again this often.
inline constexpr int k_closed_recheck_ms = 10;

long long monotonic_ns();

// " 40 40": bytes in hexadecimal, each after a blank, for the trace.
std::string hex_of(std::string_view bytes);

// Creates the master in raw mode (the host's device then passes every byte
// through), opens the trace file if one is named, and makes the link to
// the device if one is named. -1 with `error` set on failure.
int open_master(std::string& device, const std::string& trace_path, std::ofstream& trace, const std::string& link_path,
                std::string& error);

// Closes the master (the host's device goes away with it) and removes the link.
void close_master(int& master, const std::string& link_path);

}  // namespace fernwick::sim
