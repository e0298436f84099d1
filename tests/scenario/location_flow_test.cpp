// Choosing the hex file and where the bootstrap loader code lies, up to the
// prepared sector boxes.

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "programming/flow.h"
#include "support_fakes.h"

namespace {

using namespace fernwick;
using namespace fernwick::programming;
using core::k_false;
using core::k_nowhere;
using core::k_true;
using test::make_fake_state;

const std::string crlf = "\r\n";
const std::string bar = core::k_bar_line;
const std::string k_continue = "                       You can continue with another operation...";

std::string cancel_text(const std::string& line)
{
    return crlf + bar + crlf + line + crlf + bar + crlf + crlf + crlf + k_continue + crlf + crlf;
}

const std::string k_no_file_text =
    cancel_text("                Operation cancelled or this File name doesn't exist !");
const std::string k_cancelled_text = cancel_text("                             Operation cancelled !");

// Sector 0 at 00'0100h, sector 1 at 01'8000h, sector 2 at 02'0000h.
const std::vector<std::string> k_sector0 = {":020000040000FA", ":01010000AA54"};
const std::vector<std::string> k_sector1 = {":020000040001F9", ":01800000AAD5"};
const std::vector<std::string> k_sector2 = {":020000040002F8", ":01000000BB44"};
// Sector 0 only when it is mapped to segment 1.
const std::vector<std::string> k_segment1_low = {":020000040001F9", ":01000000BB44", ":00000001FF"};
const std::string k_eof = ":00000001FF";

// Sector 1 always, sector 3 never.
std::vector<std::string> file_with(bool sector0, bool sector2)
{
    std::vector<std::string> lines = k_sector1;
    if (sector0) lines.insert(lines.end(), k_sector0.begin(), k_sector0.end());
    if (sector2) lines.insert(lines.end(), k_sector2.begin(), k_sector2.end());
    lines.push_back(k_eof);
    return lines;
}

struct location_flow : ::testing::Test {
    std::unique_ptr<core::app_state> state = make_fake_state();
    core::app_state& s = *state;
    std::filesystem::path dir = test::scratch_dir();

