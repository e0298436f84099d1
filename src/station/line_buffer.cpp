#include "station/line_buffer.h"

#include <utility>

namespace fernwick::station {

void line_buffer::finish()
{
    if (!pending_.empty()) line_(std::exchange(pending_, {}));
}

line_buffer::int_type line_buffer::overflow(int_type c)
{
    if (c == traits_type::eof()) return traits_type::not_eof(c);
    if (c == '\n')
        line_(std::exchange(pending_, {}));
    else
        pending_ += static_cast<char>(c);
    return c;
}

}  // namespace fernwick::station
