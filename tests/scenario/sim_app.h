#pragma once
// An app_state wired to the in-process simulated board, brought up to the
// command phase, and the steps of a programming run as the operator takes them.

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
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
    int sum = static_cast<int>(bytes.size()) + (offset >> 8) + (offset & 0xFF) + type;
    char head[16];
    std::snprintf(head, sizeof head, ":%02X%04X%02X", static_cast<int>(bytes.size()), offset, type);
    std::string line = head;
    for (const int b : bytes) {
        char two[3];
        std::snprintf(two, sizeof two, "%02X", b);
        line += two;
        sum += b;
    }
    char check[3];
    std::snprintf(check, sizeof check, "%02X", (256 - sum % 256) % 256);
    return line + check;
}

inline std::string linear_segment(int segment) { return hex_record(4, 0, {0, segment}); }

struct sim_app {
    explicit sim_app(sim::chip_config config = {}) : board(std::move(config)), state(board.platform())
    {
        core::StartModul(state);
        shell::connect_events(state, {});
        bootstrap::RESET_OK_Click(state);
        board.run_for(100);
    }

    bool command_phase() const { return state.mainform.program_.visible; }

    // Load Hex-File, the three choices, OK (and the warning's OK).
    void choose(const std::string& hex_file, int bsl_now, int bsl_target, int sector0_segment = 0)
    {
        programming::load_hex__Click(state, hex_file);
        using namespace programming;
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

    // What the chip received from the start of the programming run on.
    core::byte_string received_since(std::size_t mark) const { return board.received().substr(mark); }

    sim::sim_board board;
    core::app_state state;
};

inline std::string write_hex(const std::filesystem::path& file, const std::vector<std::string>& lines)
{
    return test::write_lines(file, lines);
}

inline std::vector<std::uint8_t> bytes_of(std::string_view hex)
{
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes.push_back(static_cast<std::uint8_t>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16)));
    return bytes;
}

// The 96 bytes of the bootstrap loader code as they lie in flash.
inline std::vector<std::uint8_t> bsl_code_bytes()
{
    auto code = bytes_of(programming::bsl_code_1);
    const auto second = bytes_of(programming::bsl_code_2);
    code.insert(code.end(), second.begin(), second.end());
    return code;
}

inline bool holds_bsl_code(const sim::sim_board& board, int sector)
{
    const auto code = bsl_code_bytes();
    const auto flash = const_cast<sim::sim_board&>(board).chip().flash().sector(sector);
    return std::equal(code.begin(), code.end(), flash.begin());
}

}  // namespace fernwick::test_support
