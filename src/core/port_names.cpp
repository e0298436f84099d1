#include "core/port_names.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>

#ifndef _WIN32
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace fernwick::core {

namespace {

constexpr long k_group_buffer_fallback = 4096;
// Machines with dozens of ttyS entries: the first few tell enough.
constexpr std::size_t k_ports_listed = 8;

}  // namespace

std::string device_for_port(int port)
{
    if (port != 1 && port != 2) return {};
    const char* chosen = std::getenv(port == 1 ? "FERNWICK_COM1" : "FERNWICK_COM2");
    if (chosen != nullptr && *chosen != '\0') return chosen;
#ifdef _WIN32
    return port == 1 ? "COM1" : "COM2";
#else
    return port == 1 ? "/dev/ttyS0" : "/dev/ttyS1";
#endif
}

std::string device_path(const std::string& name)
{
#ifndef _WIN32
    if (!name.starts_with('/') && !name.starts_with("./") && !name.starts_with("../")) return "/dev/" + name;
#endif
    return name;
}

std::string latency_timer_file(const std::string& device, const std::string& devices)
{
    std::error_code e;
    const auto name = std::filesystem::canonical(device_path(device), e).filename().string();
    const auto file = std::filesystem::path(devices) / name / "latency_timer";
    if (!e && std::filesystem::exists(file, e)) return file.string();
    return (std::filesystem::path(devices) / "ttyUSB*" / "latency_timer").string();
}

std::string device_group([[maybe_unused]] const std::string& device)
{
#ifndef _WIN32
    struct stat info {};
    if (::stat(device.c_str(), &info) != 0) return {};
    // The reentrant form: boards of a production line open their ports side by side.
    const long size = ::sysconf(_SC_GETGR_R_SIZE_MAX);
    std::vector<char> buffer(static_cast<std::size_t>(size > 0 ? size : k_group_buffer_fallback));
    group entry{};
    group* found = nullptr;
    if (::getgrgid_r(info.st_gid, &entry, buffer.data(), buffer.size(), &found) == 0 && found) return found->gr_name;
#endif
    return {};
}

std::string with_group_advice(const std::string& reason, const std::string& group)
{
    if (group.empty() || group == "root") return reason;
    return reason + " (the user must be in the group " + group + " that owns it: sudo usermod -aG " + group +
           " $USER, then log in again)";
}

std::string with_port_list(const std::string& reason, const std::vector<std::string>& ports, int port, bool in_windows)
{
    const std::string example = ports.empty() ? "/dev/ttyUSB0" : ports.back();
    const std::string variable = "FERNWICK_COM" + std::to_string(port == 2 ? 2 : 1) + "=" + example;
    // The windows read the variable at start-up and have no command line.
    const std::string how =
        in_windows ? variable + " when starting Fernwick" : variable + " (or fernwick-cli --device " + example + ")";
    if (ports.empty()) return reason + "; no serial port found here: plug in the adapter, then choose it with " + how;
    std::string listed;
    for (std::size_t i = 0; i < std::min(ports.size(), k_ports_listed); ++i) listed += (i ? ", " : "") + ports[i];
    if (ports.size() > k_ports_listed) listed += " and " + std::to_string(ports.size() - k_ports_listed) + " more";
    return reason + "; the serial ports here are " + listed + ": choose one with " + how;
}

}  // namespace fernwick::core
