#pragma once
// Which device stands behind COM 1 and COM 2 on this machine.

#include <string>

namespace fernwick::core {

// The device of COM `port` (1 or 2): the platform's first two serial ports,
// unless FERNWICK_COM1 / FERNWICK_COM2 name another device (a USB adapter,
// a pseudo-terminal). Empty for any other port number.
std::string device_for_port(int port);

}  // namespace fernwick::core
