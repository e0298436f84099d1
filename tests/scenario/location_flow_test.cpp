// Choosing the hex file and where the bootstrap loader code lies, then the
// sector confirmation: box clicks under the code rules, the ways back and
// out, and the files that cannot be read turned away at the choice.

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <tuple>

#include "programming/flow.h"
#include "support_fakes.h"

namespace {

using namespace fernwick;
using namespace fernwick::programming;
using namespace fernwick::test_support;
using core::k_false;
using core::k_nowhere;
using core::k_true;

std::string ending(const std::string& line)
{
    return block({line}, bar) + le + le + "                       You can continue with another operation..." + le + le;
}

// Sector 1 always, sector 0 at 00'0100h and sector 2 below 0060h when asked for.
std::vector<std::string> file_with(bool sector0, bool sector2)
{
    std::vector<std::string> lines = {":020000040001F9", ":01800000AAD5"};
    if (sector0) lines.insert(lines.end(), {":020000040000FA", ":01010000AA54"});
    if (sector2) lines.insert(lines.end(), {":020000040002F8", ":01000000BB44"});
    lines.push_back(":00000001FF");
    return lines;
}

struct location_flow : ::testing::Test {
    std::filesystem::path dir = test::scratch_dir();
    std::string hex_file(const std::vector<std::string>& lines) { return test::write_lines(dir / "a.hex", lines); }

