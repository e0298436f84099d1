#pragma once
// The procedures of the confirmation window that talk to the chip: saving
// the bootstrap loader code into sector 0 or 2, and erasing and programming
// one sector from the block records of the run's conversion
// (`new_file_text`). Input `current_sector`, output `flash_error`.

#include "core/app_state.h"

namespace fernwick::programming {

void save_bsl_code(core::app_state& s);
void program_sector(core::app_state& s);

}  // namespace fernwick::programming
