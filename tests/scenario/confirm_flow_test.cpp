// The sector confirmation: the operator's box clicks under the bootstrap
// code rules, Back, Cancel and the warning detour.

#include <filesystem>
#include <functional>
#include <string>
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

const std::string crlf = "\r\n";
const std::string bar = core::k_bar_line;

// Sector 0 at 00'0100h, sector 1 at 01'8000h, sector 2 at 02'0000h.
const std::vector<std::string> k_sector0 = {":020000040000FA", ":01010000AA54"};
const std::vector<std::string> k_sector1 = {":020000040001F9", ":01800000AAD5"};
const std::vector<std::string> k_sector2 = {":020000040002F8", ":01000000BB44"};
const std::string k_eof = ":00000001FF";

void choose(core::app_state& t, std::int16_t now, std::int16_t target)
{
    if (now == 0) sect0_Click(t);
    if (now == 2) sect2_Click(t);
    if (now == k_nowhere) external_Click(t);
    if (target == 0) Option1_Click(t);
    if (target == 2) Option2_Click(t);
    if (target == k_nowhere) Option3_Click(t);
}

struct confirm_flow : ::testing::Test {
    std::unique_ptr<core::app_state> state = test::make_fake_state();
    core::app_state& s = *state;
    std::filesystem::path dir = test::scratch_dir();

    // Load Hex-File, the two location choices, OK; past the warning if one comes.
    void prepare(core::app_state& t, std::int16_t now, std::int16_t target, bool has0, bool has2)
    {
        std::vector<std::string> lines = k_sector1;
        if (has0) lines.insert(lines.end(), k_sector0.begin(), k_sector0.end());
        if (has2) lines.insert(lines.end(), k_sector2.begin(), k_sector2.end());
        lines.push_back(k_eof);
        load_hex__Click(t, test::write_lines(dir / "run.hex", lines));
        choose(t, now, target);
        LocationForm_Command1_Click(t);
        if (target == k_nowhere) Warning_Command1_Click(t);
    }
};

struct box_end {
    int value;
    bool enabled;
    core::flag on;
};

TEST_F(confirm_flow, clicks_on_sectors_0_and_2_keep_the_code_rules)
{
    const box_end ticked{1, true, k_true}, cleared{0, true, k_false}, forced{1, false, k_true};
    struct row {
        const char* name;
        std::int16_t now, target;
        bool has0, has2;
        std::vector<std::pair<int, int>> clicks;  // box, value
        box_end sector0, sector2;
    };
    const std::vector<row> rows = {
        {"code in 0 stays: unticking 0 frees 2", 0, 0, true, true, {{0, 0}}, cleared, ticked},
        {"code in 0 stays: ticking 0 again forces 2", 0, 0, true, true, {{0, 0}, {0, 1}}, ticked, forced},
        {"forcing 2 runs its own click handling", 0, 0, true, true, {{0, 0}, {2, 0}, {0, 1}}, ticked, forced},
        {"a freed 2 without data stays ticked and locked", 0, 0, true, false, {{0, 0}}, cleared, forced},
        {"code into 0 from 2: unticking 2 keeps 0 forced", 2, 0, true, true, {{2, 0}}, forced, cleared},
        {"code into 0 from 2: ticking 2 again keeps 0 forced", 2, 0, false, true, {{2, 0}, {2, 1}}, forced,
         ticked},
        {"code into 2 from 0: unticking 0 keeps 2 forced", 0, 2, true, false, {{0, 0}}, cleared, forced},
        {"code in 2 stays: unticking 2 frees 0", 2, 2, true, true, {{2, 0}, {0, 0}}, cleared, cleared},
        {"no code kept: boxes follow the clicks", 0, k_nowhere, true, true, {{0, 0}, {2, 0}, {0, 1}}, ticked,
         cleared},
        {"no code kept, code in 2 now", 2, k_nowhere, true, true, {{2, 0}, {0, 0}, {2, 1}}, cleared, ticked},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        auto fresh = test::make_fake_state();
        auto& t = *fresh;
        prepare(t, r.now, r.target, r.has0, r.has2);
        for (const auto& [box, value] : r.clicks) set_check_value(t, box, value);
        const auto& b = t.ConfirmForm.sector;
        EXPECT_EQ(b[0].value, r.sector0.value);
        EXPECT_EQ(b[0].enabled, r.sector0.enabled);
        EXPECT_EQ(t.sector0_on, r.sector0.on);
        EXPECT_EQ(b[2].value, r.sector2.value);
        EXPECT_EQ(b[2].enabled, r.sector2.enabled);
        EXPECT_EQ(t.sector2_on, r.sector2.on);
    }
}

TEST_F(confirm_flow, sectors_1_and_3_follow_their_boxes_alone)
{
    prepare(s, 0, 0, true, true);
    const auto before = s.ConfirmForm.sector;
    set_check_value(s, 1, 0);
    set_check_value(s, 3, 1);
    EXPECT_EQ(s.sector1_on, k_false);
    EXPECT_EQ(s.sector3_on, k_true);
    EXPECT_EQ(s.sector0_on, k_true);
    EXPECT_EQ(s.sector2_on, k_true);
    EXPECT_EQ(s.ConfirmForm.sector[0].enabled, before[0].enabled);
    EXPECT_EQ(s.ConfirmForm.sector[2].enabled, before[2].enabled);
    // A box set to the value it has raises no click.
    s.sector3_on = k_false;
    set_check_value(s, 3, 1);
    EXPECT_EQ(s.sector3_on, k_false);
}