    // Load Hex-File, the two location choices, OK; the boxes as an earlier preparation may have left them.
    void prepare(core::app_state& t, int now, int target, const std::vector<std::string>& lines,
                 core::check_box_state boxes = {0, true})
    {
        load_hex__Click(t, hex_file(lines));
        (now == 0 ? sect0_Click : now == 2 ? sect2_Click : external_Click)(t);
        (target == 0 ? Option1_Click : target == 2 ? Option2_Click : Option3_Click)(t);
        t.ConfirmForm.sector.fill(boxes);
        LocationForm_Command1_Click(t);
    }
};

TEST_F(location_flow, only_a_readable_file_opens_the_location_window)
{
    ::mkfifo((dir / "pipe.hex").c_str(), 0600);
    const std::string good = hex_file({":00000001FF"});
    const std::optional<std::string> choices[] = {
        good, std::nullopt, (dir / "missing.hex").string(), dir.string(), "", (dir / "pipe.hex").string(), "/dev/zero"};
    for (const auto& chosen : choices) {
        SCOPED_TRACE(chosen.value_or("<cancelled>"));
        scripted_app app;
        auto& t = app.state;
        t.statusform.visible = true;
        t.mainform.COM->set_threshold(1);
        load_hex__Click(t, chosen);
        const bool taken = chosen == good;
        EXPECT_EQ(app.log(), taken ? block({" Program Hex-File : " + good}, bar)
                                   : ending("                Operation cancelled or this File name doesn't exist !"));
        // Only a taken file closes the status window and stops the receive notifications.
        EXPECT_EQ(
            std::tuple(t.LocationForm.visible, t.statusform.visible, t.mainform.enabled, t.mainform.COM->threshold()),
            std::tuple(taken, !taken, !taken, taken ? 0 : 1));
    }
}

TEST_F(location_flow, the_boxes_end_as_the_location_choices_demand_whatever_they_held)
{
    // Box 0 and box 2: 'd' as the file's data, 'f' forced, '0' or '2' forced when that sector has data.
    struct row {
        int now, target;
        char sector0, sector2;
    };
    const row rows[] = {{0, 0, 'd', '0'},         {0, 2, 'd', 'f'},         {0, k_nowhere, 'd', 'd'},
                        {2, 0, 'f', 'd'},         {2, 2, '2', 'd'},         {2, k_nowhere, 'd', 'd'},
                        {k_nowhere, 0, 'f', 'd'}, {k_nowhere, 2, 'd', 'f'}, {k_nowhere, k_nowhere, 'd', 'd'}};
    for (const auto& r : rows)
        for (int k = 0; k < 8; ++k) {
            // With and without data in sectors 0 and 2, fresh boxes and boxes left ticked and locked by an
            // earlier preparation.
            const bool has0 = k & 1, has2 = k & 2;
            const core::check_box_state before{k < 4 ? 0 : 1, k < 4};
            SCOPED_TRACE(testing::Message() << "now " << r.now << " target " << r.target << " case " << k);
            const auto forced = [&](char e) { return e == 'f' || (e == '0' && has0) || (e == '2' && has2); };
            scripted_app app;
            auto& t = app.state;
            prepare(t, r.now, r.target, file_with(has0, has2), before);
            const bool has[] = {has0, true, has2, false},
                       locked[] = {forced(r.sector0), false, forced(r.sector2), false};
            const core::flag on[] = {t.sector0_on, t.sector1_on, t.sector2_on, t.sector3_on};
            for (int n = 0; n < 4; ++n)
                EXPECT_EQ(
                    std::tuple(t.ConfirmForm.sector[n].value, t.ConfirmForm.sector[n].enabled, on[n]),
                    std::tuple(int(locked[n] || has[n]), !locked[n] && has[n], locked[n] || has[n] ? k_true : k_false))
                    << n;
            const bool warn = r.target == k_nowhere;  // no code kept
            EXPECT_EQ(std::tuple(t.Warning.visible, t.LocationForm.visible, t.ConfirmForm.visible),
                      std::tuple(warn, warn, !warn));
            EXPECT_FALSE(t.mainform.enabled);
        }
}

TEST_F(location_flow, clicks_on_the_boxes_keep_the_code_rules)
{
    struct row {
        int now, target;
        bool has0, has2;
        std::vector<std::pair<int, int>> clicks;  // box, value
        // Of boxes 0 and 2: 'T' ticked, 'C' cleared, 'F' ticked and locked, 'L' cleared and locked.
        const char* ends;
    };
    const row rows[] = {
        {0, 0, true, true, {{0, 0}}, "CT"},  // code in 0 stays: unticking 0 frees 2
        {0, 0, true, true, {{0, 0}, {0, 1}}, "TF"},
        {0, 0, true, true, {{0, 0}, {2, 0}, {0, 1}}, "TF"},          // forcing 2 runs its own click handling
        {0, 0, true, true, {{0, 0}, {2, 0}, {0, 1}, {0, 0}}, "CC"},  // let go, 2 is as the operator left it
        // A box the rules no longer hold shows what the file offers: no data, cleared and locked.
        {0, 0, true, false, {{0, 0}}, "CL"},
        {2, 2, false, true, {{2, 0}}, "LC"},  // demo.hex: sector 0 was only ever ticked for the code's copy
        {2, 0, true, true, {{2, 0}}, "FC"},
        {0, 2, true, false, {{0, 0}}, "CF"},
        {2, 2, true, true, {{2, 0}, {0, 0}}, "CC"},
        {0, k_nowhere, true, true, {{0, 0}, {2, 0}, {0, 1}}, "TC"},
        {0, 0, true, true, {{1, 0}, {3, 1}, {3, 1}}, "TF"},  // sectors 1 and 3 follow their boxes alone
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(testing::Message() << "row " << &r - rows);
        scripted_app app;
        auto& t = app.state;
        prepare(t, r.now, r.target, file_with(r.has0, r.has2));
        if (t.Warning.visible) Warning_Command1_Click(t);
        for (const auto& [box, value] : r.clicks) set_check_value(t, box, value);
        const auto& b = t.ConfirmForm.sector;
        const auto code = [](const core::check_box_state& box) {
            return !box.value ? (box.enabled ? 'C' : 'L') : box.enabled ? 'T' : 'F';
        };
        EXPECT_EQ(std::string({code(b[0]), code(b[2])}), r.ends);
        const core::flag on[] = {t.sector0_on, t.sector1_on, t.sector2_on, t.sector3_on};
        for (int n = 0; n < 4; ++n) EXPECT_EQ(on[n], b[n].value ? k_true : k_false) << n;
    }
}

// Each way out cancels the run; the warning's Cancel and close box and the
// confirmation's Back lead back to the location choice without a word.
TEST_F(location_flow, every_way_back_or_out_ends_where_it_should)
{
    enum class to { confirmation, location, main };
    const auto gone_at_ok = [](core::app_state& t) {
        std::filesystem::remove(t.hex_file_name);
        LocationForm_Command1_Click(t);
    };
    const std::tuple<bool, int, std::function<void(core::app_state&)>, to> ways[] = {
        {false, k_nowhere, Warning_Command1_Click, to::confirmation},
        {false, k_nowhere, Warning_Command2_Click, to::location},
        {false, k_nowhere, Warning_Unload, to::location},
        {false, 2, ConfirmForm_Command1_Click, to::location},
        {false, 2, ConfirmForm_Command2_Click, to::main},
        {false, 2, ConfirmForm_Unload, to::main},
        {true, 2, LocationForm_Unload, to::main},
        {true, 2, gone_at_ok, to::main},
    };
    for (const auto& [at_location, target, way, end] : ways) {
        SCOPED_TRACE(testing::Message() << at_location << target << int(end));
        scripted_app app;
        auto& t = app.state;
        if (at_location)
            load_hex__Click(t, hex_file(file_with(false, true)));
        else
            prepare(t, 2, target, file_with(false, true));
        const auto log_before = app.log();
        way(t);
        const bool main = end == to::main;
        EXPECT_EQ(app.log(), main ? ending("                             Operation cancelled !") : log_before);
        EXPECT_EQ(std::tuple(t.LocationForm.visible, t.ConfirmForm.visible, t.mainform.enabled, t.Warning.visible),
                  std::tuple(end == to::location, end == to::confirmation, main, false));
        EXPECT_EQ(t.focus.window == core::window_id::mainform, main);
    }
}

}  // namespace
