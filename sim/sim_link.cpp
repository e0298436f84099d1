#include "sim_link.h"

#include <algorithm>
#include <utility>

#include "board_core.h"

namespace fernwick::sim {

sim_serial_link::sim_serial_link(std::shared_ptr<board_core> board) : board_(std::move(board))
{
    board_->links.push_back(this);
}

sim_serial_link::~sim_serial_link() { std::erase(board_->links, this); }

std::string sim_serial_link::port_name() const { return "COM" + std::to_string(comm_port()); }

bool sim_serial_link::fail(const std::string& why)
{
    error_ = port_name() + ": " + why;
    return false;
}

bool sim_serial_link::open()
{
    if (open_) return fail("already open");
    if (comm_port() != 1) return fail("no such device");
    if (!core::parse_settings(settings())) return fail("malformed settings \"" + settings() + "\"");
    if (board_->port_holder()) return fail("in use by another application");
    open_ = true;
    gone_ = false;
    error_.clear();
    if (board_->chip.config().wiring) board_->set_lines({true, true});
    return true;
}

void sim_serial_link::close()
{
    if (open_ && board_->chip.config().wiring) board_->set_lines({false, false});
    open_ = false;
    pending_.clear();
    arrived_.clear();
}

bool sim_serial_link::write(const core::byte_string& data)
{
    if (gone()) {
        gone_ = true;
        close();
        return false;
    }
    if (!open_) return fail("not open");
    board_->chip.receive(data, board_->now);
    written_ms_ = board_->now;
    return true;
}

bool sim_serial_link::set_modem_lines(const core::modem_lines& lines)
{
    if (!open_) return fail("not open");
    if (!board_->chip.config().wiring) return fail("the port has no modem lines");
    board_->set_lines(lines);
    return true;
}

void sim_serial_link::pause(int ms) { board_->now += ms; }

std::string sim_serial_link::error_text() const { return gone() ? port_name() + ": the device went away" : error_; }

bool sim_serial_link::gone() const { return gone_ || (open_ && board_->chip.link_dropped()); }

int sim_serial_link::ms_since_write() const { return board_->now - written_ms_; }

core::byte_string sim_serial_link::read_all()
{
    board_->collect();
    return std::exchange(pending_, {});
}

int sim_serial_link::pending()
{
    board_->collect();
    return static_cast<int>(pending_.size());
}

bool sim_serial_link::wait_for_data(int ms) { return open_ && !gone() && board_->wait_for_data(*this, ms); }

// Without notifications nothing would ever move the held-back writes on.
void sim_serial_link::set_threshold(int threshold)
{
    serial_link::set_threshold(threshold);
    if (threshold == 0) take_arrived();
}

void sim_serial_link::arrive(core::byte_string bytes, event_key key)
{
    if (threshold() == 0)
        pending_ += bytes;
    else
        arrived_.push_back({key, std::move(bytes)});
}

std::optional<event_key> sim_serial_link::next_notification() const
{
    if (arrived_.empty()) return std::nullopt;
    return arrived_.front().key;
}

void sim_serial_link::deliver_notification()
{
    pending_ += arrived_.front().bytes;
    arrived_.pop_front();
    if (open_ && threshold() == 1 && !pending_.empty()) notify(core::k_comm_event_receive);
}

void sim_serial_link::take_arrived()
{
    for (auto& a : arrived_) pending_ += a.bytes;
    arrived_.clear();
}

manual_timer::manual_timer(std::shared_ptr<board_core> board) : board_(std::move(board))
{
    board_->timers.push_back(this);
}

manual_timer::~manual_timer() { std::erase(board_->timers, this); }

// A period of 0 would tick without end within one pump.
void manual_timer::start(int interval_ms)
{
    interval_ms_ = std::max(interval_ms, 1);
    due_ = {board_->now + interval_ms_, board_->next_seq()};
    active_ = true;
}

std::optional<event_key> manual_timer::due() const
{
    if (!active_) return std::nullopt;
    return due_;
}

// Ticks missed while the UI thread was blocked come as one, as on an event loop.
void manual_timer::fire()
{
    due_.due_ms = std::max(due_.due_ms + interval_ms_, board_->now + 1);
    due_.seq = board_->next_seq();
    tick();
}

}  // namespace fernwick::sim
