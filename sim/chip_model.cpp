#include "chip_model.h"

#include <algorithm>

namespace fernwick::sim {
namespace {

constexpr std::int64_t k_micros_per_ms = 1000;
constexpr std::int64_t k_bits_per_byte = 10;  // start bit, 8 data bits, stop bit
constexpr std::int64_t k_reset_ms = 10;       // the shortest reset pulse the chip takes

// The ms at which something due at `at` (in µs) has happened.
int to_ms(std::int64_t at) { return static_cast<int>((at + k_micros_per_ms - 1) / k_micros_per_ms); }

}  // namespace

chip_model::chip_model(chip_config config)
    : config_(std::move(config)), faults_(config_.faults), loader_(config_), program_(config_, flash_, faults_)
{
    if (config_.wiring) loader_.run_own_program();
}

void chip_model::board_reset()
{
    loader_.reset();
    program_.restart();
    // The last byte the line carries is lost with the rest, and the line dies with it.
    const bool lost_last = std::ranges::any_of(input_, &incoming::last);
    input_.clear();
    std::erase_if(output_, [this](const outgoing& o) { return o.arrival > now_; });
    busy_until_ = now_;
    drop_at_.reset();
    if (lost_last) {
        drop_at_ = now_;
        drop_link();
    }
}

void chip_model::set_reset(bool held, bool bootstrap_pin, int now_ms)
{
    advance_to(now_ms);
    if (held && !in_reset_) reset_since_ = now_;
    // A pulse shorter than the chip's reset time resets nothing.
    if (!held && in_reset_ && now_ - reset_since_ >= k_reset_ms * k_micros_per_ms) {
        board_reset();
        if (!bootstrap_pin) loader_.run_own_program();
    }
    in_reset_ = held;
}

void chip_model::receive(std::string_view bytes, int now_ms) { receive_at(bytes, now_ms * k_micros_per_ms); }

void chip_model::receive_at(std::string_view bytes, micros now)
{
    advance_until(now);
    const auto last = config_.drop_at_byte;
    for (const char c : bytes) {
        if (in_reset_) {
            received_.push_back(c);
            continue;
        }
        // Bytes after the last one the line carries never reach the chip.
        if (dropped_ || (last && host_bytes_ == *last)) return;
        ++host_bytes_;
        received_.push_back(c);
        const micros arrival = std::max(now_, input_line_free_) + byte_time();
        input_line_free_ = arrival;
        input_.push_back({arrival, static_cast<std::uint8_t>(c), last && host_bytes_ == *last});
    }
}

void chip_model::advance_to(int now_ms) { advance_until(now_ms * k_micros_per_ms); }

void chip_model::advance_until(micros until)
{
    until = std::max(now_, until);
    while (!dropped_) {
        const auto at = next_byte_time();
        if (drop_at_ && *drop_at_ <= until && (!at || *drop_at_ <= *at)) {
            drop_link();
            break;
        }
        if (!at || *at > until) break;
        const auto byte = input_.front();
        input_.pop_front();
        take(byte, *at);
    }
    now_ = until;
}

std::vector<chip_write> chip_model::take_output(int now_ms) { return take_output_at(now_ms * k_micros_per_ms); }

std::vector<chip_write> chip_model::take_output_at(micros now)
{
    advance_until(now);
    std::vector<chip_write> arrived;
    while (!output_.empty() && output_.front().release <= now_) {
        arrived.push_back({to_ms(output_.front().release), std::move(output_.front().bytes)});
        output_.pop_front();
    }
    return arrived;
}

std::optional<int> chip_model::next_event_ms() const
{
    const auto next = next_event_at();
    if (!next) return std::nullopt;
    return std::max(to_ms(*next), to_ms(now_));
}

std::optional<chip_model::micros> chip_model::next_event_at() const
{
    // After a drop only answers that were on the line before it remain.
    std::optional<micros> next = next_reaction_time();
    const auto earliest = [&next](micros t) { next = next ? std::min(*next, t) : t; };
    if (!output_.empty()) earliest(output_.front().release);
    if (drop_at_) earliest(*drop_at_);
    if (!next) return std::nullopt;
    return std::max(*next, now_);
}

int chip_model::now_ms() const { return to_ms(now_); }

chip_phase chip_model::phase() const { return loader_.phase(); }

std::optional<chip_model::micros> chip_model::next_byte_time() const
{
    if (input_.empty()) return std::nullopt;
    return std::max(input_.front().arrival, busy_until_);
}

// The bytes before the next one the chip can react to (with an answer, a
// busy time, a dropped line) change nothing the host could see, so they are
// taken in passing when it is due: a board need not wake for every byte.
std::optional<chip_model::micros> chip_model::next_reaction_time() const
{
    if (input_.empty()) return std::nullopt;
    const bool resident = loader_.phase() == chip_phase::resident;
    const auto needed = resident ? program_.bytes_to_reaction(input_.front().value) : loader_.bytes_to_reaction();
    // Nothing follows the byte after which the line dies.
    const auto last = input_.back().last ? input_.size() : input_.size() + 1;
    const auto nth = std::min(needed == 0 ? last : needed, last);
    if (nth > input_.size()) return std::nullopt;
    return std::max(input_[nth - 1].arrival, busy_until_);
}

// The chip still acts on the last byte the line carries, but nothing it
// writes from the moment it takes that byte reaches the host.
void chip_model::take(const incoming& byte, micros at)
{
    const auto written = output_.size();
    process(byte.value, at);
    if (!byte.last) return;
    output_.erase(output_.begin() + static_cast<std::ptrdiff_t>(written), output_.end());
    drop_at_ = at;
    drop_link();
}

void chip_model::process(std::uint8_t byte, micros at)
{
    const bool resident = loader_.phase() == chip_phase::resident;
    const auto r = resident ? program_.feed(byte) : loader_.feed(byte);
    schedule(r, at);
    busy_until_ = at + r.busy_ms * k_micros_per_ms;
    if (r.drop_after_ms) drop_at_ = at + *r.drop_after_ms * k_micros_per_ms;
    if (r.back_to_bootstrap) {
        loader_.reset();
        program_.restart();
    }
}

void chip_model::schedule(const reaction& r, micros at)
{
    if (r.answer.empty()) return;
    if (config_.grouping == answer_grouping::joined) {
        core::byte_string all;
        int last_ms = 0;
        for (const auto& a : r.answer) {
            all.push_back(static_cast<char>(a.value));
            last_ms = std::max(last_ms, a.after_ms);
        }
        write(std::move(all), at + last_ms * k_micros_per_ms);
        return;
    }
    for (const auto& a : r.answer)
        write(core::byte_string(1, static_cast<char>(a.value)), at + a.after_ms * k_micros_per_ms);
}

void chip_model::write(core::byte_string bytes, micros ready)
{
    micros start = std::max(ready, output_line_free_);
    if (config_.grouping == answer_grouping::split && last_write_)
        start = std::max(start, *last_write_ + k_split_gap_ms * k_micros_per_ms);
    last_write_ = start;
    const micros arrival = start + static_cast<micros>(bytes.size()) * byte_time();
    output_line_free_ = arrival;
    const micros release = adapter_release(arrival, bytes.size());
    output_.push_back({arrival, release, std::move(bytes)});
}

// A write that finds the adapter's timer running joins what it holds; one
// that finds it idle starts the timer. A full packet goes at once, and with
// it everything held before.
chip_model::micros chip_model::adapter_release(micros arrival, std::size_t bytes)
{
    const int latency = config_.timing.adapter_latency_ms;
    if (latency <= 0) return arrival;
    if (!hold_ || arrival >= hold_->until) hold_ = adapter_hold{arrival + latency * k_micros_per_ms, 0};
    hold_->bytes += bytes;
    if (hold_->bytes < k_adapter_packet) return hold_->until;
    for (auto o = output_.rbegin(); o != output_.rend() && o->release == hold_->until; ++o) o->release = arrival;
    hold_.reset();
    return arrival;
}

void chip_model::drop_link()
{
    dropped_ = true;
    input_.clear();
    // What the adapter still held goes with it.
    std::erase_if(output_, [this](const outgoing& o) { return o.release > *drop_at_; });
    drop_at_.reset();
}

chip_model::micros chip_model::byte_time() const
{
    const int rate = config_.timing.line_rate;
    if (rate <= 0) return 0;
    return (k_bits_per_byte * 1'000'000 + rate - 1) / rate;
}

}  // namespace fernwick::sim
