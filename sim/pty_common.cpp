#include "pty_common.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace fernwick::sim {

namespace {

bool make_link(const std::string& path, const std::string& target, std::string& error)
{
    struct stat st {};
    if (lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) unlink(path.c_str());
    if (symlink(target.c_str(), path.c_str()) == 0) return true;
    error = "cannot make the link " + path + ": " + std::strerror(errno);
    return false;
}

}  // namespace

long long monotonic_ns()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

std::string hex_of(std::string_view bytes)
{
    std::string text;
    for (const char c : bytes) {
        char pair[4];
        std::snprintf(pair, sizeof pair, " %02X", static_cast<unsigned char>(c));
        text += pair;
    }
    return text;
}

int open_master(std::string& device, const std::string& trace_path, std::ofstream& trace, const std::string& link_path,
                std::string& error)
{
    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
        error = std::string("cannot create a pseudo-terminal: ") + std::strerror(errno);
        if (master >= 0) ::close(master);
        return -1;
    }
    device = ptsname(master);
    termios raw{};
    tcgetattr(master, &raw);
    cfmakeraw(&raw);
    tcsetattr(master, TCSANOW, &raw);
    if (!trace_path.empty()) {
        trace.open(trace_path, std::ios::out | std::ios::trunc);
        if (!trace) {
            error = "cannot write the trace " + trace_path;
            ::close(master);
            return -1;
        }
    }
    if (!link_path.empty() && !make_link(link_path, device, error)) {
        ::close(master);
        return -1;
    }
    return master;
}

void close_master(int& master, const std::string& link_path)
{
    if (master >= 0) ::close(master);
    master = -1;
    if (!link_path.empty()) unlink(link_path.c_str());
}

}  // namespace fernwick::sim
