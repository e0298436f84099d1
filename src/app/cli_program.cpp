#include "app/cli_program.h"

#include <algorithm>
#include <ostream>

#include "programming/flow.h"
#include "programming/programming_run.h"

namespace fernwick::app {

using core::app_state;

namespace {

const char* const k_warning_text =
    "If you don't include the bootstrap loader code either in Sector 0 or Segment 2 you won't be able to "
    "reprogram the Flash memory again if no external bootstrap loader support exists";

std::optional<std::int16_t> location(const std::string& text, bool segment)
{
    if (segment) {
        if (text == "0" || text == "1") return static_cast<std::int16_t>(text[0] - '0');
        return std::nullopt;
    }
    if (text == "0" || text == "2") return static_cast<std::int16_t>(text[0] - '0');
    if (text == "-99") return core::k_nowhere;
    return std::nullopt;
}

std::optional<std::vector<int>> sector_list(const std::string& text)
{
    std::vector<int> sectors;
    if (text.empty()) return sectors;
    for (std::size_t i = 0; i < text.size(); i += 2) {
        if (text[i] < '0' || text[i] > '3' || (i + 1 < text.size() && text[i + 1] != ',')) return std::nullopt;
        sectors.push_back(text[i] - '0');
    }
    if (text.back() == ',') return std::nullopt;
    return sectors;
}

void choose_locations(app_state& s, const program_options& o)
{
    using namespace programming;
    (o.bsl_now == 0 ? sect0_Click : o.bsl_now == 2 ? sect2_Click : external_Click)(s);
    (o.bsl_target == 0 ? Option1_Click : o.bsl_target == 2 ? Option2_Click : Option3_Click)(s);
    (o.sector0_segment == 0 ? seg0_Click : seg1_Click)(s);
}

// Sets the boxes to the list through the box handling; a locked box keeps
// its state, as it would for the operator.
void choose_sectors(app_state& s, const std::vector<int>& wanted, std::ostream& err)
{
    for (int box = 0; box < 4; ++box) {
        const int value = std::find(wanted.begin(), wanted.end(), box) != wanted.end() ? 1 : 0;
        const auto& check = s.ConfirmForm.sector[box];
        if (check.enabled)
            programming::set_check_value(s, box, value);
        else if (check.value != value)
            err << "fernwick-cli: sector " << box << " is locked " << (check.value ? "on" : "off")
                << " by the bootstrap-code rules; it stays so\n";
    }
}

std::string chosen_sectors(const app_state& s)
{
    std::string list;
    const core::flag on[] = {s.sector0_on, s.sector1_on, s.sector2_on, s.sector3_on};
    for (int n = 0; n < 4; ++n)
        if (on[n]) list += (list.empty() ? "" : ",") + std::to_string(n);
    return list;
}

}  // namespace

std::optional<program_options> parse_program_options(const std::vector<std::string>& args, std::string& why)
{
    program_options o;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        const std::string value = i + 1 < args.size() ? args[i + 1] : "";
        std::optional<std::int16_t> loc;
        if (a == "--sectors" && (o.sectors = sector_list(value))) {
        } else if (a == "--bsl-now" && (loc = location(value, false))) {
            o.bsl_now = *loc;
        } else if (a == "--bsl-target" && (loc = location(value, false))) {
            o.bsl_target = *loc;
        } else if (a == "--sector0-segment" && (loc = location(value, true))) {
            o.sector0_segment = *loc;
        } else if (!a.empty() && a[0] != '-' && o.hex_file.empty()) {
            o.hex_file = a;
            continue;
        } else {
            why = "bad or incomplete argument " + a;
            return std::nullopt;
        }
        ++i;
    }
    if (o.hex_file.empty()) {
        why = "program needs a hex file";
        return std::nullopt;
    }
    return o;
}

int run_programming_flow(app_state& s, const program_options& o, std::ostream& out, std::ostream& err)
{
    programming::load_hex__Click(s, o.hex_file);
    if (!s.LocationForm.visible) return 2;
    choose_locations(s, o);
    programming::LocationForm_Command1_Click(s);
    if (s.Warning.visible) {
        err << "Warning: " << k_warning_text << "\n";
        programming::Warning_Command1_Click(s);
    }
    if (!s.ConfirmForm.visible) return 2;
    if (o.sectors) choose_sectors(s, *o.sectors, err);
    s.repaint_now();  // the log so far, before the sectors line
    out << "Sectors: " << chosen_sectors(s) << "\n";
    programming::program_button_Click(s);
    if (s.flash_error) return 1;
    // A conversion failure ends the run before anything is sent.
    return s.mainform.program_.visible && s.log().text().find("Programming sucessfully finished !") !=
                                               std::string::npos
               ? 0
               : 2;
}

}  // namespace fernwick::app
