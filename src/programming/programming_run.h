#pragma once
// "Program Flash": conversion, then the flash exchanges sector by sector.

#include <array>
#include <vector>

#include "core/app_state.h"

namespace fernwick::programming {

// A save writes the bootstrap loader code into a sector it has erased: two blocks.
inline constexpr int k_saved_code_blocks = 2;

struct run_step {
    enum class kind { save, program };
    kind what;
    int sector;
};

// The steps of a run over the chosen sectors, in the order it takes them: 1,
// 3, then 0 and 2 in the order that keeps the bootstrap loader code in flash.
std::vector<run_step> run_steps(const std::array<bool, 4>& sectors, int bsl_now, int bsl_target);

void program_button_Click(core::app_state& s);

}  // namespace fernwick::programming
