#pragma once
// A serial link that counts the bytes passing through another one, for the
// summary of a programming run and the advice on a chip that said nothing.

#include "core/forwarding_link.h"

namespace fernwick::station {

class counting_link : public core::forwarding_link {
public:
    using forwarding_link::forwarding_link;

    bool write(const core::byte_string& data) override
    {
        const bool ok = forwarding_link::write(data);
        if (ok) sent += data.size();
        return ok;
    }
    core::byte_string read_all() override
    {
        auto data = forwarding_link::read_all();
        received += data.size();
        return data;
    }

    std::size_t sent = 0;
    std::size_t received = 0;
};

}  // namespace fernwick::station
