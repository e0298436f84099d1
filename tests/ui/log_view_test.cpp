// The log box shows the log's line ends as breaks, adds only the new tail
// after a write, redraws after earlier text was dropped, and follows the
// newest line unless the operator reads above; the progress below it shows
// only while a run goes on.

#include <QProgressBar>
#include <QScrollBar>
#include <QTextCursor>

#include "ui/log_view.h"
#include "ui/support_ui.h"

namespace fernwick::test {
namespace {

TEST(log_view, adds_the_new_tail_and_redraws_after_a_replace_or_a_trim)
{
    core::message_log log(64);
    ui::log_view view;
    log.append("\r\nfirst");
    view.show_log(log);
    // A mark the model does not know survives an added tail, but not a redraw.
    QTextCursor(view.document()).insertText("#");
    // CR LF and a lone CR are one break each, also when a CR LF is split between writes.
    log.append("\r\nx\r");
    view.show_log(log);
    EXPECT_EQ(view.toPlainText(), "#\nfirst\nx");
    log.append("\ny\rz");
    view.show_log(log);
    EXPECT_EQ(view.toPlainText(), "#\nfirst\nx\ny\nz");

    log.replace("\r\nfresh");
    view.show_log(log);
    EXPECT_EQ(view.toPlainText(), "\nfresh");

    QTextCursor(view.document()).insertText("#");
    for (int i = 0; i < 20; ++i) core::line(log, "entry " + std::to_string(i));
    view.show_log(log);
    EXPECT_EQ(view.toPlainText(), ui::to_view_text(log.text()));
}

TEST(log_view, follows_the_newest_line_unless_the_operator_scrolled_up)
{
    core::message_log log;
    ui::log_view view;
    view.resize(400, 200);
    view.show();
    const auto write_lines = [&](int n) {
        for (int i = 0; i < n; ++i) core::line(log, "line " + std::to_string(i));
        view.show_log(log);
    };
    QScrollBar* bar = view.verticalScrollBar();
    write_lines(200);
    ASSERT_GT(bar->maximum(), 0);
    EXPECT_EQ(bar->value(), bar->maximum());

    bar->setValue(10);
    const int before = bar->maximum();
    write_lines(50);
    EXPECT_GT(bar->maximum(), before);
    EXPECT_EQ(bar->value(), 10);

    bar->setValue(bar->maximum());
    write_lines(50);
    EXPECT_EQ(bar->value(), bar->maximum());
}

TEST_F(ui_test, progress_shows_below_the_log_only_while_a_run_goes_on)
{
    auto* progress = control<QProgressBar>(core::window_id::mainform, "progress");
    s->mainform.visible = true;
    windows->sync();
    EXPECT_FALSE(progress->isVisible());

    // A blocking step shows the log so far and the progress through the keep-alive hook.
    core::line(s->log(), "step");
    // 475 blocks in 38 s leave 37 blocks, about 3 s.
    s->mainform.progress = {true, 2, 475, 512, std::chrono::steady_clock::now() - std::chrono::seconds(38)};
    s->keep_alive_now();
    EXPECT_TRUE(control<QPlainTextEdit>(core::window_id::mainform, "dialog")->toPlainText().endsWith("\nstep"));
    EXPECT_TRUE(progress->isVisible());
    EXPECT_EQ(progress->text(), "Block 476 of 512, sector 2, about 0:03 left");
    EXPECT_EQ(std::pair(progress->value(), progress->maximum()), std::pair(475, 512));

    s->mainform.progress.visible = false;
    windows->sync();
    EXPECT_FALSE(progress->isVisible());
}

}  // namespace
}  // namespace fernwick::test
