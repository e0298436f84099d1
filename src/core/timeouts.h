#pragma once
// Time-outs that count from the moment written bytes have left the wire.

#include <cstddef>
#include <cstdlib>

#include "core/app_state.h"

namespace fernwick::core {

// The reply period after a write of n bytes at the chosen baud rate: the
// 2000 ms the chip has to answer, plus the time the bytes take on the line
// (the main program needs 2.1 s at 2400 baud before the chip can answer).
inline int reply_period_after(const app_state& s, std::size_t n)
{
    return k_reply_timeout_ms + line_time_ms(n, std::atoi(s.baud_rate.c_str()));
}

}  // namespace fernwick::core
