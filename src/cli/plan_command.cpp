#include "cli/plan_command.h"

#include <array>
#include <cmath>
#include <ostream>
#include <sstream>

#include "bootstrap/loader_images.h"
#include "core/progress_text.h"
#include "programming/block_layout.h"
#include "programming/block_record.h"
#include "programming/flash_exchange.h"

namespace fernwick::cli {

namespace {

using programming::run_step;

constexpr int k_failed = 2;
constexpr int k_bits_per_byte = 10;                           // start bit, 8 data bits, stop bit
constexpr int k_erase_bytes = 2;                              // 20h, 20h + n
constexpr int k_block_bytes = 4 + programming::k_block_size;  // 33h, segment, address high and low, the data
constexpr int k_answer_bytes = 2;                             // checksum and status
// The zero byte, the first-level loader and the main program; back come the
// identification byte and the two acknowledges.
constexpr long long k_bring_up_out = 1 + bootstrap::k_first_loader_size + bootstrap::k_main_program_size;
constexpr long long k_bring_up_back = 3;

// The run sends a sector's blocks from the block file, which holds the
// chosen sectors only.
std::array<int, 4> blocks_per_sector(const std::string& block_text)
{
    std::array<int, 4> blocks{};
    std::istringstream lines(block_text);
    for (std::string line; std::getline(lines, line);) {
        const auto record = programming::read_block_record(line);
        if (record && record->sector >= 0 && record->sector < 4) ++blocks[static_cast<std::size_t>(record->sector)];
    }
    return blocks;
}

double line_seconds(long long bytes, int baud) { return static_cast<double>(bytes) * k_bits_per_byte / baud; }

// An adapter's latency timer, started by the first byte of an answer it
// holds, lets the answer go when it runs out: a status byte `gap_ms` behind
// the checksum goes with it when it comes before, a whole timer after its
// own coming when it comes later. The bring-up's answers are single bytes.
double held_ms(double gap_ms, int latency_ms)
{
    if (latency_ms <= 0) return 0;
    return gap_ms < latency_ms ? latency_ms - gap_ms : latency_ms;
}

// The wait after each step for a byte that should not come lasts until the
// answer to its last command could have come at the chip's typical times,
// and k_settle_ms more: beyond the answer, that margin.
constexpr int k_late_byte_check_ms = programming::k_settle_ms;

std::string step_line(const planned_step& p)
{
    const std::string sector = std::to_string(p.step.sector);
    if (p.step.what == run_step::kind::save)
        return "save the bootstrap loader code in sector " + sector + " (erase, " + std::to_string(p.blocks) +
               " blocks)";
    if (p.blocks == 0) return "erase sector " + sector + " (no blocks for it)";
    const std::string blocks = std::to_string(p.blocks) + (p.blocks == 1 ? " block" : " blocks");
    return "erase and program sector " + sector + ": " + blocks;
}

std::string rounded(double seconds) { return core::duration_text(static_cast<int>(std::lround(seconds))); }

// Their waits are not in the estimate, which counts from the zero byte to the run's end.
void print_sequences(const core::bench_setup& bench, std::ostream& out)
{
    if (bench.entry.empty() && bench.exit.empty()) return;
    out << "Modem lines:\n";
    if (!bench.entry.empty())
        out << "  entry before each zero byte (" << bench.entry.wait_ms()
            << " ms): " << core::sequence_text(bench.entry) << "\n";
    if (!bench.exit.empty())
        out << "  exit after a run that succeeded (" << bench.exit.wait_ms()
            << " ms): " << core::sequence_text(bench.exit) << "\n";
}

void print_plan(const std::string& hex_file, int baud, const run_estimate& e, std::ostream& out)
{
    out << "Plan for " << hex_file << " at " << baud << " baud (no board is touched):\n"
        << "  bring-up: " << k_bring_up_out << " bytes out, " << k_bring_up_back << " back\n";
    for (const auto& step : e.steps) out << "  " << step_line(step) << "\n";
    out << "  sectors erased: " << e.erases << ", blocks: " << e.blocks << "\n"
        << "  estimated time: " << rounded(e.seconds) << " (line " << rounded(e.line_seconds) << ", erase " << e.erases
        << " x " << k_typical_erase_ms << " ms, program " << e.blocks << " x " << k_typical_program_ms
        << " ms, late-byte checks " << e.erases << " x " << k_late_byte_check_ms << " ms"
        << (e.adapter_latency_ms > 0 ? ", answers held by the adapter " + rounded(e.held_seconds) : "") << ")\n"
        << "Assumptions:\n"
        << "  the line carries " << k_bits_per_byte << " bits per byte both ways at " << baud << " baud\n"
        << "  the chip erases a sector in " << k_typical_erase_ms << " ms and programs a block in "
        << k_typical_program_ms << " ms (typical times)\n";
    if (e.adapter_latency_ms > 0)
        out << "  a USB adapter's latency timer of " << e.adapter_latency_ms
            << " ms holds each answer until it runs out\n"
            << "  no time is counted for opening the port or the operator\n";
    else
        out << "  no time is counted for opening the port, a USB adapter's latency or the operator\n";
}

// What the run leaves out, where the plan shows it before a shift.
void print_left_out_of_plan(const plan& p, std::ostream& out)
{
    if (p.unplaced.empty() && p.not_chosen.empty()) return;
    out << "Left out:\n";
    if (!p.unplaced.empty()) out << "  " << p.unplaced_summary << " (--allow-unplaced):\n";
    for (const auto& line : p.unplaced) out << "    " << line << "\n";
    for (const auto& line : p.not_chosen) out << "  " << line << "\n";
}

}  // namespace

run_estimate estimate_run(const plan& p, const hex_choices& c, int baud, int adapter_latency_ms)
{
    run_estimate e;
    const auto blocks = blocks_per_sector(p.conversion.block_text);
    for (const auto& step : programming::run_steps(p.sectors, c.bsl_now, c.bsl_target)) {
        const bool save = step.what == run_step::kind::save;
        const int sector_blocks = blocks[static_cast<std::size_t>(step.sector)];
        e.steps.push_back({step, save ? programming::k_saved_code_blocks : sector_blocks});
        e.blocks += e.steps.back().blocks;
    }
    e.erases = static_cast<int>(e.steps.size());
    e.bytes_out = k_bring_up_out + static_cast<long long>(e.erases) * k_erase_bytes +
                  static_cast<long long>(e.blocks) * k_block_bytes;
    e.bytes_back = k_bring_up_back + static_cast<long long>(e.erases + e.blocks) * k_answer_bytes;
    const double byte_ms = line_seconds(1, baud) * 1000;
    const double bring_up_held = k_bring_up_back * held_ms(0, adapter_latency_ms) / 1000;
    e.adapter_latency_ms = adapter_latency_ms;
    e.held_seconds = bring_up_held + (e.erases * held_ms(k_typical_erase_ms + byte_ms, adapter_latency_ms) +
                                      e.blocks * held_ms(k_typical_program_ms + byte_ms, adapter_latency_ms)) /
                                         1000;
    e.bring_up_seconds = line_seconds(k_bring_up_out + k_bring_up_back, baud) + bring_up_held;
    e.line_seconds = line_seconds(e.bytes_out + e.bytes_back, baud);
    e.chip_seconds = (e.erases * k_typical_erase_ms + e.blocks * k_typical_program_ms) / 1000.0;
    e.check_seconds = e.erases * k_late_byte_check_ms / 1000.0;
    e.seconds = e.line_seconds + e.chip_seconds + e.check_seconds + e.held_seconds;
    return e;
}

int run_plan(const hex_choices& c, int baud, const core::bench_setup& bench, int adapter_latency_ms, std::ostream& out,
             std::ostream& err)
{
    const plan p = make_plan(c, err);
    if (!p.refusal.empty()) {
        print_refusal(err, "plan", p);
        return k_failed;
    }
    print_plan(c.hex_file, baud, estimate_run(p, c, baud, adapter_latency_ms), out);
    print_sequences(bench, out);
    print_left_out_of_plan(p, out);
    return 0;
}

}  // namespace fernwick::cli
