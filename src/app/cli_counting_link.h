#pragma once
// A serial link that counts the bytes passing through another one, for the
// summary of a programming run.

#include <memory>

#include "core/serial_link.h"

namespace fernwick::app {

class counting_link : public core::serial_link {
public:
    explicit counting_link(std::unique_ptr<core::serial_link> inner) : inner_(std::move(inner))
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
    bool write(const core::byte_string& data) override
    {
        const bool ok = inner_->write(data);
        if (ok) sent += data.size();
        return ok;
    }
    core::byte_string read_all() override
    {
        auto data = inner_->read_all();
        received += data.size();
        return data;
    }
    int pending() override { return inner_->pending(); }
    bool wait_for_data(int ms) override { return inner_->wait_for_data(ms); }
    std::string error_text() const override { return inner_->error_text(); }
    void set_threshold(int threshold) override
    {
        serial_link::set_threshold(threshold);
        inner_->set_threshold(threshold);
    }

    std::size_t sent = 0;
    std::size_t received = 0;

private:
    std::unique_ptr<core::serial_link> inner_;
};

}  // namespace fernwick::app
