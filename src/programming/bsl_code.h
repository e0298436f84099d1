#pragma once
// The chip's bootstrap loader code that lives at offsets 0000h-005Fh of
// flash sector 0 or 2, as hex text of two characters per byte.

#include <string_view>

#include "core/app_state.h"

namespace fernwick::programming {

// The bsl_target value for keeping no code in flash; never a sector number.
inline constexpr int k_bsl_nowhere = core::k_nowhere;

// 64 bytes for offsets 0000h-003Fh.
inline constexpr std::string_view bsl_code_1 =
    "A55AA5A5E60940FAE60B40FAE60A0CFAE60800FA8AE2FEB06FA49AE2FEB06EA4"
    "F20748FE26072400E6F148005B11F25A0EFEAFE2AFE3E6D80180E658D5009AB6";

// 32 bytes for offsets 0040h-005Fh.
inline constexpr std::string_view bsl_code_2 = "FE707EB64FD8E6F040FA9AB7FE70A400B2FE7EB786F05FFA3DF8FA0040FACC00";

// The whole block at offset 0040h: bsl_code_2 followed by 32 zero bytes.
inline constexpr std::string_view bsl_code_2_block =
    "FE707EB64FD8E6F040FA9AB7FE70A400B2FE7EB786F05FFA3DF8FA0040FACC00"
    "0000000000000000000000000000000000000000000000000000000000000000";

static_assert(bsl_code_1.size() == 128 && bsl_code_2.size() == 64 && bsl_code_2_block.size() == 128);
static_assert(bsl_code_2_block.substr(0, 64) == bsl_code_2);

}  // namespace fernwick::programming
