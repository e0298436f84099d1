#include "app/cli_program.h"

#include <array>
#include <ostream>

#include "programming/programming_run.h"

namespace fernwick::app {

using core::app_state;

namespace {

std::string chosen_sectors(const app_state& s)
{
    std::string list;
    const core::flag on[] = {s.sector0_on, s.sector1_on, s.sector2_on, s.sector3_on};
    for (int n = 0; n < 4; ++n)
        if (on[n]) list += (list.empty() ? "" : ",") + std::to_string(n);
    return list;
}

}  // namespace

int run_programming_flow(app_state& s, const hex_choices& c, std::ostream& out, std::ostream& err)
{
    if (!choose_as_operator(s, c, err)) return 2;
    // Checked before the board was brought up too; the file may have
    // changed since.
    if (const auto why = nothing_to_program(s)) {
        err << "fernwick-cli program: " << *why << "\n";
        return 2;
    }
    if (s.prepared && s.prepared->sectors != std::array<bool, 4>{s.sector0_on != 0, s.sector1_on != 0,
                                                                 s.sector2_on != 0, s.sector3_on != 0}) {
        err << "fernwick-cli program: " << c.hex_file << " changed since it was checked; nothing was sent\n";
        return 2;
    }
    s.repaint_now();  // the log so far, before the sectors line
    out << "Sectors: " << chosen_sectors(s) << "\n";
    programming::program_button_Click(s);
    switch (s.run.outcome) {
    case core::run_record::result::succeeded: return 0;
    case core::run_record::result::failed:
    case core::run_record::result::stopped: return 1;
    default: return 2;  // a conversion failure ends the run before anything is sent
    }
}

}  // namespace fernwick::app
