#pragma once
// A station's fixtures: the serial ports that match the operator's patterns,
// seen to come and go through the system's events on their folders (never
// by looking again and again), whether a chip answers on a port that stays,
// and the USB serial number of a port's adapter.

#include <QFileSystemWatcher>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "core/modem_lines.h"

namespace fernwick::cli {

// Why a pattern cannot be watched: wildcards in its folder, or no folder at
// all; nullopt when it can.
std::optional<std::string> pattern_problem(const std::string& pattern);

// The serial devices that match the patterns now, each device once (the
// first pattern's name for it wins): character devices only, links to them
// included.
std::vector<std::string> matching_ports(const std::vector<std::string>& patterns);

// Tells `changed` the ports that match whenever an entry of a pattern's
// folder comes or goes. A folder that does not exist yet (/dev/serial/by-path
// before the first adapter) is waited for through the folder above it.
class port_watcher {
public:
    port_watcher(std::vector<std::string> patterns, std::function<void(const std::vector<std::string>&)> changed);
    std::vector<std::string> ports() const { return matching_ports(patterns_); }

private:
    void watch_folders();

    std::vector<std::string> patterns_;
    std::function<void(const std::vector<std::string>&)> changed_;
    QFileSystemWatcher watcher_;
};

// Whether a chip answers a zero byte on `device` within `answer_ms`: the
// entry sequence first where one is given, the port closed again after. A
// chip in its bootstrap loader answers with its identification byte; a
// board taken out of a fixed adapter says nothing. nullopt when the port
// cannot be opened (another program holds it): that says nothing of the board.
std::optional<bool> chip_answers(const std::string& device, int baud, const core::modem_sequence& entry, int answer_ms);

// The USB serial number of the adapter behind a serial device, as the
// system gives it; empty when it gives none (a built-in port, a pty).
std::string adapter_serial(const std::string& device);

}  // namespace fernwick::cli
