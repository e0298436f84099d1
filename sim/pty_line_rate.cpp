#include "pty_line_rate.h"

// termios2 clashes with <termios.h>, so it lives in a file of its own.
#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace fernwick::sim {

// termios2 holds the rate itself, so a custom rate (BOTHER, as a serial
// port library sets for 14400) reads as well as a standard one.
std::optional<int> host_line_rate(int master)
{
    termios2 settings{};
    if (::ioctl(master, TCGETS2, &settings) != 0 || settings.c_ospeed == 0) return std::nullopt;
    return static_cast<int>(settings.c_ospeed);
}

}  // namespace fernwick::sim
