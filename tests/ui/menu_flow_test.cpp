#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAction>
#include <QPlainTextEdit>

#include "scenario/sim_app.h"
#include "shell/events.h"
#include "ui/main_window.h"
#include "ui/shell.h"

namespace {

using namespace fernwick;
using namespace fernwick::test_support;

// The real windows over the in-process simulated board: an operator's
// programming run from the reset window to the end, by clicks alone.
class menu_flow : public ::testing::Test {
protected:
    menu_flow() : state(board.platform()), windows(state)
    {
        core::StartModul(state);
        shell::connect_events(state, [this] { windows.sync(); });
        windows.sync();
    }

    void click(core::window_id id, const char* name)
    {
        auto* button = windows.window(id)->findChild<QAbstractButton*>(QString::fromLatin1(name));
        ASSERT_NE(button, nullptr) << name;
        button->click();
    }

    void trigger(const char* item)
    {
        auto* action = windows.window(core::window_id::mainform)->findChild<QAction*>(QString::fromLatin1(item));
        ASSERT_NE(action, nullptr) << item;
        action->trigger();
    }

    QString log_box() const
    {
        return windows.window(core::window_id::mainform)->findChild<QPlainTextEdit*>("dialog")->toPlainText();
    }

    sim::sim_board board;
    core::app_state state;
    ui::shell windows;
};

TEST_F(menu_flow, an_operator_programs_a_hex_file_from_the_menus)
{
    const auto hex = write_hex(test::scratch_dir() / "app.hex",
                               {linear_segment(1), hex_record(0, 0x8000, {0xA1, 0xB2, 0xC3}), ":00000001FF"});
    click(core::window_id::RESETFORM, "bs_19200");
    click(core::window_id::RESETFORM, "RESET_OK");
    board.run_for(500);
    EXPECT_TRUE(log_box().contains("The uC is ready for receiving commands from you ..."));

    windows.mainform().choose_hex_file = [hex] { return std::optional<std::string>(hex); };
    trigger("load_hex_");
    EXPECT_TRUE(windows.window(core::window_id::LocationForm)->isVisible());
    EXPECT_FALSE(windows.window(core::window_id::mainform)->isEnabled());
    click(core::window_id::LocationForm, "Command1");
    EXPECT_TRUE(windows.window(core::window_id::ConfirmForm)->isVisible());
    click(core::window_id::ConfirmForm, "program_button");

    EXPECT_TRUE(log_box().contains("Sector  1   successfully programmed"));
    EXPECT_TRUE(log_box().contains("Programming sucessfully finished !"));
    EXPECT_TRUE(windows.window(core::window_id::mainform)->isEnabled());
    const auto sector1 = board.chip().flash().sector(1);
    EXPECT_EQ(std::vector<int>(sector1.begin(), sector1.begin() + 4), (std::vector<int>{0xA1, 0xB2, 0xC3, 0x00}));

    trigger("show_status");
    board.run_for(500);
    EXPECT_TRUE(windows.window(core::window_id::statusform)->isVisible());
}

}  // namespace
