#include "station/programming_flow.h"

#include <array>
#include <ostream>

#include "programming/programming_run.h"

namespace fernwick::station {

using core::app_state;

int run_programming_flow(app_state& s, const hex_choices& c, std::ostream& out, std::ostream& err,
                         const std::function<bool(core::app_state&)>& before_run)
{
    if (!choose_as_operator(s, c, err)) return 2;
    // Checked before the board was brought up too; the file may have
    // changed since.
    if (const auto why = nothing_to_program(s)) {
        err << "fernwick-cli program: " << *why << "\n";
        return 2;
    }
    if (s.prepared && s.prepared->sectors != sectors_on(s)) {
        err << "fernwick-cli program: " << c.hex_file << " changed since it was checked; nothing was sent\n";
        return 2;
    }
    if (before_run && !before_run(s)) {
        s.repaint_now();
        return 1;
    }
    s.repaint_now();  // the log so far, before the sectors line
    out << "Sectors: " << listed(sectors_on(s)) << "\n";
    programming::program_button_Click(s);
    switch (s.run.outcome) {
    case core::run_record::result::succeeded: return 0;
    case core::run_record::result::failed:
    case core::run_record::result::stopped: return 1;
    default: return 2;  // a conversion failure ends the run before anything is sent
    }
}

}  // namespace fernwick::station
