#include "core/port_names.h"

#include <cstdlib>

namespace fernwick::core {

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

}  // namespace fernwick::core