    std::string hex_file(const std::vector<std::string>& lines, const std::string& name = "a.hex")
    {
        return test::write_lines(dir / name, lines);
    }
};

TEST_F(location_flow, a_cancelled_or_unusable_choice_changes_nothing_but_the_log)
{
    const std::vector<std::optional<std::string>> choices = {
        std::nullopt, (dir / "missing.hex").string(), dir.string(), std::string()};
    for (const auto& chosen : choices) {
        SCOPED_TRACE(chosen.value_or("<cancelled>"));
        s.hex_file_name = "old.hex";
        s.statusform.visible = true;
        s.mainform.COM->set_threshold(1);
        load_hex__Click(s, chosen);
        EXPECT_EQ(s.log().text(), k_no_file_text);
        EXPECT_EQ(s.hex_file_name, "old.hex");
        EXPECT_EQ(s.mainform.COM->threshold(), 1);
        EXPECT_TRUE(s.mainform.enabled);
        EXPECT_TRUE(s.statusform.visible);
        EXPECT_FALSE(s.LocationForm.visible);
    }
}

TEST_F(location_flow, a_chosen_file_opens_the_location_window_over_a_disabled_main_window)
{
    const auto path = hex_file({k_eof});
    s.statusform.visible = true;
    std::string shown_at_repaint;
    s.repaint = [&] { shown_at_repaint = s.log().text(); };
    load_hex__Click(s, path);
    const std::string notice = crlf + bar + crlf + " Program Hex-File : " + path + crlf + bar + crlf;
    EXPECT_EQ(s.log().text(), notice);
    EXPECT_EQ(shown_at_repaint, notice);
    EXPECT_EQ(s.hex_file_name, path);
    EXPECT_EQ(s.mainform.COM->threshold(), 0);
    EXPECT_FALSE(s.statusform.visible);
    EXPECT_TRUE(s.LocationForm.visible);
    EXPECT_FALSE(s.mainform.enabled);
}

TEST_F(location_flow, the_five_record_example_forces_sector_0_by_the_code_in_sector_2)
{
    load_hex__Click(s, hex_file({":020000040001F9", ":01800000AAD5", ":020000040002F8", ":01000000BB44", k_eof}));
    LocationForm_Command1_Click(s);
    const auto& box = s.ConfirmForm.sector;
    EXPECT_EQ(box[0].value, 1);
    EXPECT_FALSE(box[0].enabled);
    EXPECT_EQ(box[1].value, 1);
    EXPECT_TRUE(box[1].enabled);
    EXPECT_EQ(box[2].value, 1);
    EXPECT_TRUE(box[2].enabled);
    EXPECT_EQ(box[3].value, 0);
    EXPECT_FALSE(box[3].enabled);
    EXPECT_EQ(s.sector0_on, k_true);
    EXPECT_EQ(s.sector1_on, k_true);
    EXPECT_EQ(s.sector2_on, k_true);
    EXPECT_EQ(s.sector3_on, k_false);
    EXPECT_EQ(s.sector3_has_data, k_false);
    EXPECT_TRUE(s.ConfirmForm.visible);
    EXPECT_FALSE(s.LocationForm.visible);
}

enum class ends { data, forced, forced_if_0_has_data, forced_if_2_has_data };

bool is_forced(ends e, bool has0, bool has2)
{
    return e == ends::forced || (e == ends::forced_if_0_has_data && has0) ||
           (e == ends::forced_if_2_has_data && has2);
}

void expect_sector(const core::app_state& s, int sector, core::flag on, bool forced, bool has)
{
    SCOPED_TRACE("sector " + std::to_string(sector));
    const auto& b = s.ConfirmForm.sector[static_cast<std::size_t>(sector)];
    const bool ticked = forced || has;
    EXPECT_EQ(b.value, ticked ? 1 : 0);
    EXPECT_EQ(b.enabled, !forced && has);
    EXPECT_EQ(on, ticked ? k_true : k_false);
}

void click_now(core::app_state& s, std::int16_t where)
{
    if (where == 0) sect0_Click(s);
    if (where == 2) sect2_Click(s);
    if (where == k_nowhere) external_Click(s);
}

void click_target(core::app_state& s, std::int16_t where)
{
    if (where == 0) Option1_Click(s);
    if (where == 2) Option2_Click(s);
    if (where == k_nowhere) Option3_Click(s);
}

TEST_F(location_flow, the_boxes_end_as_the_location_choices_demand_whatever_they_held)
{
    struct row {
        std::int16_t now, target;
        ends sector0, sector2;
    };
    const std::vector<row> rows = {
        {0, 0, ends::data, ends::forced_if_0_has_data},
        {0, 2, ends::data, ends::forced},
        {0, k_nowhere, ends::data, ends::data},
        {2, 0, ends::forced, ends::data},
        {2, 2, ends::forced_if_2_has_data, ends::data},
        {2, k_nowhere, ends::data, ends::data},
        {k_nowhere, 0, ends::forced, ends::data},
        {k_nowhere, 2, ends::data, ends::forced},
        {k_nowhere, k_nowhere, ends::data, ends::data},
    };
    // Fresh boxes, and boxes left ticked and locked by an earlier preparation.
    const std::vector<core::check_box_state> before = {{0, true}, {1, false}};
    for (const auto& r : rows)
        for (const bool has0 : {false, true})
            for (const bool has2 : {false, true})
                for (const auto& b : before) {
                    SCOPED_TRACE(testing::Message() << "now " << r.now << " target " << r.target << " data0 "
                                                    << has0 << " data2 " << has2 << " ticked " << b.value);
                    auto st = make_fake_state();
                    auto& t = *st;
                    load_hex__Click(t, hex_file(file_with(has0, has2)));
                    click_now(t, r.now);
                    click_target(t, r.target);
                    t.ConfirmForm.sector.fill(b);
                    LocationForm_Command1_Click(t);
                    expect_sector(t, 0, t.sector0_on, is_forced(r.sector0, has0, has2), has0);
                    expect_sector(t, 1, t.sector1_on, false, true);
                    expect_sector(t, 2, t.sector2_on, is_forced(r.sector2, has0, has2), has2);
                    expect_sector(t, 3, t.sector3_on, false, false);
                    const bool warn = r.target == k_nowhere;
                    EXPECT_EQ(t.Warning.visible, warn);
                    EXPECT_EQ(t.LocationForm.visible, warn);
                    EXPECT_EQ(t.LocationForm.enabled, !warn);
                    EXPECT_EQ(t.ConfirmForm.visible, !warn);
                    EXPECT_FALSE(t.mainform.enabled);
                }
}

TEST_F(location_flow, the_close_box_cancels_the_run)
{
    load_hex__Click(s, hex_file({k_eof}));
    s.give_focus(core::window_id::LocationForm);
    LocationForm_Unload(s);
    EXPECT_EQ(s.log().text(), k_cancelled_text);
    EXPECT_TRUE(s.mainform.enabled);
    EXPECT_EQ(s.focus.window, core::window_id::mainform);
    EXPECT_FALSE(s.LocationForm.visible);
    EXPECT_FALSE(s.ConfirmForm.visible);
}

TEST_F(location_flow, after_its_close_box_the_window_returns_as_created_and_ok_uses_what_it_shows)
{
    const auto path = hex_file(k_segment1_low);
    load_hex__Click(s, path);
    sect0_Click(s);
    Option1_Click(s);
    seg1_Click(s);
    LocationForm_Unload(s);
    load_hex__Click(s, path);
    EXPECT_TRUE(s.LocationForm.visible);
    EXPECT_EQ(s.LocationForm.now_choice, 2);
    EXPECT_EQ(s.LocationForm.target_choice, 2);
    EXPECT_EQ(s.LocationForm.segment_choice, 0);
    EXPECT_EQ(s.bsl_now, 2);
    EXPECT_EQ(s.bsl_target, 2);
    EXPECT_EQ(s.sector0_segment, 0);
    LocationForm_Command1_Click(s);
    EXPECT_EQ(s.sector0_has_data, k_false);
    EXPECT_EQ(s.ConfirmForm.sector[0].value, 0);
    EXPECT_FALSE(s.ConfirmForm.sector[0].enabled);
}

TEST_F(location_flow, a_file_gone_before_ok_cancels_the_run_as_the_close_box_does)
{
    const auto path = hex_file(file_with(true, true));
    load_hex__Click(s, path);
    sect0_Click(s);
    std::filesystem::remove(path);
    LocationForm_Command1_Click(s);
    EXPECT_EQ(s.log().text(), k_cancelled_text);
    EXPECT_TRUE(s.mainform.enabled);
    EXPECT_EQ(s.focus.window, core::window_id::mainform);
    EXPECT_FALSE(s.LocationForm.visible);
    EXPECT_FALSE(s.ConfirmForm.visible);
    EXPECT_FALSE(s.Warning.visible);
}

}  // namespace
