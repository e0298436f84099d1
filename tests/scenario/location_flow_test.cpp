// Choosing the hex file and where the bootstrap loader code lies, then the
// sector confirmation: box clicks under the code rules, Back, Cancel and
// the warning detour.

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
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
using handler = std::function<void(core::app_state&)>;

const std::string crlf = "\r\n";

std::string cancel_text(const std::string& line)
{
    const std::string bar = core::k_bar_line;
    return crlf + bar + crlf + line + crlf + bar + crlf + crlf + crlf +
           "                       You can continue with another operation..." + crlf + crlf;
}

const std::string k_cancelled_text = cancel_text("                             Operation cancelled !");
const std::string k_eof = ":00000001FF";

// Sector 1 always at 01'8000h, sector 0 at 00'0100h and sector 2 at
// 02'0000h when asked for, sector 3 never.
std::vector<std::string> file_with(bool sector0, bool sector2)
{
    std::vector<std::string> lines = {":020000040001F9", ":01800000AAD5"};
    if (sector0) lines.insert(lines.end(), {":020000040000FA", ":01010000AA54"});
    if (sector2) lines.insert(lines.end(), {":020000040002F8", ":01000000BB44"});
    lines.push_back(k_eof);
    return lines;
}

void choose(core::app_state& t, std::int16_t now, std::int16_t target)
{
    (now == 0 ? sect0_Click : now == 2 ? sect2_Click : external_Click)(t);
    (target == 0 ? Option1_Click : target == 2 ? Option2_Click : Option3_Click)(t);
}

// The run ended: the main window is back and neither dialog is shown.
void expect_back_at_main(const core::app_state& t)
{
    EXPECT_TRUE(t.mainform.enabled);
    EXPECT_EQ(t.focus.window, core::window_id::mainform);
    EXPECT_FALSE(t.LocationForm.visible || t.ConfirmForm.visible || t.Warning.visible);
}

struct location_flow : ::testing::Test {
    std::unique_ptr<core::app_state> state = make_fake_state();
    core::app_state& s = *state;
    std::filesystem::path dir = test::scratch_dir();

    std::string hex_file(const std::vector<std::string>& lines) { return test::write_lines(dir / "a.hex", lines); }

    // Load Hex-File, the two location choices, OK; past the warning if one comes.
    void prepare(core::app_state& t, std::int16_t now, std::int16_t target, bool has0, bool has2)
    {
        load_hex__Click(t, hex_file(file_with(has0, has2)));
        choose(t, now, target);
        LocationForm_Command1_Click(t);
        if (target == k_nowhere) Warning_Command1_Click(t);
    }
};

