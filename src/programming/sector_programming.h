#pragma once
// The procedures of the confirmation window that talk to the chip: saving
// the bootstrap loader code into sector 0 or 2, and erasing and programming
// one sector from the ".NEW" block file. Input `current_sector`, output
// `flash_error`.

#include "core/app_state.h"

namespace fernwick::programming {

void save_bsl_code(core::app_state& s);
void program_sector(core::app_state& s);

// How many block records of each sector the ".NEW" file holds (for the
// progress display); unreadable lines count for none.
std::array<int, 4> count_blocks(const std::string& new_file_name);

}  // namespace fernwick::programming
