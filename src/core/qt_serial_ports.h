#pragma once
// The serial ports this machine has, as the system lists them (QSerialPortInfo).

#include <string>
#include <vector>

namespace fernwick::core {

// Their device paths, sorted, e.g. /dev/ttyS0, /dev/ttyUSB0; pseudo-terminals
// are not listed.
std::vector<std::string> serial_ports();

}  // namespace fernwick::core