TEST_F(location_flow, a_cancelled_or_unusable_choice_changes_nothing_but_the_log)
{
    const std::vector<std::optional<std::string>> choices = {std::nullopt, (dir / "missing.hex").string(), dir.string(),
                                                             std::string()};
    for (const auto& chosen : choices) {
        SCOPED_TRACE(chosen.value_or("<cancelled>"));
        s.hex_file_name = "old.hex";
        s.statusform.visible = true;
        s.mainform.COM->set_threshold(1);
        load_hex__Click(s, chosen);
        EXPECT_EQ(s.log().text(), cancel_text("                Operation cancelled or this File name doesn't exist !"));
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
    const std::string bar = core::k_bar_line;
    const std::string notice = crlf + bar + crlf + " Program Hex-File : " + path + crlf + bar + crlf;
    EXPECT_EQ(s.log().text(), notice);
    EXPECT_EQ(shown_at_repaint, notice);
    EXPECT_EQ(s.hex_file_name, path);
    EXPECT_EQ(s.mainform.COM->threshold(), 0);
    EXPECT_FALSE(s.statusform.visible);
    EXPECT_TRUE(s.LocationForm.visible);
    EXPECT_FALSE(s.mainform.enabled);
}

enum class ends { data, forced, forced_if_0_has_data, forced_if_2_has_data };

void expect_sector(const core::app_state& s, int sector, core::flag on, bool forced, bool has)
{
    SCOPED_TRACE("sector " + std::to_string(sector));
    const auto& b = s.ConfirmForm.sector[static_cast<std::size_t>(sector)];
    EXPECT_EQ(b.value, forced || has ? 1 : 0);
    EXPECT_EQ(b.enabled, !forced && has);
    EXPECT_EQ(on, forced || has ? k_true : k_false);
}

TEST_F(location_flow, the_boxes_end_as_the_location_choices_demand_whatever_they_held)
{
    struct row {
        std::int16_t now, target;
        ends sector0, sector2;
    };
    const row rows[] = {
        {0, 0, ends::data, ends::forced_if_0_has_data}, {0, 2, ends::data, ends::forced},
        {0, k_nowhere, ends::data, ends::data},         {2, 0, ends::forced, ends::data},
        {2, 2, ends::forced_if_2_has_data, ends::data}, {2, k_nowhere, ends::data, ends::data},
        {k_nowhere, 0, ends::forced, ends::data},       {k_nowhere, 2, ends::data, ends::forced},
        {k_nowhere, k_nowhere, ends::data, ends::data},
    };
    // Fresh boxes, and boxes left ticked and locked by an earlier preparation.
    const core::check_box_state before[] = {{0, true}, {1, false}};
    for (const auto& r : rows)
        for (const bool has0 : {false, true})
            for (const bool has2 : {false, true})
                for (const auto& b : before) {
                    SCOPED_TRACE(testing::Message() << "now " << r.now << " target " << r.target << " data0 " << has0
                                                    << " data2 " << has2 << " ticked " << b.value);
                    const auto forced = [&](ends e) {
                        return e == ends::forced || (e == ends::forced_if_0_has_data && has0) ||
                               (e == ends::forced_if_2_has_data && has2);
                    };
                    auto st = make_fake_state();
                    auto& t = *st;
                    load_hex__Click(t, hex_file(file_with(has0, has2)));
                    choose(t, r.now, r.target);
                    t.ConfirmForm.sector.fill(b);
                    LocationForm_Command1_Click(t);
                    expect_sector(t, 0, t.sector0_on, forced(r.sector0), has0);
                    expect_sector(t, 1, t.sector1_on, false, true);
                    expect_sector(t, 2, t.sector2_on, forced(r.sector2), has2);
                    expect_sector(t, 3, t.sector3_on, false, false);
                    const bool warn = r.target == k_nowhere;
                    EXPECT_EQ(t.Warning.visible, warn);
                    EXPECT_EQ(t.LocationForm.visible, warn);
                    EXPECT_EQ(t.LocationForm.enabled, !warn);
                    EXPECT_EQ(t.ConfirmForm.visible, !warn);
                    EXPECT_FALSE(t.mainform.enabled);
                }
}

struct box_end {
    int value;
    bool enabled;
    core::flag on;
};

TEST_F(location_flow, clicks_on_sectors_0_and_2_keep_the_code_rules)
{
    const box_end ticked{1, true, k_true}, cleared{0, true, k_false}, forced{1, false, k_true};
    struct row {
        const char* name;
        std::int16_t now, target;
        bool has0, has2;
        std::vector<std::pair<int, int>> clicks;  // box, value
        box_end sector0, sector2;
    };
    const row rows[] = {
        {"code in 0 stays: unticking 0 frees 2", 0, 0, true, true, {{0, 0}}, cleared, ticked},
        {"code in 0 stays: ticking 0 again forces 2", 0, 0, true, true, {{0, 0}, {0, 1}}, ticked, forced},
        {"forcing 2 runs its own click handling", 0, 0, true, true, {{0, 0}, {2, 0}, {0, 1}}, ticked, forced},
        {"a freed 2 without data stays ticked and locked", 0, 0, true, false, {{0, 0}}, cleared, forced},
        {"code into 0 from 2: unticking 2 keeps 0 forced", 2, 0, true, true, {{2, 0}}, forced, cleared},
        {"code into 0 from 2: ticking 2 again keeps 0 forced", 2, 0, false, true, {{2, 0}, {2, 1}}, forced, ticked},
        {"code into 2 from 0: unticking 0 keeps 2 forced", 0, 2, true, false, {{0, 0}}, cleared, forced},
        {"code in 2 stays: unticking 2 frees 0", 2, 2, true, true, {{2, 0}, {0, 0}}, cleared, cleared},
        {"no code kept: boxes follow the clicks", 0, k_nowhere, true, true, {{0, 0}, {2, 0}, {0, 1}}, ticked, cleared},
        {"no code kept, code in 2 now", 2, k_nowhere, true, true, {{2, 0}, {0, 0}, {2, 1}}, cleared, ticked},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        auto fresh = make_fake_state();
        auto& t = *fresh;
        prepare(t, r.now, r.target, r.has0, r.has2);
        for (const auto& [box, value] : r.clicks) set_check_value(t, box, value);
        const auto& b = t.ConfirmForm.sector;
        EXPECT_EQ(std::tuple(b[0].value, b[0].enabled, t.sector0_on),
                  std::tuple(r.sector0.value, r.sector0.enabled, r.sector0.on));
        EXPECT_EQ(std::tuple(b[2].value, b[2].enabled, t.sector2_on),
                  std::tuple(r.sector2.value, r.sector2.enabled, r.sector2.on));
    }
}

TEST_F(location_flow, sectors_1_and_3_follow_their_boxes_alone)
{
    prepare(s, 0, 0, true, true);
    const auto before = s.ConfirmForm.sector;
    set_check_value(s, 1, 0);
    set_check_value(s, 3, 1);
    EXPECT_EQ(std::tuple(s.sector0_on, s.sector1_on, s.sector2_on, s.sector3_on),
              std::tuple(k_true, k_false, k_true, k_true));
    EXPECT_EQ(s.ConfirmForm.sector[0].enabled, before[0].enabled);
    EXPECT_EQ(s.ConfirmForm.sector[2].enabled, before[2].enabled);
    // A box set to the value it has raises no click.
    s.sector3_on = k_false;
    set_check_value(s, 3, 1);
    EXPECT_EQ(s.sector3_on, k_false);
}

TEST_F(location_flow, back_then_ok_discards_the_box_changes)
{
    prepare(s, 0, 0, true, true);
    const auto first = s.ConfirmForm.sector;
    for (const int box : {0, 2, 1}) set_check_value(s, box, 0);
    ConfirmForm_Command1_Click(s);
    EXPECT_TRUE(s.LocationForm.visible && s.LocationForm.enabled);
    EXPECT_FALSE(s.ConfirmForm.visible || s.mainform.enabled);
    EXPECT_EQ(s.LocationForm.now_choice, 0);
    LocationForm_Command1_Click(s);
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(s.ConfirmForm.sector[i].value, first[i].value) << i;
        EXPECT_EQ(s.ConfirmForm.sector[i].enabled, first[i].enabled) << i;
    }
    EXPECT_EQ(std::tuple(s.sector0_on, s.sector1_on, s.sector2_on), std::tuple(k_true, k_true, k_true));
}

