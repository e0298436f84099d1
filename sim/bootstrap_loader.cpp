#include "bootstrap_loader.h"

#include "bootstrap/loader_images.h"

namespace fernwick::sim {
namespace {

reaction acknowledge(const std::optional<std::uint8_t>& ack)
{
    reaction r;
    if (ack) r.answer.push_back({0, *ack});
    return r;
}

}  // namespace

bootstrap_loader::bootstrap_loader(const chip_config& config) : config_(config) {}

void bootstrap_loader::reset()
{
    phase_ = chip_phase::awaiting_zero;
    code_.clear();
    program_size_ = 0;
}

reaction bootstrap_loader::feed(std::uint8_t byte)
{
    switch (phase_) {
    case chip_phase::awaiting_zero: return take_zero(byte);
    case chip_phase::receiving_loader: return take_loader_byte(byte);
    case chip_phase::receiving_program: return take_program_byte(byte);
    case chip_phase::resident:
    case chip_phase::halted: break;
    }
    return {};
}

std::size_t bootstrap_loader::bytes_to_reaction() const
{
    switch (phase_) {
    case chip_phase::awaiting_zero: return 1;
    case chip_phase::receiving_loader: return bootstrap::k_first_loader_size - code_.size();
    case chip_phase::receiving_program: return program_size_ > code_.size() ? program_size_ - code_.size() : 1;
    case chip_phase::resident:
    case chip_phase::halted: break;
    }
    return 0;
}

bool bootstrap_loader::faulty() const { return !config_.faulty_bring_ups || bring_ups_ <= *config_.faulty_bring_ups; }

// The loader measures the line rate on the zero byte; any other first byte
// gives it a wrong rate: it answers its identification byte at that rate,
// which the host reads as another byte, and understands nothing after.
reaction bootstrap_loader::take_zero(std::uint8_t byte)
{
    if (byte != wire::zero) {
        phase_ = chip_phase::halted;
        reaction r;
        r.answer.push_back({0, k_wrong_rate_identification});
        return r;
    }
    phase_ = chip_phase::receiving_loader;
    ++bring_ups_;
    const auto id = faulty() ? config_.id_byte : wire::identification;
    reaction r;
    if (faulty() && config_.echo_zero) r.answer.push_back({0, wire::zero});
    if (id) r.answer.push_back({0, *id});
    return r;
}

reaction bootstrap_loader::take_loader_byte(std::uint8_t byte)
{
    code_.push_back(static_cast<char>(byte));
    if (code_.size() < bootstrap::k_first_loader_size) return {};
    if (code_ != bootstrap::first_loader_bytes()) {
        phase_ = chip_phase::halted;
        return {};
    }
    program_size_ = bootstrap::first_loader_count(code_);
    code_.clear();
    phase_ = chip_phase::receiving_program;
    return acknowledge(faulty() ? config_.loader_ack : wire::loader_ack);
}

reaction bootstrap_loader::take_program_byte(std::uint8_t byte)
{
    code_.push_back(static_cast<char>(byte));
    if (code_.size() < program_size_) return {};
    if (code_ != bootstrap::main_program_bytes()) {
        phase_ = chip_phase::halted;
        return {};
    }
    code_.clear();
    phase_ = chip_phase::resident;
    return acknowledge(faulty() ? config_.program_ack : wire::program_ack);
}

}  // namespace fernwick::sim
