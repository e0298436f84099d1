#pragma once
// Which device stands behind COM 1 and COM 2 on this machine, and what lets
// the user open it.

#include <string>

namespace fernwick::core {

// The device of COM `port` (1 or 2): the platform's first two serial ports,
// unless FERNWICK_COM1 / FERNWICK_COM2 name another device (a USB adapter,
// a pseudo-terminal). Empty for any other port number.
std::string device_for_port(int port);

// The group that owns `device`, e.g. "dialout"; empty when it cannot be read.
std::string device_group(const std::string& device);

// The reason an open was refused for lack of permission, with the way in:
// membership of the device's group. Unchanged when the group is unknown, or
// root's, which no operator should join.
std::string with_group_advice(const std::string& reason, const std::string& group);

}  // namespace fernwick::core