// Each way out cancels the run. The location window's close box makes it
// return as created (2/2/0), the confirmation's keeps the choices; OK then
// uses what the window shows.
TEST_F(location_flow, every_way_out_cancels_the_run_and_the_window_returns_as_it_should)
{
    const auto ok_then = [](handler h) {
        return [h](core::app_state& t) {
            LocationForm_Command1_Click(t);
            h(t);
        };
    };
    const auto gone_at_ok = [](core::app_state& t) {
        std::filesystem::remove(t.hex_file_name);
        LocationForm_Command1_Click(t);
    };
    using choices = std::tuple<int, int, int>;
    const std::tuple<const char*, handler, std::optional<choices>> ways[] = {
        {"location close box", LocationForm_Unload, choices{2, 2, 0}},
        {"file gone at OK", gone_at_ok, std::nullopt},
        {"confirmation Cancel", ok_then(ConfirmForm_Command2_Click), choices{0, 2, 1}},
        {"confirmation close box", ok_then(ConfirmForm_Unload), choices{0, 2, 1}},
    };
    for (const auto& [name, leave, again] : ways) {
        SCOPED_TRACE(name);
        auto fresh = make_fake_state();
        auto& t = *fresh;
        load_hex__Click(t, hex_file({":020000040001F9", ":01000000BB44", k_eof}));  // sector 0 only in segment 1
        choose(t, 0, 2);
        seg1_Click(t);
        t.give_focus(core::window_id::LocationForm);
        leave(t);
        EXPECT_EQ(t.log().text(), k_cancelled_text);
        expect_back_at_main(t);
        if (!again) continue;
        load_hex__Click(t, t.hex_file_name);
        EXPECT_TRUE(t.LocationForm.visible);
        EXPECT_EQ(choices(t.LocationForm.now_choice, t.LocationForm.target_choice, t.LocationForm.segment_choice),
                  *again);
        EXPECT_EQ(choices(t.bsl_now, t.bsl_target, t.sector0_segment), *again);
        LocationForm_Command1_Click(t);
        const bool has0 = std::get<2>(*again) == 1;
        EXPECT_EQ(t.sector0_has_data, has0 ? k_true : k_false);
        EXPECT_EQ(t.ConfirmForm.sector[0].value, has0 ? 1 : 0);
        EXPECT_EQ(t.ConfirmForm.sector[0].enabled, has0);
    }
}

// OK goes on to the confirmation; Cancel and the close box lead back to
// the location choice as it was, the log untouched.
TEST_F(location_flow, the_warning_leads_on_with_ok_and_back_otherwise)
{
    const std::tuple<const char*, handler, bool> ways[] = {{"OK", Warning_Command1_Click, true},
                                                           {"Cancel", Warning_Command2_Click, false},
                                                           {"close box", Warning_Unload, false}};
    for (const auto& [name, answer, on] : ways) {
        SCOPED_TRACE(name);
        auto fresh = make_fake_state();
        auto& t = *fresh;
        load_hex__Click(t, hex_file({":020000040002F8", ":01000000BB44", k_eof}));
        choose(t, 2, k_nowhere);
        LocationForm_Command1_Click(t);
        const auto log_before = t.log().text();
        answer(t);
        EXPECT_FALSE(t.Warning.visible || t.mainform.enabled);
        EXPECT_TRUE(t.LocationForm.enabled);
        EXPECT_EQ(t.LocationForm.visible, !on);
        EXPECT_EQ(t.ConfirmForm.visible, on);
        EXPECT_EQ(t.LocationForm.now_choice, 2);
        EXPECT_EQ(t.log().text(), log_before);
        if (on) {
            EXPECT_EQ(t.ConfirmForm.sector[0].value, 0);
            EXPECT_EQ(t.ConfirmForm.sector[2].value, 1);
            EXPECT_TRUE(t.ConfirmForm.sector[2].enabled);
        }
    }
}

}  // namespace
