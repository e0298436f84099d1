#pragma once
// A station's fixtures: the serial devices that match the operator's
// patterns, each under every name it has, seen to come and go through the
// system's events on their folders (never by looking again and again); the
// hold a fixture keeps on its device; asking a programmed board whether it
// is still there; and the USB serial number of a port's adapter.

#include <QFileSystemWatcher>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace fernwick::station {

// Why a pattern cannot be watched: wildcards in its folder, or no folder at
// all; nullopt when it can.
std::optional<std::string> pattern_problem(const std::string& pattern);

// One serial device and the names that lead to it now (ttyUSB0 and the
// by-id link udev makes for it): one fixture, whatever the names.
struct port_device {
    std::string key;                 // the device itself: its device number
    std::vector<std::string> names;  // in the patterns' order, each once
};

// The character devices that match the patterns now, links to them
// included, in the order their first names match.
std::vector<port_device> matching_devices(const std::vector<std::string>& patterns);

// Tells `changed` the devices that match whenever an entry of a pattern's
// folder comes or goes. A folder that does not exist yet (/dev/serial/by-path
// before the first adapter) is waited for through the folder above it.
class port_watcher {
public:
    port_watcher(std::vector<std::string> patterns, std::function<void(const std::vector<port_device>&)> changed);
    std::vector<port_device> devices() const { return matching_devices(patterns_); }

private:
    void watch_folders();

    std::vector<std::string> patterns_;
    std::function<void(const std::vector<port_device>&)> changed_;
    QFileSystemWatcher watcher_;
};

// A fixture's claim on its device, from its arrival until it has gone: the
// device kept open under an exclusive open file description lock, which
// another station's claim meets (a process of root passes TIOCEXCL, never a
// lock). It is not the flock(2) each session's port takes, so this
// station's own sessions do not meet it.
class device_hold {
public:
    enum class outcome { held, held_elsewhere, unusable };
    // `why` says what the system said when the device cannot be opened.
    static outcome take(const std::string& device, std::optional<device_hold>& hold, std::string& why);
    device_hold(device_hold&& other) noexcept;
    device_hold& operator=(device_hold&&) = delete;
    ~device_hold();

    // The device went away (unplugged, its pseudo-terminal closed), even if
    // another device of the same number took its name since.
    bool gone() const;
    // Bytes that came while no session listened: none may greet the next one.
    void discard_input() const;

private:
    explicit device_hold(int fd) : fd_(fd) {}
    int fd_;
};

// What a programmed board's resident program said to a flash status reading.
enum class presence { same_board, silent, other_answer, unusable };

// Asks the board on a device, again and again on one open port, for the
// flash status of sector 0, which its resident program answers without
// changing anything. A fresh board's bootstrap loader cannot give that
// answer: the reading's first byte, not being the zero byte, sets it to a
// wrong rate until it is reset.
class presence_probe {
public:
    presence_probe(const std::string& device, int baud);
    ~presence_probe();
    presence_probe(const presence_probe&) = delete;
    presence_probe& operator=(const presence_probe&) = delete;

    // Waits up to `answer_ms` for the whole answer.
    presence ask(int answer_ms);

private:
    struct port;
    std::unique_ptr<port> port_;
};

// The USB serial number of the adapter behind a serial device, as the
// system gives it; empty when it gives none (a built-in port, a pty).
std::string adapter_serial(const std::string& device);

}  // namespace fernwick::station
