#pragma once
// "Program Flash": conversion, then the flash exchanges sector by sector.

#include "core/app_state.h"

namespace fernwick::programming {

void program_button_Click(core::app_state& s);

}  // namespace fernwick::programming
