#include "core/shared_port.h"

namespace fernwick::core {

namespace {

class shared_port_link;

struct port_share {
    std::unique_ptr<serial_link> port;
    shared_port_link* holder = nullptr;  // the link that has the port open
    bool lines_set = false;              // since the device was opened
};

class shared_port_link : public serial_link {
public:
    explicit shared_port_link(std::shared_ptr<port_share> share) : share_(std::move(share)) {}
    ~shared_port_link() override
    {
        if (holds()) share_->holder = nullptr;
    }
    shared_port_link(const shared_port_link&) = delete;
    shared_port_link& operator=(const shared_port_link&) = delete;

    bool open() override
    {
        auto& port = *share_->port;
        error_.clear();
        if (!share_->holder && port.is_open()) {
            if (port.comm_port() == comm_port() && port.settings() == settings()) return take_over(true);
            port.close();
        }
        port.set_comm_port(comm_port());
        port.set_settings(settings());
        if (!port.open()) return false;
        share_->lines_set = false;
        return take_over(false);
    }
    void close() override
    {
        if (!holds()) return;
        share_->holder = nullptr;
        if (!share_->lines_set) share_->port->close();
    }
    bool is_open() const override { return holds() && share_->port->is_open(); }
    bool write(const byte_string& data) override { return holds() ? share_->port->write(data) : not_open(); }
    byte_string read_all() override { return holds() ? share_->port->read_all() : byte_string{}; }
    int pending() override { return holds() ? share_->port->pending() : 0; }
    bool wait_for_data(int ms) override { return holds() && share_->port->wait_for_data(ms); }
    std::string error_text() const override { return error_.empty() ? share_->port->error_text() : error_; }
    bool gone() const override { return holds() && share_->port->gone(); }
    int ms_since_write() const override { return share_->port->ms_since_write(); }
    void set_threshold(int threshold) override
    {
        serial_link::set_threshold(threshold);
        if (holds()) share_->port->set_threshold(threshold);
    }
    bool set_modem_lines(const modem_lines& lines) override
    {
        if (!holds()) return not_open();
        const bool set = share_->port->set_modem_lines(lines);
        share_->lines_set = share_->lines_set || (set && (lines.dtr || lines.rts));
        return set;
    }
    void pause(int ms) override { share_->port->pause(ms); }

    void pass_on(int comm_event) const { notify(comm_event); }

private:
    bool holds() const { return share_->holder == this; }
    // On a port kept open, what the link before left unread goes, as a
    // close would have dropped it.
    bool take_over(bool kept_open)
    {
        share_->holder = this;
        share_->port->set_threshold(threshold());
        if (kept_open) share_->port->read_all();
        return true;
    }
    bool not_open()
    {
        error_ = "COM " + std::to_string(comm_port()) + ": the port is not open";
        return false;
    }

    std::shared_ptr<port_share> share_;
    std::string error_;
};

}  // namespace

platform sharing_one_port(const platform& p)
{
    auto share = std::make_shared<port_share>();
    share->port = p.make_link();
    share->port->set_receive_callback([raw = share.get()](int comm_event) {
        if (raw->holder) raw->holder->pass_on(comm_event);
    });
    return {[share] { return std::make_unique<shared_port_link>(share); }, p.make_timer};
}

}  // namespace fernwick::core
