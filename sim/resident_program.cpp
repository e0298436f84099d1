#include "resident_program.h"

namespace fernwick::sim {
namespace {

constexpr std::size_t k_block_command_size = 4 + k_block_size;  // command, segment, address high, low

reaction single_answer(std::uint8_t byte)
{
    reaction r;
    r.answer.push_back({0, byte});
    return r;
}

// The sector named by the second byte of a status or erase command.
std::optional<int> sector_in(std::uint8_t byte, std::uint8_t base)
{
    if (byte < base || byte >= base + k_sector_count) return std::nullopt;
    return byte - base;
}

}  // namespace

std::uint8_t checksum_of(const std::vector<std::uint8_t>& bytes)
{
    unsigned sum = 0;
    for (const auto b : bytes) sum += b;
    return static_cast<std::uint8_t>(256 - sum % 256);
}

resident_program::resident_program(const chip_config& config, flash_memory& flash, fault_plan& faults)
    : config_(config), flash_(flash), faults_(faults)
{
}

reaction resident_program::feed(std::uint8_t byte)
{
    if (command_.empty()) return start_command(byte);
    command_.push_back(byte);
    const auto first = command_.front();
    if (first == wire::status_command) return read_status(byte);
    if (first == wire::erase_command) return erase(byte);
    if (command_.size() < k_block_command_size) return {};
    return program_block();
}

std::size_t resident_program::bytes_to_reaction(std::uint8_t next) const
{
    const auto command = command_.empty() ? next : command_.front();
    if (command == wire::block_command) return k_block_command_size - command_.size();
    if (command == wire::status_command || command == wire::erase_command) return 2 - command_.size();
    return 1;
}

reaction resident_program::start_command(std::uint8_t byte)
{
    switch (byte) {
    case wire::status_command:
    case wire::erase_command:
    case wire::block_command: command_.push_back(byte); return {};
    case wire::reset_command: return reset_chip();
    default: return single_answer(wire::command_error);
    }
}

// A chip that answers anything but 12h, or nothing, has not reset.
reaction resident_program::reset_chip()
{
    const auto fault = faults_.next(exchange_kind::reset);
    auto r = exchange_answer(fault, {}, 0, wire::reset_ack);
    r.back_to_bootstrap = carried_out(fault);
    return r;
}

reaction resident_program::read_status(std::uint8_t sector_byte)
{
    const auto bytes = command_;
    command_.clear();
    const auto sector = sector_in(sector_byte, wire::status_command);
    if (!sector) return single_answer(wire::operand_error);
    const auto fault = faults_.next(exchange_kind::status);
    const auto& reg = config_.sector_status[static_cast<std::size_t>(*sector)];
    return exchange_answer(fault, {reg[0], reg[1], checksum_of(bytes)}, 0, wire::done);
}

reaction resident_program::erase(std::uint8_t sector_byte)
{
    const auto bytes = command_;
    command_.clear();
    const auto sector = sector_in(sector_byte, wire::erase_command);
    if (!sector) return single_answer(wire::operand_error);
    const auto fault = faults_.next(exchange_kind::erase);
    int work_ms = 0;
    if (carried_out(fault)) {
        flash_.erase(*sector);
        work_ms = config_.timing.erase_ms;
    }
    return exchange_answer(fault, {checksum_of(bytes)}, work_ms, wire::done);
}

reaction resident_program::program_block()
{
    const auto bytes = command_;
    command_.clear();
    const auto fault = faults_.next(exchange_kind::block);
    const int segment = bytes[1];
    const int offset = bytes[2] * 256 + bytes[3];
    std::uint8_t status = wire::done;
    int work_ms = 0;
    if (carried_out(fault)) {
        status = flash_.program(segment, offset, std::span(bytes).subspan(4));
        if (status == wire::done) work_ms = config_.timing.program_ms;
    }
    return exchange_answer(fault, {checksum_of(bytes)}, work_ms, status);
}

}  // namespace fernwick::sim
