// Operator input reaches its handler, and the windows show the outcome.

#include <QAbstractButton>
#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>

#include "ui/main_window.h"
#include "ui/support_ui.h"

namespace fernwick::test {
namespace {

using core::window_id;
using W = window_id;

class input_test : public ui_test {
protected:
    void click(window_id w, const char* name) { control<QAbstractButton>(w, name)->click(); }
    bool checked(window_id w, const char* name) { return control<QAbstractButton>(w, name)->isChecked(); }
    void trigger(const char* item) { control<QAction>(W::mainform, item)->trigger(); }
    void close_box(window_id w)
    {
        QCloseEvent event;
        QCoreApplication::sendEvent(window(w), &event);
    }
    QString log_text() { return control<QPlainTextEdit>(W::mainform, "dialog")->toPlainText(); }
};

struct option_row {
    window_id window;
    const char* name;
    const char* previous;  // selected before, deselected after
    std::function<bool(const core::app_state&)> took_effect;
};

TEST_F(input_test, option_click_runs_its_handler_and_shows_the_choice)
{
    const option_row rows[] = {
        {W::RESETFORM, "bs_19200", "bs_9600", [](const auto& s) { return s.baud_rate == "19200"; }},
        {W::RESETFORM, "bs_2400", "bs_9600", [](const auto& s) { return s.baud_rate == "2400"; }},
        {W::RESETFORM, "com2_", "com1_", [](const auto& s) { return s.comm_port == 2; }},
        {W::LocationForm, "sect0", "sect2", [](const auto& s) { return s.bsl_now == 0; }},
        {W::LocationForm, "external", "sect2", [](const auto& s) { return s.bsl_now == core::k_nowhere; }},
        {W::LocationForm, "Option1", "Option2", [](const auto& s) { return s.bsl_target == 0; }},
        {W::LocationForm, "Option3", "Option2",
         [](const auto& s) { return s.bsl_target == core::k_nowhere; }},
        {W::LocationForm, "seg1", "seg0", [](const auto& s) { return s.sector0_segment == 1; }},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        auto fresh = make_fake_state();
        ui::shell view(*fresh);
        view.sync();
        view.window(row.window)->findChild<QAbstractButton*>(row.name)->click();
        EXPECT_TRUE(row.took_effect(*fresh));
        EXPECT_TRUE(view.window(row.window)->findChild<QAbstractButton*>(row.name)->isChecked());
        EXPECT_FALSE(view.window(row.window)->findChild<QAbstractButton*>(row.previous)->isChecked());
    }
}

TEST_F(input_test, sync_shows_choices_the_model_holds)
{
    s->RESETFORM.baud_choice = "14400";
    s->RESETFORM.port_choice = 2;
    s->LocationForm.target_choice = core::k_nowhere;
    windows->sync();
    EXPECT_TRUE(checked(W::RESETFORM, "bs_14400"));
    EXPECT_FALSE(checked(W::RESETFORM, "bs_9600"));
    EXPECT_TRUE(checked(W::RESETFORM, "com2_"));
    EXPECT_FALSE(checked(W::RESETFORM, "com1_"));
    EXPECT_TRUE(checked(W::LocationForm, "Option3"));
    EXPECT_FALSE(checked(W::LocationForm, "Option2"));
}

TEST_F(input_test, reset_ok_shows_the_main_window_with_the_first_log_line)
{
    click(W::RESETFORM, "RESET_OK");
    EXPECT_TRUE(s->mainform.visible);
    EXPECT_TRUE(window(W::mainform)->isVisible());
    EXPECT_FALSE(window(W::RESETFORM)->isVisible());
    EXPECT_EQ(log_text(), "\n     Sending the zero byte to the uC... \n");
}

TEST_F(input_test, enter_presses_the_focused_button)
{
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QCoreApplication::sendEvent(control(W::RESETFORM, "RESET_OK"), &enter);
    EXPECT_TRUE(window(W::mainform)->isVisible());
}

TEST_F(input_test, re_start_hides_the_main_window_and_shows_the_reset_window)
{
    click(W::RESETFORM, "RESET_OK");
    trigger("restart_flash_");
    EXPECT_FALSE(window(W::mainform)->isVisible());
    EXPECT_TRUE(window(W::RESETFORM)->isVisible());
}

TEST_F(input_test, command_menus_follow_the_model)
{
    const char* menus[] = {"program_", "status_", "reset_"};
    for (bool shown : {true, false}) {
        s->mainform.program_.visible = s->mainform.status_.visible = s->mainform.reset_.visible = shown;
        windows->sync();
        for (const char* m : menus)
            EXPECT_EQ(control<QMenu>(W::mainform, m)->menuAction()->isVisible(), shown) << m;
    }
}

TEST_F(input_test, about_opens_and_close_hides_it)
{
    trigger("About_flash_");
    EXPECT_TRUE(window(W::AboutForm)->isVisible());
    click(W::AboutForm, "Command1");
    EXPECT_FALSE(window(W::AboutForm)->isVisible());
    trigger("About_flash_");
    close_box(W::AboutForm);
    EXPECT_FALSE(window(W::AboutForm)->isVisible());
}

TEST_F(input_test, close_box_of_the_reset_or_main_window_or_finish_ends_the_program)
{
    close_box(W::RESETFORM);
    EXPECT_EQ(quits, 1);
    click(W::RESETFORM, "RESET_OK");
    close_box(W::mainform);
    EXPECT_EQ(quits, 2);
    trigger("finish_");
    EXPECT_EQ(quits, 3);
}

TEST_F(input_test, close_box_of_a_disabled_window_does_nothing)
{
    s->RESETFORM.enabled = false;
    windows->sync();
    close_box(W::RESETFORM);
    EXPECT_EQ(quits, 0);
    EXPECT_TRUE(window(W::RESETFORM)->isVisible());
}

TEST_F(input_test, status_window_shows_the_status_texts_and_closes)
{
    s->statusform.visible = true;
    s->statusform.status_sector = {"0000", "1234", "ABCD", "FFFF"};
    windows->sync();
    EXPECT_EQ(control<QLineEdit>(W::statusform, "status_sector_2")->text(), "ABCD");
    click(W::statusform, "status_cancel");
    EXPECT_FALSE(window(W::statusform)->isVisible());
    s->statusform.visible = true;
    windows->sync();
    close_box(W::statusform);
    EXPECT_FALSE(window(W::statusform)->isVisible());
    EXPECT_EQ(control<QLineEdit>(W::statusform, "status_sector_2")->text(), "");
}

TEST_F(input_test, cancelled_file_dialog_reaches_the_handler_as_none)
{
    auto& main = windows->mainform();
    int asked = 0;
    main.choose_hex_file = [&asked] {
        ++asked;
        return std::optional<std::string>{};
    };
    trigger("load_hex_");
    EXPECT_EQ(asked, 1);
    EXPECT_TRUE(log_text().contains("Operation cancelled or this File name doesn't exist !"));
    EXPECT_FALSE(window(W::LocationForm)->isVisible());
}

TEST_F(input_test, repaint_hook_shows_what_was_written_so_far)
{
    click(W::RESETFORM, "RESET_OK");
    core::line(s->log(), "step");
    s->repaint_now();
    EXPECT_TRUE(log_text().endsWith("\nstep"));
}

TEST_F(input_test, keep_alive_hook_shows_the_progress)
{
    click(W::RESETFORM, "RESET_OK");
    s->mainform.progress = {true, 3, 5, 512};
    s->keep_alive_now();
    EXPECT_TRUE(control(W::mainform, "progress")->isVisible());
}

// A hex file with data for sectors 0 and 2 only, chosen through the menu.
class confirm_test : public input_test {
protected:
    void SetUp() override
    {
        const auto file = write_lines(
            scratch_dir() / "two.hex",
            {":020000040000FA", ":01000000AA55", ":020000040002F8", ":01000000BB44", ":00000001FF"});
        click(W::RESETFORM, "RESET_OK");
        windows->mainform().choose_hex_file = [file] { return std::optional<std::string>(file); };
        trigger("load_hex_");
        ASSERT_TRUE(window(W::LocationForm)->isVisible());
        EXPECT_FALSE(window(W::mainform)->isEnabled());
    }

