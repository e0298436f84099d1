#include <algorithm>

#include "board_core.h"
#include "sim_link.h"

namespace fernwick::sim {

sim_serial_link* board_core::port_holder() const
{
    const auto it = std::find_if(links.begin(), links.end(), [](const auto* l) { return l->is_open(); });
    return it == links.end() ? nullptr : *it;
}

// Writes that arrive while no link holds the port are lost, as on a real line.
void board_core::collect()
{
    auto* holder = port_holder();
    for (auto& w : chip.take_output(now)) {
        const event_key key{w.arrival_ms, next_seq()};
        if (holder && !chip.link_dropped()) holder->arrive(std::move(w.bytes), key);
    }
}

bool board_core::deliver_next()
{
    collect();
    std::optional<event_key> earliest;
    sim_serial_link* link = nullptr;
    manual_timer* timer = nullptr;
    const auto consider = [&](std::optional<event_key> key, sim_serial_link* l, manual_timer* t) {
        if (!key || key->due_ms > now || (earliest && *earliest <= *key)) return;
        earliest = key;
        link = l;
        timer = t;
    };
    for (auto* l : links) consider(l->next_notification(), l, nullptr);
    for (auto* t : timers) consider(t->due(), nullptr, t);
    if (link) link->deliver_notification();
    if (timer) timer->fire();
    return earliest.has_value();
}

std::optional<int> board_core::next_due() const
{
    std::optional<int> next = chip.next_event_ms();
    const auto earliest = [&next](std::optional<event_key> key) {
        if (key) next = next ? std::min(*next, key->due_ms) : key->due_ms;
    };
    for (const auto* l : links) earliest(l->next_notification());
    for (const auto* t : timers) earliest(t->due());
    return next;
}

bool board_core::wait_for_data(sim_serial_link& link, int ms)
{
    const int end = now + ms;
    for (;;) {
        collect();
        link.take_arrived();
        if (link.has_pending()) return true;
        const auto next = chip.next_event_ms();
        if (!next || *next > end) break;
        now = std::max(now, *next);
    }
    now = end;
    return false;
}

void board_core::set_lines(const core::modem_lines& lines)
{
    dtr_ = lines.dtr.value_or(dtr_);
    rts_ = lines.rts.value_or(rts_);
    const auto& wiring = *chip.config().wiring;
    const auto level = [this](modem_line line) { return line == modem_line::dtr ? dtr_ : rts_; };
    const bool boot = !wiring.boot || level(*wiring.boot) == wiring.boot_level;
    chip.set_reset(level(wiring.reset) == wiring.reset_level, boot, now);
}

sim_board::sim_board(chip_config config) : core_(std::make_shared<board_core>(std::move(config))) {}

sim_board::~sim_board() = default;

core::platform sim_board::platform()
{
    return {[core = core_] { return std::make_unique<sim_serial_link>(core); },
            [core = core_] { return std::make_unique<manual_timer>(core); }};
}

void sim_board::run_for(int ms)
{
    const int end = core_->now + ms;
    pump();
    for (auto next = core_->next_due(); next && *next <= end; next = core_->next_due()) {
        core_->now = std::max(core_->now, *next);
        pump();
    }
    core_->now = end;
    pump();
}

void sim_board::pump()
{
    while (core_->deliver_next()) {}
}

int sim_board::now_ms() const { return core_->now; }

chip_model& sim_board::chip() { return core_->chip; }

const core::byte_string& sim_board::received() const { return core_->chip.received(); }

}  // namespace fernwick::sim
