// Every window builds and shows: each control whole and apart, readable when
// its window is disabled, text boxes only showing, the dialogs opened centred
// on the main window, and the sector boxes the rules lock telling why.

#include <QApplication>
#include <QLabel>
#include <QPlainTextEdit>

#include <cstdlib>
#include <sstream>

#include "core/qt_serial_link.h"
#include "ui/bench_settings.h"
#include "ui/support_ui.h"

namespace fernwick::test {
namespace {

using W = core::window_id;

// The dialogs are kept above the main window (as dialogs of it, for the
// window manager) and opened centred on it.
const std::pair<W, bool> k_windows[] = {
    {W::mainform, false},   {W::RESETFORM, false}, {W::statusform, true}, {W::LocationForm, true},
    {W::ConfirmForm, true}, {W::Warning, true},    {W::AboutForm, true},
};

// Each control the operator sees lies inside its parent and apart from its
// siblings, and a label that does not wrap is wide enough for its text.
void expect_laid_out(QWidget* parent)
{
    QList<QWidget*> kids;
    for (QWidget* w : parent->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        // The size grip is the status bar's own and may reach into its corner.
        if (!w->isWindow() && w->isVisible() && !w->inherits("QSizeGrip")) kids << w;
    }
    for (QWidget* w : kids) {
        SCOPED_TRACE(w->metaObject()->className() + (" " + w->objectName().toStdString()));
        EXPECT_TRUE(parent->rect().contains(w->geometry())) << "cut off by " << parent->objectName().toStdString();
        const auto* label = qobject_cast<QLabel*>(w);
        EXPECT_TRUE(label == nullptr || label->wordWrap() || w->width() >= w->sizeHint().width()) << "too narrow";
        for (QWidget* other : kids) {
            if (other != w && !w->inherits("QScrollBar") && !other->inherits("QScrollBar")) {
                EXPECT_FALSE(w->geometry().intersects(other->geometry()))
                    << "overlaps " << other->objectName().toStdString();
            }
        }
        if (qobject_cast<QPlainTextEdit*>(w) == nullptr) expect_laid_out(w);
    }
}

TEST_F(ui_test, every_window_shows_its_controls_whole_apart_and_readable_and_the_dialogs_centred)
{
    core::notice_block(s->log(), {"                             Please wait one moment !"});
    s->mainform.progress = {true, 1, 12, 512};
    s->statusform.status_sector = {"0000", "0000", "0000", "0000"};
    s->ConfirmForm.sector = {{{1, false}, {0, false}, {1, true}, {0, true}}};  // sectors 0 and 1 locked
    // The notice of the bytes not programmed, in the sector window too: it may lie over the log's.
    s->ConfirmForm.unplaced = {
        "     These bytes of the Hex-file reach no flash and will not be programmed :",
        "       02'0040h-02'004Fh (line 2, 16 bytes): under the bootstrap loader code of sector 2",
        "     Use Back to change the choices, or Cancel; Program Flash programs the rest."};
    s->LocationForm.preselected =
        "preselected: the run on COM 1 at 10:42 left the code only in Sector 0; for "
        "another board, choose where its code lies";
    const auto show_all = [this](bool shown) {
        for (const auto& [id, dialog] : k_windows) state_of(*s, id).visible = shown;
        windows->sync();
    };
    QWidget* main = window(W::mainform);
    // The main window moves between two showings; each showing opens the dialogs on it.
    for (const QPoint main_at : {QPoint(20, 300), QPoint(10, 40)}) {
        show_all(false);
        main->move(main_at);
        show_all(true);
        // The second click of a double click on an OK that opens the sector window does not land on the erase.
        const auto on_screen = [](QWidget* b) { return QRect(b->mapToGlobal(QPoint()), b->size()); };
        const QRect erase = on_screen(control(W::ConfirmForm, "program_button"));
        for (W before : {W::Warning, W::LocationForm})
            EXPECT_FALSE(erase.intersects(on_screen(control(before, "Command1"))));
        for (const auto& [id, dialog] : k_windows) {
            QWidget* w = window(id);
            SCOPED_TRACE(w->objectName().toStdString());
            ASSERT_TRUE(w->isVisible());
            expect_laid_out(w);
            if (dialog) {
                EXPECT_EQ(w->frameGeometry().center(), main->frameGeometry().center());
                EXPECT_EQ(w->windowType(), Qt::Dialog);
            }
            for (QWidget* c : w->findChildren<QWidget*>()) {
                if (c->objectName().isEmpty() || c->inherits("QMenu")) continue;  // Qt's own parts, pop-up menus
                SCOPED_TRACE(c->objectName().toStdString());
                // A window disabled behind another takes no input but reads as before.
                const QPalette::ColorRole text = c->foregroundRole();
                EXPECT_EQ(c->palette().color(QPalette::Disabled, text), c->palette().color(QPalette::Active, text));
                // The log and the status boxes only show.
                EXPECT_NE(c->property("readOnly"), QVariant(false));
            }
        }
    }
    // A locked sector box says why, and so does its caption; ticked, it reads apart from a free one.
    const char* const why[] = {"kept on by the bootstrap-code rules", "the file has no data for this sector", "", ""};
    const auto captions = window(W::ConfirmForm)->findChildren<QLabel*>("Label2");  // sector 3 on top
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(control(W::ConfirmForm, ("sector" + std::to_string(i)).c_str())->toolTip().toStdString(), why[i]);
        EXPECT_EQ(captions[3 - i]->toolTip().toStdString(), why[i]);
    }
    const auto grey = [this](const char* box) {
        const QImage look = control(W::ConfirmForm, box)->grab().toImage();
        return qGray(look.scaled(1, 1, Qt::IgnoreAspectRatio, Qt::SmoothTransformation).pixel(0, 0));
    };
    EXPECT_GT(grey("sector2") - grey("sector0"), 25);  // a tenth of the way from black to white
    const auto* list = control<QPlainTextEdit>(W::ConfirmForm, "unplaced");
    EXPECT_TRUE(list->isVisible());
    EXPECT_EQ(list->toPlainText().toStdString(),
              "These bytes of the Hex-file reach no flash and will not be programmed :\n"
              "  02'0040h-02'004Fh (line 2, 16 bytes): under the bootstrap loader code of sector 2\n"
              "Use Back to change the choices, or Cancel; Program Flash programs the rest.");
    EXPECT_EQ(control<QLabel>(W::LocationForm, "preselected")->text().toStdString(), s->LocationForm.preselected);
}

// The window manager minimises a dialog with its main window, and the whole
// program is gone: a fixed dialog the operator minimised comes back with it.
TEST_F(ui_test, a_fixed_dialog_minimised_comes_back_with_the_main_window)
{
    for (W id : {W::Warning, W::ConfirmForm, W::LocationForm, W::AboutForm}) {
        QWidget* dialog = window(id);
        SCOPED_TRACE(dialog->objectName().toStdString());
        s->mainform.visible = state_of(*s, id).visible = true;
        windows->sync();
        QApplication::processEvents();
        dialog->activateWindow();
        QApplication::processEvents();
        ASSERT_EQ(QApplication::activeWindow(), dialog) << QApplication::activeWindow()->objectName().toStdString();
        window(W::mainform)->showMinimized();
        dialog->showMinimized();
        QApplication::processEvents();
        EXPECT_FALSE(dialog->isMinimized() || window(W::mainform)->isMinimized());
        state_of(*s, id).visible = false;
        windows->sync();
    }
}

// Started from a desktop menu the program has no standard error: a wrong
// key of the settings file is said in a window too, and what the windows
// say about a device or a sequence is what a window can act on.
TEST(start_up, the_windows_say_what_is_wrong_in_words_the_operator_can_act_on)
{
    const auto file = (test::scratch_dir() / "fernwick.ini").string();
    struct row {
        std::string text, entry_option;  // the settings file; --entry as given
        bool read;
        std::string shown, exit_given_in;  // the window's text; where the exit sequence came from
    };
    const std::string why = "step 2 'wait=x': wait takes 0 to 10000 ms";
    const row rows[] = {
        {"entry=both=1,1,wait=x\n", "", false,
         "The key entry of the settings file " + file + " is wrong:\n" + why +
             "\n\nCorrect or remove it there, then start Fernwick again."},
        {"entry=both=1,1,wait=x\nexit=reset-rts-boot-dtr\n", "dtr=1", true, "", file},  // --entry comes first
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.text);
        test::write_lines(file, {r.text});
        core::bench_setup bench;
        std::string no_why;
        if (!r.entry_option.empty()) bench.entry = *core::parse_modem_sequence(r.entry_option, false, no_why);
        std::ostringstream err;
        std::string shown;
        EXPECT_EQ(ui::read_bench_settings(file, bench, err, [&shown](const std::string& t) { shown = t; }), r.read);
        EXPECT_EQ(shown, r.shown);
        EXPECT_EQ(err.str(), r.read ? "" : "fernwick: " + file + ": entry: " + why + "\n");
        EXPECT_EQ(bench.exit.given_in, r.exit_given_in);
    }
    // A device that is not there: the windows read FERNWICK_COM1 at start-up, they have no --device.
    ::setenv("FERNWICK_COM1", (test::scratch_dir() / "no-device").c_str(), 1);
    core::qt_serial_link link;
    link.set_comm_port(1);
    EXPECT_FALSE(link.open());
    EXPECT_NE(link.error_text().find(" when starting Fernwick"), std::string::npos) << link.error_text();
    EXPECT_EQ(link.error_text().find("--device"), std::string::npos);
    ::unsetenv("FERNWICK_COM1");
}

}  // namespace
}  // namespace fernwick::test
