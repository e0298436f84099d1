#pragma once
// A serial link that passes everything on to another one; links that watch
// the traffic (counting, tracing) override what they watch.

#include <memory>

#include "core/serial_link.h"

namespace fernwick::core {

class forwarding_link : public serial_link {
public:
    explicit forwarding_link(std::unique_ptr<serial_link> inner) : inner_(std::move(inner))
    {
        inner_->set_receive_callback([this](int ev) { notify(ev); });
    }

    bool open() override
    {
        inner_->set_comm_port(comm_port());
        inner_->set_settings(settings());
        return inner_->open();
    }
    void close() override { inner_->close(); }
    bool is_open() const override { return inner_->is_open(); }
    bool write(const byte_string& data) override { return inner_->write(data); }
    byte_string read_all() override { return inner_->read_all(); }
    int pending() override { return inner_->pending(); }
    bool wait_for_data(int ms) override { return inner_->wait_for_data(ms); }
    std::string error_text() const override { return inner_->error_text(); }
    bool gone() const override { return inner_->gone(); }
    int ms_since_write() const override { return inner_->ms_since_write(); }
    bool set_modem_lines(const modem_lines& lines) override { return inner_->set_modem_lines(lines); }
    void pause(int ms) override { inner_->pause(ms); }
    void set_threshold(int threshold) override
    {
        serial_link::set_threshold(threshold);
        inner_->set_threshold(threshold);
    }

private:
    std::unique_ptr<serial_link> inner_;
};

}  // namespace fernwick::core