TEST_F(confirm_flow, back_then_ok_discards_the_box_changes)
{
    prepare(s, 0, 0, true, true);
    const auto first = s.ConfirmForm.sector;
    set_check_value(s, 0, 0);
    set_check_value(s, 2, 0);
    set_check_value(s, 1, 0);
    ConfirmForm_Command1_Click(s);
    EXPECT_TRUE(s.LocationForm.visible);
    EXPECT_TRUE(s.LocationForm.enabled);
    EXPECT_FALSE(s.ConfirmForm.visible);
    EXPECT_FALSE(s.mainform.enabled);
    EXPECT_EQ(s.LocationForm.now_choice, 0);
    LocationForm_Command1_Click(s);
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(s.ConfirmForm.sector[i].value, first[i].value) << i;
        EXPECT_EQ(s.ConfirmForm.sector[i].enabled, first[i].enabled) << i;
    }
    EXPECT_EQ(s.sector0_on, k_true);
    EXPECT_EQ(s.sector1_on, k_true);
    EXPECT_EQ(s.sector2_on, k_true);
}

TEST_F(confirm_flow, cancel_and_the_close_box_end_the_run_and_keep_the_location_choices)
{
    const std::vector<std::pair<const char*, std::function<void(core::app_state&)>>> ways = {
        {"Cancel", ConfirmForm_Command2_Click}, {"close box", ConfirmForm_Unload}};
    for (const auto& [name, cancel] : ways) {
        SCOPED_TRACE(name);
        auto fresh = test::make_fake_state();
        auto& t = *fresh;
        load_hex__Click(t, test::write_lines(dir / "run.hex", {k_sector0[0], k_sector0[1], k_eof}));
        choose(t, 0, 2);
        seg1_Click(t);
        LocationForm_Command1_Click(t);
        cancel(t);
        const std::string expected = crlf + bar + crlf + "                             Operation cancelled !" + crlf + bar +
                                     crlf + crlf + crlf +
                                     "                       You can continue with another operation..." + crlf + crlf;
        EXPECT_EQ(t.log().text(), expected);
        EXPECT_TRUE(t.mainform.enabled);
        EXPECT_EQ(t.focus.window, core::window_id::mainform);
        EXPECT_FALSE(t.ConfirmForm.visible);
        EXPECT_FALSE(t.LocationForm.visible);
        EXPECT_EQ(t.sector0_on, k_false);
        EXPECT_EQ(t.sector2_on, k_true);
        load_hex__Click(t, t.hex_file_name);
        EXPECT_TRUE(t.LocationForm.visible);
        EXPECT_EQ(t.LocationForm.now_choice, 0);
        EXPECT_EQ(t.LocationForm.target_choice, 2);
        EXPECT_EQ(t.LocationForm.segment_choice, 1);
        EXPECT_EQ(t.bsl_now, 0);
        EXPECT_EQ(t.bsl_target, 2);
        EXPECT_EQ(t.sector0_segment, 1);
    }
}

TEST_F(confirm_flow, the_warning_comes_first_when_no_code_shall_stay)
{
    load_hex__Click(s, test::write_lines(dir / "run.hex", {k_sector2[0], k_sector2[1], k_eof}));
    choose(s, 2, k_nowhere);
    LocationForm_Command1_Click(s);
    EXPECT_TRUE(s.Warning.visible);
    EXPECT_TRUE(s.LocationForm.visible);
    EXPECT_FALSE(s.LocationForm.enabled);
    EXPECT_FALSE(s.ConfirmForm.visible);
    Warning_Command1_Click(s);
    EXPECT_FALSE(s.Warning.visible);
    EXPECT_FALSE(s.LocationForm.visible);
    EXPECT_TRUE(s.LocationForm.enabled);
    EXPECT_TRUE(s.ConfirmForm.visible);
    EXPECT_FALSE(s.mainform.enabled);
    EXPECT_EQ(s.ConfirmForm.sector[0].value, 0);
    EXPECT_EQ(s.ConfirmForm.sector[2].value, 1);
    EXPECT_TRUE(s.ConfirmForm.sector[2].enabled);
}

TEST_F(confirm_flow, the_warnings_cancel_and_close_box_lead_back_to_the_location_choice)
{
    const std::vector<std::pair<const char*, std::function<void(core::app_state&)>>> ways = {
        {"Cancel", Warning_Command2_Click}, {"close box", Warning_Unload}};
    for (const auto& [name, back] : ways) {
        SCOPED_TRACE(name);
        auto fresh = test::make_fake_state();
        auto& t = *fresh;
        load_hex__Click(t, test::write_lines(dir / "run.hex", {k_eof}));
        choose(t, 0, k_nowhere);
        LocationForm_Command1_Click(t);
        const auto log_before = t.log().text();
        back(t);
        EXPECT_FALSE(t.Warning.visible);
        EXPECT_TRUE(t.LocationForm.visible);
        EXPECT_TRUE(t.LocationForm.enabled);
        EXPECT_FALSE(t.ConfirmForm.visible);
        EXPECT_FALSE(t.mainform.enabled);
        EXPECT_EQ(t.LocationForm.now_choice, 0);
        EXPECT_EQ(t.log().text(), log_before);
    }
}

}  // namespace
