#pragma once
// Inside the in-process board: the chip on its manual clock, the serial
// links that reach it and the manual timers, and the order of their events.

#include <compare>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "chip_model.h"
#include "core/serial_link.h"
#include "core/ui_timer.h"

namespace fernwick::sim {

// When an event falls due; seq keeps events of the same ms in the order made.
struct event_key {
    int due_ms = 0;
    std::uint64_t seq = 0;
    auto operator<=>(const event_key&) const = default;
};

class sim_serial_link;
class manual_timer;

class board_core {
public:
    explicit board_core(chip_config config) : chip(std::move(config)) {}

    std::uint64_t next_seq() { return ++last_seq_; }
    sim_serial_link* port_holder() const;
    // Hands the chip's writes that have arrived by now to the link holding the port.
    void collect();
    // Runs the earliest notification or tick due by now; false when none is.
    bool deliver_next();
    // When the next thing happens on the board after now.
    std::optional<int> next_due() const;
    // Moves the clock on by up to ms until bytes are pending on the link.
    bool wait_for_data(sim_serial_link& link, int ms);
    // The adapter's modem lines, and the pins of a wired board that hang on them.
    void set_lines(const core::modem_lines& lines);

    chip_model chip;
    int now = 0;
    std::vector<sim_serial_link*> links;
    std::vector<manual_timer*> timers;

private:
    std::uint64_t last_seq_ = 0;
    bool dtr_ = false, rts_ = false;
};

class sim_serial_link : public core::serial_link {
public:
    explicit sim_serial_link(std::shared_ptr<board_core> board);
    ~sim_serial_link() override;
    sim_serial_link(const sim_serial_link&) = delete;
    sim_serial_link& operator=(const sim_serial_link&) = delete;

    bool open() override;
    void close() override;
    bool is_open() const override { return open_; }
    bool write(const core::byte_string& data) override;
    core::byte_string read_all() override;
    int pending() override;
    bool wait_for_data(int ms) override;
    std::string error_text() const override;
    // A dropped line is a board gone from the host's view, as a pseudo-terminal
    // whose other end closed or an adapter pulled out.
    bool gone() const override;
    int ms_since_write() const override;
    void set_threshold(int threshold) override;
    // Only a wired board's line has modem lines, which the driver asserts
    // when the port opens and lets go when it closes.
    bool set_modem_lines(const core::modem_lines& lines) override;
    void pause(int ms) override;

    // Board side: a write of the chip that has arrived.
    void arrive(core::byte_string bytes, event_key key);
    std::optional<event_key> next_notification() const;
    void deliver_notification();
    // Everything arrived becomes pending, without notifications.
    void take_arrived();
    bool has_pending() const { return !pending_.empty(); }

private:
    bool fail(const std::string& why);
    std::string port_name() const;

    struct arrival {
        event_key key;
        core::byte_string bytes;
    };

    std::shared_ptr<board_core> board_;
    bool open_ = false;
    bool gone_ = false;
    int written_ms_ = 0;
    std::string error_;
    core::byte_string pending_;
    std::deque<arrival> arrived_;  // writes of the chip still to be notified
};

class manual_timer : public core::ui_timer {
public:
    explicit manual_timer(std::shared_ptr<board_core> board);
    ~manual_timer() override;
    manual_timer(const manual_timer&) = delete;
    manual_timer& operator=(const manual_timer&) = delete;

    void start(int interval_ms) override;
    void stop() override { active_ = false; }
    bool active() const override { return active_; }

    std::optional<event_key> due() const;
    // Ticks, having first set the next period (the handler may stop or restart it).
    void fire();

private:
    std::shared_ptr<board_core> board_;
    bool active_ = false;
    int interval_ms_ = 0;
    event_key due_;
};

}  // namespace fernwick::sim
