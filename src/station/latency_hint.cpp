#include "station/latency_hint.h"

#include <iomanip>
#include <ostream>

#include "core/port_names.h"

namespace fernwick::station {

void print_latency_hint(std::ostream& out, const std::vector<board_outcome>& boards)
{
    bool said = false;
    for (const auto& b : boards) {
        if (!b.answer_delay_ms || *b.answer_delay_ms < k_late_answer_ms) continue;
        if (!said)
            out << "The chip's answers came late, beyond the line time and the chip's time (on average over the "
                   "first blocks): a USB serial adapter holds them back until its latency timer runs out. Set the "
                   "timer to 1 ms:\n";
        said = true;
        out << "  " << b.device << " (" << std::fixed << std::setprecision(1) << *b.answer_delay_ms
            << " ms late): echo 1 | sudo tee " << core::latency_timer_file(b.device) << "\n";
    }
    if (!said) return;
    out << "and for every such adapter from now on, a udev rule (a line in "
           "/etc/udev/rules.d/99-serial-latency.rules):\n"
        << "  ACTION==\"add\", SUBSYSTEM==\"usb-serial\", DRIVER==\"ftdi_sio\", ATTR{latency_timer}=\"1\"\n";
}

}  // namespace fernwick::station
