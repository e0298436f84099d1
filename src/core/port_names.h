#pragma once
// Which device stands behind COM 1 and COM 2 on this machine, and what lets
// the user open it.

#include <optional>
#include <string>
#include <vector>

namespace fernwick::core {

// The device of COM `port` (1 or 2): the platform's first two serial ports,
// unless FERNWICK_COM1 / FERNWICK_COM2 name another device (a USB adapter,
// a pseudo-terminal). Empty for any other port number.
std::string device_for_port(int port);

// The path the system opens for a device name: a name that starts with
// neither /, ./ nor ../ lies in /dev (ttyUSB0, serial/by-id/...), as Qt
// looks it up.
std::string device_path(const std::string& name);

// Why the port `name` cannot be used by name, or nullopt: a name that is not
// valid UTF-8 (a link made by a udev rule from a device's own bytes) does not
// survive the serial port library, which would open another name or none.
// Said once, in full: "NAME: the port's name is not valid UTF-8, which is not
// supported; use DEVICE, the device it leads to"; the name's stray bytes
// shown as \xHH.
std::optional<std::string> port_name_problem(const std::string& name);

// `name` with every byte that is not part of valid UTF-8 written as \xHH.
std::string printable_name(const std::string& name);

inline constexpr const char* k_usb_serial_devices = "/sys/bus/usb-serial/devices";

// The file of the latency timer of the USB serial adapter behind `device`
// (a link such as /dev/serial/by-id/... followed), e.g.
// /sys/bus/usb-serial/devices/ttyUSB0/latency_timer; where the device has
// none there, the pattern that names every adapter's, ttyUSB*.
std::string latency_timer_file(const std::string& device, const std::string& devices = k_usb_serial_devices);

// The group that owns `device`, e.g. "dialout"; empty when it cannot be read.
std::string device_group(const std::string& device);

// The reason an open was refused for lack of permission, with the way in:
// membership of the device's group. Unchanged when the group is unknown, or
// root's, which no operator should join.
std::string with_group_advice(const std::string& reason, const std::string& group);

// The reason a device could not be found, with the serial ports that do
// exist (`ports`, as the system lists them) and how to choose one for COM
// `port`: by its variable, and on fernwick-cli's command line unless the
// reason is for the windows.
std::string with_port_list(const std::string& reason, const std::vector<std::string>& ports, int port,
                           bool in_windows = false);

}  // namespace fernwick::core
