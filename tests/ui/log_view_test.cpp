// The log box adds only the new tail after a write, redraws after earlier
// text was dropped, and follows the newest line unless the operator reads above.

#include <QProgressBar>
#include <QScrollBar>
#include <QTextCursor>

#include "ui/hex_file_dialog.h"
#include "ui/log_view.h"
#include "ui/support_ui.h"

namespace fernwick::test {
namespace {

TEST(log_view_text, line_ends_become_line_breaks)
{
    const std::pair<std::string, QString> rows[] = {
        {"", ""},
        {"\r\n", "\n"},
        {"a\r\nb\r\n", "a\nb\n"},
        {"a\rb", "a\nb"},
        {"\r\n\r\n  x  \r\n", "\n\n  x  \n"},
    };
    for (const auto& [in, out] : rows) EXPECT_EQ(ui::to_view_text(in), out) << in;
}

TEST(hex_filter, pairs_become_qt_filters_with_their_descriptions_kept)
{
    EXPECT_EQ(ui::qt_filter(ui::k_hex_filter),
              "Intel-Hex-File Daxo (*.hex);;Intel-Hex-File Mirelon (*.h86);;All Files (*.*)");
    EXPECT_EQ(ui::qt_filter("Text|*.txt"), "Text (*.txt)");
}

class log_view_test : public ::testing::Test {
protected:
    log_view_test()
    {
        view.resize(400, 200);
        view.show();
    }

    void write_lines(int n)
    {
        for (int i = 0; i < n; ++i) core::line(log, "line " + std::to_string(i));
        view.show_log(log);
    }

    QScrollBar* bar() { return view.verticalScrollBar(); }

    core::message_log log;
    ui::log_view view;
};

TEST_F(log_view_test, appends_only_the_new_tail)
{
    log.append("\r\nfirst");
    view.show_log(log);
    // A mark the model does not know survives an append, but not a redraw.
    QTextCursor(view.document()).insertText("#");
    log.append("\r\nsecond");
    view.show_log(log);
    EXPECT_EQ(view.toPlainText(), "#\nfirst\nsecond");

    log.replace("\r\nfresh");
    view.show_log(log);
    EXPECT_EQ(view.toPlainText(), "\nfresh");
}

TEST_F(log_view_test, a_line_end_split_between_writes_stays_one_break)
{
    log.append("x\r");
    view.show_log(log);
    EXPECT_EQ(view.toPlainText(), "x");
    log.append("\ny");
    view.show_log(log);
    EXPECT_EQ(view.toPlainText(), "x\ny");
}

TEST_F(log_view_test, trimmed_log_is_drawn_anew)
{
    core::message_log small(64);
    for (int i = 0; i < 20; ++i) core::line(small, "entry " + std::to_string(i));
    view.show_log(small);
    EXPECT_EQ(view.toPlainText(), ui::to_view_text(small.text()));
}

TEST_F(log_view_test, follows_the_newest_line)
{
    write_lines(200);
    ASSERT_GT(bar()->maximum(), 0);
    EXPECT_EQ(bar()->value(), bar()->maximum());
    const int before = bar()->maximum();
    write_lines(50);
    EXPECT_GT(bar()->maximum(), before);
    EXPECT_EQ(bar()->value(), bar()->maximum());
}

TEST_F(log_view_test, keeps_the_place_the_operator_scrolled_to)
{
    write_lines(200);
    bar()->setValue(10);
    write_lines(50);
    EXPECT_EQ(bar()->value(), 10);
    bar()->setValue(bar()->maximum());
    write_lines(1);
    EXPECT_EQ(bar()->value(), bar()->maximum());
}

TEST_F(ui_test, progress_shows_below_the_log_while_a_run_goes_on)
{
    auto* progress = control<QProgressBar>(core::window_id::mainform, "progress");
    s->mainform.visible = true;
    s->mainform.progress = {true, 2, 37, 512};
    windows->sync();
    EXPECT_TRUE(progress->isVisible());
    EXPECT_EQ(progress->text(), "Sector 2: block 37 of 512");
    EXPECT_EQ(progress->value(), 37);
    EXPECT_EQ(progress->maximum(), 512);
    s->mainform.progress.visible = false;
    windows->sync();
    EXPECT_FALSE(progress->isVisible());
}

}  // namespace
}  // namespace fernwick::test
