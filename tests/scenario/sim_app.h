#pragma once
// An app_state wired to the in-process simulated board, brought up to the
// command phase, and the steps of a programming run as the operator takes them.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <numeric>
#include <string>
#include <vector>

#include "bootstrap/reset_step.h"
#include "programming/bsl_code.h"
#include "programming/flow.h"
#include "programming/programming_run.h"
#include "shell/events.h"
#include "sim_link.h"
#include "support_fakes.h"

namespace fernwick::test_support {

// An Intel-Hex record with its checksum.
inline std::string hex_record(int type, int offset, const std::vector<int>& bytes)
{
    std::vector<int> all = {static_cast<int>(bytes.size()), offset >> 8, offset & 0xFF, type};
    all.insert(all.end(), bytes.begin(), bytes.end());
    all.push_back((256 - std::accumulate(all.begin(), all.end(), 0) % 256) % 256);
    std::string line = ":";
    for (const int b : all) line += {"0123456789ABCDEF"[b >> 4], "0123456789ABCDEF"[b & 15]};
    return line;
}

inline std::string linear_segment(int segment) { return hex_record(4, 0, {0, segment}); }

inline std::string write_hex(const std::filesystem::path& file, const std::vector<std::string>& lines)
{
    return test::write_lines(file, lines);
}

struct sim_app {
    explicit sim_app(sim::chip_config config = {}) : board(std::move(config)), state(board.platform())
    {
        core::StartModul(state);
        shell::connect_events(state, {});
        bootstrap::RESET_OK_Click(state);
        // A board that paces its line takes the bring-up's 543 bytes at its rate.
        for (int ms = 0; ms < 3000 && !state.mainform.program_.visible; ms += 10) board.run_for(10);
    }

    // Load Hex-File, the three choices, OK (and the warning's OK).
    void choose(const std::string& hex_file, int bsl_now, int bsl_target, int sector0_segment = 0)
    {
        using namespace programming;
        load_hex__Click(state, hex_file);
        (bsl_now == 0 ? sect0_Click : bsl_now == 2 ? sect2_Click : external_Click)(state);
        (bsl_target == 0 ? Option1_Click : bsl_target == 2 ? Option2_Click : Option3_Click)(state);
        (sector0_segment == 0 ? seg0_Click : seg1_Click)(state);
        LocationForm_Command1_Click(state);
        if (state.Warning.visible) Warning_Command1_Click(state);
    }

    // The boxes, where the rules let the operator change them.
    void tick_only(const std::vector<int>& sectors)
    {
        for (int box = 0; box < 4; ++box)
            if (state.ConfirmForm.sector[box].enabled)
                programming::set_check_value(state, box, std::count(sectors.begin(), sectors.end(), box) ? 1 : 0);
    }

    sim::sim_board board;
    core::app_state state;
};

// The exchanges the chip received, "E2" an erase, "B1:8000" a block at
// segment 1, offset 8000h, one blank between them.
inline std::string exchanges(const core::byte_string& wire)
{
    std::string seen;
    const auto byte = [&](std::size_t k) { return k < wire.size() ? static_cast<std::uint8_t>(wire[k]) : 0; };
    char text[16];
    for (std::size_t i = 0; i < wire.size(); i += byte(i) == 0x20 ? 2 : 68) {
        if (byte(i) == 0x20)
            std::snprintf(text, sizeof text, " E%d", byte(i + 1) - 0x20);
        else
            std::snprintf(text, sizeof text, " B%d:%02X%02X", byte(i + 1), byte(i + 2), byte(i + 3));
        seen += text;
    }
    return seen.empty() ? seen : seen.substr(1);
}

// The 96 bytes of the bootstrap loader code as they lie in flash.
inline std::vector<std::uint8_t> bsl_code_bytes()
{
    const std::string hex = std::string(programming::bsl_code_1) + std::string(programming::bsl_code_2);
    std::vector<std::uint8_t> code;
    for (std::size_t i = 0; i < hex.size(); i += 2)
        code.push_back(static_cast<std::uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return code;
}

inline bool holds_bsl_code(sim::sim_board& board, int sector)
{
    const auto code = bsl_code_bytes();
    return std::equal(code.begin(), code.end(), board.chip().flash().sector(sector).begin());
}

}  // namespace fernwick::test_support
