#include "station/file_preparation.h"

#include <algorithm>
#include <ostream>

#include "programming/flow.h"
#include "programming/hex_records.h"
#include "programming/unplaced_text.h"

namespace fernwick::station {

using core::app_state;

namespace {

const char* const k_warning_text =
    "If you don't include the bootstrap loader code either in Sector 0 or Segment 2 you won't be able to "
    "reprogram the Flash memory again if no external bootstrap loader support exists";

// A board that is not there: the preparation never talks to one.
class no_link : public core::serial_link {
public:
    bool open() override { return false; }
    void close() override {}
    bool is_open() const override { return false; }
    bool write(const core::byte_string&) override { return false; }
    core::byte_string read_all() override { return {}; }
    int pending() override { return 0; }
    bool wait_for_data(int) override { return false; }
    std::string error_text() const override { return "no board"; }
};

class no_timer : public core::ui_timer {
public:
    void start(int) override {}
    void stop() override {}
    bool active() const override { return false; }
};

void choose_locations(app_state& s, const hex_choices& c)
{
    using namespace programming;
    (c.bsl_now == 0 ? sect0_Click : c.bsl_now == 2 ? sect2_Click : external_Click)(s);
    (c.bsl_target == 0 ? Option1_Click : c.bsl_target == 2 ? Option2_Click : Option3_Click)(s);
    (c.sector0_segment == 0 ? seg0_Click : seg1_Click)(s);
}

// Sets the boxes to the list through the box handling; a locked box keeps
// its state, as it would for the operator. Taking one box off can free
// another (a sector kept on only for the saved code), so the list is
// applied until nothing changes.
void choose_sectors(app_state& s, const std::vector<int>& wanted, std::ostream& notes)
{
    const auto value_of = [&](int box) { return std::find(wanted.begin(), wanted.end(), box) != wanted.end() ? 1 : 0; };
    for (bool changed = true; changed;) {
        changed = false;
        for (int box = 0; box < 4; ++box) {
            const auto& check = s.ConfirmForm.sector[static_cast<std::size_t>(box)];
            if (!check.enabled || check.value == value_of(box)) continue;
            programming::set_check_value(s, box, value_of(box));
            changed = true;
        }
    }
    for (int box = 0; box < 4; ++box) {
        const auto& check = s.ConfirmForm.sector[static_cast<std::size_t>(box)];
        if (check.value == value_of(box)) continue;
        // Only the code's rules keep a box on; a box kept off has no data.
        if (check.value)
            notes << "fernwick-cli: sector " << box << " is locked on by the bootstrap-code rules; it stays so\n";
        else
            notes << "fernwick-cli: sector " << box << " stays off: the file has no data for it\n";
    }
}

// The file's data in sectors the operator left out: the operator's choice,
// but said, so that it is never a surprise.
std::vector<std::string> not_chosen_lines(const std::array<bool, 4>& chosen, const std::array<long, 4>& bytes)
{
    std::vector<std::string> lines;
    for (std::size_t n = 0; n < 4; ++n)
        if (!chosen[n] && bytes[n] > 0)
            lines.push_back("sector " + std::to_string(n) + ": " + programming::amount_text(bytes[n]) +
                            " of file data not chosen");
    return lines;
}

}  // namespace

std::array<bool, 4> sectors_on(const app_state& s)
{
    return {s.sector0_on != 0, s.sector1_on != 0, s.sector2_on != 0, s.sector3_on != 0};
}

std::string listed(const std::array<bool, 4>& which)
{
    std::string list;
    for (int n = 0; n < 4; ++n)
        if (which[static_cast<std::size_t>(n)]) list += (list.empty() ? "" : ",") + std::to_string(n);
    return list.empty() ? "none" : list;
}

std::optional<std::vector<int>> parse_sector_list(const std::string& text)
{
    std::vector<int> sectors;
    for (std::size_t i = 0; i < text.size(); i += 2) {
        if (text[i] < '0' || text[i] > '3') return std::nullopt;
        if (i + 1 < text.size() && (text[i + 1] != ',' || i + 2 == text.size())) return std::nullopt;
        sectors.push_back(text[i] - '0');
    }
    if (sectors.empty()) return std::nullopt;
    return sectors;
}

bool choose_as_operator(app_state& s, const hex_choices& c, std::ostream& notes)
{
    programming::load_hex__Click(s, c.hex_file);
    if (!s.LocationForm.visible) return false;
    choose_locations(s, c);
    programming::LocationForm_Command1_Click(s);
    if (s.Warning.visible) {
        notes << "Warning: " << k_warning_text << "\n";
        programming::Warning_Command1_Click(s);
    }
    if (!s.ConfirmForm.visible) return false;
    if (c.sectors) choose_sectors(s, *c.sectors, notes);
    return true;
}

namespace {

bool other_mapping_places(const std::vector<programming::unplaced_range>& ranges, int sector0_segment)
{
    const int other = sector0_segment == 1 ? 0 : 1;
    return std::any_of(ranges.begin(), ranges.end(), [other](const programming::unplaced_range& r) {
        return r.reason == programming::unplaced_reason::no_sector && r.segment == other &&
               r.first < programming::k_sector_size;
    });
}

}  // namespace

std::optional<std::string> nothing_to_program(const app_state& s, bool other_mapping_helps)
{
    const auto on = sectors_on(s);
    const std::array<bool, 4> has = {s.sector0_has_data != 0, s.sector1_has_data != 0, s.sector2_has_data != 0,
                                     s.sector3_has_data != 0};
    const bool any_data = std::find(has.begin(), has.end(), true) != has.end();
    bool any_block = false;  // a chosen sector gets data or the code
    for (std::size_t n = 0; n < 4; ++n) any_block = any_block || (on[n] && (has[n] || s.bsl_target == int(n)));
    // A run that only writes the code where it is not yet is worth doing.
    if (!any_data && !any_block) {
        const bool segment1 = s.sector0_segment == 1;
        return s.hex_file_name + ": no data of this file lies in a flash sector with sector 0 mapped to segment " +
               (segment1 ? "1 (01'0000h-01'7FFFh)" : "0 (00'0000h-00'7FFFh)") +
               (other_mapping_helps ? "; see --sector0-segment" : "");
    }
    if (!any_block)
        return "nothing to program in the chosen sectors (" + listed(on) + "): " + s.hex_file_name +
               " has data for sectors " + listed(has) + "; see --sectors";
    return std::nullopt;
}

plan make_plan(const hex_choices& c, std::ostream& notes, const serial_choice& serial)
{
    plan p;
    // The file's own faults first, with the system's reason or the line.
    const auto read = programming::read_hex_records(c.hex_file);
    if (!read.hex) {
        p.refusal = programming::failure_text(programming::file_failure(c.hex_file, read.reason, read.fault));
        return p;
    }
    app_state s(
        core::platform{[] { return std::make_unique<no_link>(); }, [] { return std::make_unique<no_timer>(); }});
    core::StartModul(s);
    if (!choose_as_operator(s, c, notes)) {
        p.refusal = c.hex_file + ": cannot be used as a hex file";
        return p;
    }
    p.sectors = sectors_on(s);
    std::optional<programming::reserved_bytes> reserved;
    if (serial.on) {
        if (auto why = serial_place_fault(serial, p.sectors, s.bsl_target, s.sector0_segment, *read.hex)) {
            p.refusal = *why;
            return p;
        }
        reserved = programming::reserved_bytes{serial.address, serial.bytes};
    }
    p.conversion = programming::convert_hex({c.hex_file, p.sectors, s.bsl_target, s.sector0_segment}, reserved);
    if (!p.conversion.ok()) {
        p.refusal = failure_text(*p.conversion.failure);
        return p;
    }
    const auto& unplaced = p.conversion.unplaced;
    if (!unplaced.empty()) {
        long bytes = 0;
        for (const auto& r : unplaced) bytes += r.bytes();
        p.unplaced_bytes = bytes;
        p.unplaced_summary = c.hex_file + ": " + programming::amount_text(bytes) + " of its data " +
                             (bytes == 1 ? "reaches" : "reach") + " no flash";
        p.unplaced = programming::unplaced_lines(unplaced, s.sector0_segment);
        for (const auto& r : unplaced) p.unplaced_all.push_back(programming::unplaced_line(r, s.sector0_segment));
    }
    // The ranges go with either refusal: they show where the file's data is.
    if (auto why = nothing_to_program(s, other_mapping_places(unplaced, s.sector0_segment)))
        p.refusal = *why;
    else if (!unplaced.empty() && !c.allow_unplaced)
        p.refusal = p.unplaced_summary + " (--allow-unplaced programs the rest)";
    p.not_chosen = not_chosen_lines(p.sectors, p.conversion.sector_bytes);
    return p;
}

void print_refusal(std::ostream& err, const std::string& command, const plan& p, const std::string& tail)
{
    err << "fernwick-cli " << command << ": " << p.refusal << tail << '\n';
    for (const auto& line : p.unplaced) err << "  " << line << '\n';
}

void print_left_out(std::ostream& err, const std::string& command, const plan& p)
{
    if (!p.unplaced.empty()) {
        err << "fernwick-cli " << command << ": warning: " << p.unplaced_summary
            << (p.unplaced_bytes == 1 ? " and is left out:\n" : " and are left out:\n");
        for (const auto& line : p.unplaced) err << "  " << line << '\n';
    }
    for (const auto& line : p.not_chosen) err << "fernwick-cli " << command << ": " << line << '\n';
}

}  // namespace fernwick::station