    QCheckBox* box(int sector)
    {
        return control<QCheckBox>(W::ConfirmForm, qPrintable(QStringLiteral("sector%1").arg(sector)));
    }
};

TEST_F(confirm_test, unticking_the_code_sector_frees_the_other_one_through_the_click_handling)
{
    click(W::LocationForm, "sect0");
    click(W::LocationForm, "Option1");
    click(W::LocationForm, "Command1");
    ASSERT_TRUE(window(W::ConfirmForm)->isVisible());
    EXPECT_TRUE(box(0)->isChecked() && box(0)->isEnabled());
    EXPECT_TRUE(box(2)->isChecked());
    EXPECT_FALSE(box(2)->isEnabled());  // forced

    box(0)->click();
    EXPECT_EQ(s->sector0_on, core::k_false);
    EXPECT_FALSE(box(0)->isChecked());
    EXPECT_TRUE(box(2)->isChecked() && box(2)->isEnabled());

    box(0)->click();
    EXPECT_EQ(s->sector0_on, core::k_true);
    EXPECT_TRUE(box(2)->isChecked());
    EXPECT_FALSE(box(2)->isEnabled());
}

TEST_F(confirm_test, sectors_1_and_3_follow_their_box_alone)
{
    click(W::LocationForm, "Command1");
    ASSERT_TRUE(window(W::ConfirmForm)->isVisible());
    EXPECT_FALSE(box(1)->isEnabled());
    EXPECT_FALSE(box(3)->isEnabled());
    EXPECT_EQ(s->sector1_on, core::k_false);
}

TEST_F(confirm_test, no_code_at_all_warns_first_and_cancel_goes_back)
{
    click(W::LocationForm, "Option3");
    click(W::LocationForm, "Command1");
    EXPECT_TRUE(window(W::Warning)->isVisible());
    EXPECT_FALSE(window(W::LocationForm)->isEnabled());
    click(W::Warning, "Command2");
    EXPECT_FALSE(window(W::Warning)->isVisible());
    EXPECT_TRUE(window(W::LocationForm)->isVisible() && window(W::LocationForm)->isEnabled());
}

TEST_F(confirm_test, cancel_and_close_boxes_end_the_run_with_the_main_window_enabled)
{
    click(W::LocationForm, "Command1");
    click(W::ConfirmForm, "Command2");
    EXPECT_FALSE(window(W::ConfirmForm)->isVisible());
    EXPECT_TRUE(window(W::mainform)->isEnabled());
    EXPECT_TRUE(log_text().contains("Operation cancelled !"));

    trigger("load_hex_");
    close_box(W::LocationForm);
    EXPECT_FALSE(window(W::LocationForm)->isVisible());
    EXPECT_TRUE(window(W::mainform)->isEnabled());
}

TEST_F(confirm_test, back_returns_to_the_location_window)
{
    click(W::LocationForm, "Command1");
    click(W::ConfirmForm, "Command1");
    EXPECT_FALSE(window(W::ConfirmForm)->isVisible());
    EXPECT_TRUE(window(W::LocationForm)->isVisible());
}

}  // namespace
}  // namespace fernwick::test
