#include "core/qt_serial_ports.h"

#include <QSerialPortInfo>
#include <algorithm>

namespace fernwick::core {

std::vector<std::string> serial_ports()
{
    std::vector<std::string> ports;
    for (const auto& port : QSerialPortInfo::availablePorts()) ports.push_back(port.systemLocation().toStdString());
    std::sort(ports.begin(), ports.end());
    return ports;
}

}  // namespace fernwick::core
