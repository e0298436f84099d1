#pragma once
// The serial link over the platform's serial port (QSerialPort).

#include <chrono>
#include <memory>
#include <string>

#include "core/serial_link.h"

class QSerialPort;

namespace fernwick::core {

// One serial port. Lives on the UI thread: receive notifications arrive
// through that thread's event loop, never inside the call that wrote or polled.
class qt_serial_link : public serial_link {
public:
    // `device`, when given, is opened whatever the port number: one board
    // of several, each on its own adapter.
    explicit qt_serial_link(std::string device = {});
    ~qt_serial_link() override;
    qt_serial_link(const qt_serial_link&) = delete;
    qt_serial_link& operator=(const qt_serial_link&) = delete;

    bool open() override;
    void close() override;
    bool is_open() const override;
    bool write(const byte_string& data) override;
    byte_string read_all() override;
    int pending() override;
    bool wait_for_data(int ms) override;
    std::string error_text() const override;
    bool gone() const override { return gone_; }
    int ms_since_write() const override;
    bool set_modem_lines(const modem_lines& lines) override;

private:
    // Sets error_text() to "<device>: <why>"; false.
    bool fail(const std::string& why);
    // Closes for good: the device is no longer there. `why` follows "the device went away".
    bool went_away(const std::string& why);
    bool claim();
    bool write_to_driver(const byte_string& data);
    void pull();
    void on_ready_read();
    void on_error(int error);
    void deliver_receive();

    std::unique_ptr<QSerialPort> port_;
    std::string fixed_device_;
    std::string device_;  // the device of the last open
    std::string error_;
    bool receive_posted_ = false;
    bool gone_ = false;
    bool low_latency_asked_ = false;                 // the driver took it at open
    std::chrono::steady_clock::time_point written_;  // when the last write was with the driver
};

}  // namespace fernwick::core
