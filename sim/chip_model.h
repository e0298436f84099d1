#pragma once
// A simulated Mirel chip on the far end of a serial line: its bootstrap
// loader, the downloaded resident program and its flash, with a clock of its
// own in ms. Pure code: the caller moves bytes and time in and out.

#include <cstdint>
#include <deque>
#include <optional>
#include <string_view>
#include <vector>

#include "bootstrap_loader.h"
#include "chip_config.h"
#include "core/serial_link.h"
#include "fault_plan.h"
#include "flash_memory.h"
#include "resident_program.h"

namespace fernwick::sim {

// Bytes the chip wrote together, complete at the host at arrival_ms.
struct chip_write {
    int arrival_ms = 0;
    core::byte_string bytes;
};

class chip_model {
public:
    using micros = std::int64_t;

    explicit chip_model(chip_config config = {});
    chip_model(const chip_model&) = delete;
    chip_model& operator=(const chip_model&) = delete;

    // The reset pin: back to the bootstrap loader; what was still to be sent is lost.
    void board_reset();
    // The reset pin held or let go at now_ms, as modem lines drive it. Held,
    // the chip takes no byte; let go after 10 ms or more, it starts its
    // bootstrap loader when the bootstrap-mode pin is active, else its own
    // program, which answers nothing.
    void set_reset(bool held, bool bootstrap_pin, int now_ms);
    // The line's baud rate from now on (0: bytes take no time), as when the
    // host sets another rate on its port.
    void set_line_rate(int baud) { config_.timing.line_rate = baud; }
    // Host-to-chip bytes that the host writes at now_ms.
    void receive(std::string_view bytes, int now_ms);
    // Lets the chip work on everything it has received up to now_ms.
    void advance_to(int now_ms);
    // The writes that have fully reached the host by now_ms, oldest first.
    std::vector<chip_write> take_output(int now_ms);
    // When the chip next takes a byte, completes a write or drops the link.
    std::optional<int> next_event_ms() const;
    // The same three to the microsecond, for a board on a real clock.
    void receive_at(std::string_view bytes, micros now);
    std::vector<chip_write> take_output_at(micros now);
    std::optional<micros> next_event_at() const;

    // The chip's clock: the latest time it was given.
    int now_ms() const;
    chip_phase phase() const;
    const chip_config& config() const { return config_; }
    const flash_memory& flash() const { return flash_; }
    flash_memory& flash() { return flash_; }
    // Every byte the host has written to the chip, in order.
    const core::byte_string& received() const { return received_; }
    bool link_dropped() const { return dropped_; }

private:
    struct incoming {
        micros arrival;
        std::uint8_t value;
        bool last = false;  // the line goes dead once the chip has it
    };
    struct outgoing {
        micros arrival;  // at the host's adapter
        micros release;  // when the adapter hands it on
        core::byte_string bytes;
    };
    // What the adapter holds back: its latency timer runs out at `until`.
    struct adapter_hold {
        micros until;
        std::size_t bytes;
    };

    std::optional<micros> next_byte_time() const;
    std::optional<micros> next_reaction_time() const;
    micros adapter_release(micros arrival, std::size_t bytes);
    void process(std::uint8_t byte, micros at);
    void schedule(const reaction& r, micros at);
    void write(core::byte_string bytes, micros ready);
    void drop_link();
    void take(const incoming& byte, micros at);
    void advance_until(micros until);
    micros byte_time() const;

    chip_config config_;
    flash_memory flash_;
    fault_plan faults_;
    bootstrap_loader loader_;
    resident_program program_;
    std::deque<incoming> input_;
    std::deque<outgoing> output_;
    core::byte_string received_;
    std::uint64_t host_bytes_ = 0;  // over the chip's whole life, for drop_at_byte
    micros now_ = 0;
    micros input_line_free_ = 0;
    micros output_line_free_ = 0;
    std::optional<micros> last_write_;
    std::optional<adapter_hold> hold_;
    micros busy_until_ = 0;
    std::optional<micros> drop_at_;
    bool dropped_ = false;
    bool in_reset_ = false;
    micros reset_since_ = 0;
};

}  // namespace fernwick::sim
