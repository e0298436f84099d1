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

// The length of the UTF-8 sequence at `at` (1 to 4), or 0 when its bytes are
// none: a stray continuation, an overlong form, a surrogate, beyond U+10FFFF.
std::size_t utf8_length(const std::string& text, std::size_t at)
{
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[at + i]); };
    const unsigned char lead = byte(0);
    if (lead < 0x80) return 1;
    const std::size_t length = lead >= 0xC2 && lead <= 0xDF   ? 2
                               : lead >= 0xE0 && lead <= 0xEF ? 3
                               : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                              : 0;
    if (length == 0 || at + length > text.size()) return 0;
    for (std::size_t i = 1; i < length; ++i)
        if ((byte(i) & 0xC0) != 0x80) return 0;
    // The second byte's range rules out overlong forms, surrogates and too high a code.
    const unsigned char second = byte(1);
    if ((lead == 0xE0 && second < 0xA0) || (lead == 0xED && second > 0x9F) || (lead == 0xF0 && second < 0x90) ||
        (lead == 0xF4 && second > 0x8F))
        return 0;
    return length;
}

bool valid_utf8(const std::string& text)
{
    for (std::size_t i = 0; i < text.size();) {
        const auto length = utf8_length(text, i);
        if (length == 0) return false;
        i += length;
    }
    return true;
}

}  // namespace

std::string printable_name(const std::string& name)
{
    constexpr char digits[] = "0123456789ABCDEF";
    std::string text;
    for (std::size_t i = 0; i < name.size();) {
        if (const auto length = utf8_length(name, i)) {
            text.append(name, i, length);
            i += length;
            continue;
        }
        const auto byte = static_cast<unsigned char>(name[i++]);
        text += std::string("\\x") + digits[byte >> 4] + digits[byte & 0x0F];
    }
    return text;
}

std::optional<std::string> port_name_problem(const std::string& name)
{
    if (valid_utf8(name)) return std::nullopt;
    std::error_code e;
    const auto device = std::filesystem::canonical(device_path(name), e).string();
    return printable_name(name) + ": the port's name is not valid UTF-8, which is not supported; " +
           (!e && valid_utf8(device) ? "use " + device + ", the device it leads to"
                                     : "give it a name in UTF-8, or make a link to it with one");
}

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
