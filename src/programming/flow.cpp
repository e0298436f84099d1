#include "programming/flow.h"

#include <unistd.h>
#include <algorithm>
#include <array>
#include <cstdint>
#include <string_view>

#include "programming/conversion.h"
#include "programming/hex_records.h"
#include "programming/hex_scan.h"
#include "programming/text_file.h"
#include "programming/unplaced_text.h"

namespace fernwick::programming {

namespace {

using core::app_state;
using core::flag;
using core::k_false;
using core::k_nowhere;
using core::k_true;

constexpr std::string_view k_cancelled = "                             Operation cancelled !";
constexpr std::string_view k_no_file = "                Operation cancelled or this File name doesn't exist !";
constexpr std::string_view k_continue = "                       You can continue with another operation...";

// The selections a freshly created LocationForm shows.
constexpr std::int16_t k_initial_now = 2;
constexpr std::int16_t k_initial_target = 2;
constexpr std::int16_t k_initial_segment = 0;

flag& sector_on(app_state& s, int sector)
{
    const std::array<flag*, 4> on = {&s.sector0_on, &s.sector1_on, &s.sector2_on, &s.sector3_on};
    return *on.at(static_cast<std::size_t>(sector));
}

bool has_data(const app_state& s, int sector)
{
    const std::array<flag, 4> has = {s.sector0_has_data, s.sector1_has_data, s.sector2_has_data, s.sector3_has_data};
    return has.at(static_cast<std::size_t>(sector)) == k_true;
}

core::check_box_state& box(app_state& s, int sector)
{
    return s.ConfirmForm.sector.at(static_cast<std::size_t>(sector));
}

// Sectors 0 and 2 are the two homes of the bootstrap loader code.
int other_code_sector(int sector) { return sector == 0 ? 2 : 0; }

// Rules A and B: the code must be written into a sector it is not in now.
bool must_receive_code(const app_state& s, int sector) { return s.bsl_target == sector && s.bsl_now != sector; }

// Rules C and D: erasing the sector that holds the code while some code
// shall stay needs the other sector for the saved copy.
bool erases_code_to_keep(app_state& s, int sector)
{
    return s.bsl_now == sector && sector_on(s, sector) == k_true && s.bsl_target != k_nowhere;
}

void force_sector(app_state& s, int sector)
{
    auto& b = box(s, sector);
    if (!b.by_rule) b.own_value = b.value;
    b.by_rule = true;
    sector_on(s, sector) = k_true;
    b.enabled = false;
    set_check_value(s, sector, 1);
}

// Offers a box exactly when the file has data for its sector.
void offer_box(app_state& s, int sector)
{
    const bool has = has_data(s, sector);
    box(s, sector).by_rule = false;
    box(s, sector).enabled = has;
    set_check_value(s, sector, has ? 1 : 0);
    sector_on(s, sector) = has ? k_true : k_false;
}

// A box no rule holds any longer shows again what the file offers and what
// the operator left in it: a sector without data is not erased because a rule
// once needed it.
void release_box(app_state& s, int sector)
{
    auto& b = box(s, sector);
    if (!b.by_rule) return;
    b.by_rule = false;
    const bool has = has_data(s, sector);
    b.enabled = has;
    set_check_value(s, sector, has ? b.own_value : 0);
    sector_on(s, sector) = b.value == 1 ? k_true : k_false;
}

// The order matters: the click handling runs in between and the rules
// must have the last word on sectors 0 and 2.
void prepare_boxes(app_state& s)
{
    offer_box(s, 0);
    offer_box(s, 2);
    if (must_receive_code(s, 0)) force_sector(s, 0);
    if (must_receive_code(s, 2)) force_sector(s, 2);
    if (erases_code_to_keep(s, 0)) force_sector(s, 2);
    if (erases_code_to_keep(s, 2)) force_sector(s, 0);
    offer_box(s, 1);
    offer_box(s, 3);
}

void follow_box(app_state& s, int sector)
{
    const int value = box(s, sector).value;
    if (value == 0) sector_on(s, sector) = k_false;
    if (value == 1) sector_on(s, sector) = k_true;
}

void code_sector_click(app_state& s, int sector)
{
    follow_box(s, sector);
    const int other = other_code_sector(sector);
    if (erases_code_to_keep(s, sector)) {
        force_sector(s, other);
        return;
    }
    if (must_receive_code(s, other))
        force_sector(s, other);
    else
        release_box(s, other);
}

void choose_now(app_state& s, std::int16_t where) { s.LocationForm.now_choice = s.bsl_now = where; }

void choose_own_now(app_state& s, std::int16_t where)
{
    choose_now(s, where);
    s.LocationForm.preselected.clear();
}

void choose_target(app_state& s, std::int16_t where) { s.LocationForm.target_choice = s.bsl_target = where; }

void choose_segment(app_state& s, std::int16_t segment) { s.LocationForm.segment_choice = s.sector0_segment = segment; }

void end_run_cancelled(app_state& s)
{
    core::fresh_notice_block(s.log(), {k_cancelled});
    core::note(s.log(), k_continue);
    s.mainform.enabled = true;
    s.give_focus(core::window_id::mainform);
}

// Nothing of a damaged file goes anywhere: the run ends, the chip untouched.
void end_run_damaged(app_state& s, const hex_fault& fault)
{
    core::error_block(s.log(), failure_lines(file_failure(s.hex_file_name, {}, fault)));
    s.mainform.enabled = true;
    s.give_focus(core::window_id::mainform);
    s.LocationForm.visible = false;
}

// Without it the operator would meet only greyed boxes, or a run that
// "succeeds" with some or none of the file sent, and not know why.
void report_unplaced(app_state& s, bool no_data, const std::vector<unplaced_range>& unplaced)
{
    std::vector<std::string> lines;
    if (no_data) {
        const bool in_segment1 = s.sector0_segment == 1;
        lines = {std::string("     This Hex-file has no data for any flash sector with Sector 0 mapped to ") +
                     (in_segment1 ? "Segment 1 (01'0000h - 01'7FFFh) !" : "Segment 0 (00'0000h - 00'7FFFh) !"),
                 "     Sectors 1 to 3 lie at 01'8000h - 01'FFFFh and 02'0000h - 02'FFFFh."};
    }
    if (!unplaced.empty()) {
        lines.push_back("     These bytes of the Hex-file reach no flash and will not be programmed :");
        for (const auto& line : unplaced_lines(unplaced, s.sector0_segment)) lines.push_back("       " + line);
    }
    // Without any code the Warning comes first, and its Cancel leads back.
    const bool warned = s.bsl_target == k_nowhere;
    if (no_data)
        lines.push_back(warned ? "     Use Cancel to choose another mapping."
                               : "     Use Back to choose another mapping, or Cancel.");
    else
        lines.push_back(warned ? "     Use Cancel to change the choices; OK and Program Flash program the rest."
                               : "     Use Back to change the choices, or Cancel; Program Flash programs the rest.");
    core::notice_block(s.log(), lines);
    s.ConfirmForm.unplaced = std::move(lines);
}

std::string sector_text(const core::code_location& code)
{
    if (code.in_0 && code.in_2) return "the code in Sector 0 and in Sector 2";
    if (code.in_0 || code.in_2) return std::string("the code only in Sector ") + (code.in_0 ? "0" : "2");
    return "no code in the flash";
}

// After a run that failed or was stopped on this port, "now" is where it
// left the code; a board put in since may hold its code elsewhere, so the
// operator is told whose location it is.
void preselect_left_code(app_state& s)
{
    const bool was_preselected = !s.LocationForm.preselected.empty();
    s.LocationForm.preselected.clear();
    if (!s.code_left || s.code_left->port != s.comm_port) {
        // What the window shows came from another port's board.
        if (was_preselected) choose_now(s, k_initial_now);
        return;
    }
    const auto& left = *s.code_left;
    choose_now(s, left.code.now());
    s.LocationForm.preselected = "preselected: the run on COM " + std::to_string(left.port) + " at " + left.began +
                                 " left " + sector_text(left.code) + "; for another board, choose where its code lies";
}

// A closed LocationForm is unloaded; it comes back as created, and the
// variables follow so that OK uses what the window shows.
void recreate_location_form(app_state& s)
{
    s.LocationForm.enabled = true;
    s.LocationForm.now_choice = s.bsl_now = k_initial_now;
    s.LocationForm.target_choice = s.bsl_target = k_initial_target;
    s.LocationForm.segment_choice = s.sector0_segment = k_initial_segment;
    s.LocationForm.preselected.clear();
}

// A folder holds no hex records; a pipe or a device would block the opening
// or never end.
bool can_open(const std::string& path)
{
    std::string reason;
    const int fd = open_regular_file(path, reason);
    if (fd >= 0) ::close(fd);
    return fd >= 0;
}

flag to_flag(bool b) { return b ? k_true : k_false; }

}  // namespace

void load_hex__Click(app_state& s, const std::optional<std::string>& chosen)
{
    const bool text_known = s.prepared && !s.prepared->hex_text.empty();
    if (!chosen || (!text_known && !can_open(*chosen))) {
        core::fresh_notice_block(s.log(), {k_no_file});
        core::note(s.log(), k_continue);
        return;
    }
    // The flash exchanges of the run poll for their replies.
    s.mainform.COM->set_threshold(0);
    s.statusform.visible = false;
    s.hex_file_name = *chosen;
    s.hex_file_text.reset();
    preselect_left_code(s);
    const std::string& why = s.LocationForm.preselected;
    if (why.empty())
        core::fresh_notice_block(s.log(), {" Program Hex-File : " + *chosen});
    else
        core::fresh_notice_block(s.log(), {" Program Hex-File : " + *chosen, " " + why});
    s.LocationForm.visible = true;
    s.repaint_now();
    s.mainform.enabled = false;
}

// The operator's own choice is no preselection any longer.
void sect0_Click(app_state& s) { choose_own_now(s, 0); }
void sect2_Click(app_state& s) { choose_own_now(s, 2); }
void external_Click(app_state& s) { choose_own_now(s, k_nowhere); }
void Option1_Click(app_state& s) { choose_target(s, 0); }
void Option2_Click(app_state& s) { choose_target(s, 2); }
void Option3_Click(app_state& s) { choose_target(s, k_nowhere); }
void seg0_Click(app_state& s) { choose_segment(s, 0); }
void seg1_Click(app_state& s) { choose_segment(s, 1); }

void LocationForm_Command1_Click(app_state& s)
{
    auto read = s.prepared && !s.prepared->hex_text.empty() ? hex_records_of(s.prepared->hex_text)
                                                            : read_hex_records(s.hex_file_name);
    if (read.fault) {
        end_run_damaged(s, *read.fault);
        return;
    }
    if (!read.hex) {
        // The file went away since it was chosen: nothing to program.
        end_run_cancelled(s);
        s.LocationForm.visible = false;
        return;
    }
    const auto scan = scan_records(*read.hex, s.sector0_segment, s.bsl_target);
    s.hex_file_text = std::move(read.hex->text);
    s.ConfirmForm.unplaced.clear();
    const auto& found = *scan.flags;
    s.sector0_has_data = to_flag(found[0]);
    s.sector1_has_data = to_flag(found[1]);
    s.sector2_has_data = to_flag(found[2]);
    s.sector3_has_data = to_flag(found[3]);
    const bool no_data = std::find(found.begin(), found.end(), true) == found.end();
    if (no_data || !scan.unplaced.empty()) report_unplaced(s, no_data, scan.unplaced);
    prepare_boxes(s);
    if (s.bsl_target == k_nowhere) {
        s.LocationForm.enabled = false;
        s.Warning.visible = true;
    } else {
        s.LocationForm.visible = false;
        s.ConfirmForm.visible = true;
    }
}

void LocationForm_Unload(app_state& s)
{
    end_run_cancelled(s);
    s.LocationForm.visible = false;
    recreate_location_form(s);
}

void set_check_value(app_state& s, int sector, int value)
{
    auto& b = box(s, sector);
    if (b.value == value) return;
    b.value = value;
    switch (sector) {
    case 0: sector0_Click(s); break;
    case 1: sector1_Click(s); break;
    case 2: sector2_Click(s); break;
    default: sector3_Click(s); break;
    }
}

void sector0_Click(app_state& s) { code_sector_click(s, 0); }
void sector1_Click(app_state& s) { follow_box(s, 1); }
void sector2_Click(app_state& s) { code_sector_click(s, 2); }
void sector3_Click(app_state& s) { follow_box(s, 3); }

void ConfirmForm_Command1_Click(app_state& s)
{
    s.LocationForm.enabled = true;
    s.LocationForm.visible = true;
    s.ConfirmForm.visible = false;
}

void ConfirmForm_Command2_Click(app_state& s)
{
    end_run_cancelled(s);
    s.ConfirmForm.visible = false;
}

// The next preparation sets every box afresh, so unloading adds nothing.
void ConfirmForm_Unload(app_state& s) { ConfirmForm_Command2_Click(s); }

void Warning_Command1_Click(app_state& s)
{
    s.LocationForm.enabled = true;
    s.LocationForm.visible = false;
    s.Warning.visible = false;
    s.ConfirmForm.visible = true;
}

void Warning_Command2_Click(app_state& s)
{
    s.LocationForm.enabled = true;
    s.LocationForm.visible = true;
    s.Warning.visible = false;
}

// Otherwise LocationForm and the main window would stay disabled with no
// window left to act in.
void Warning_Unload(app_state& s) { Warning_Command2_Click(s); }

}  // namespace fernwick::programming
