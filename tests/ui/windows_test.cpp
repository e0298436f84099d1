// The seven windows: captions, styles, focus and menus, controls readable
// when disabled, and every control shown whole and apart.

#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QWindow>

#include "ui/alert_cursor.h"
#include "ui/support_ui.h"

namespace fernwick::test {
namespace {

using W = core::window_id;

struct window_row {
    W id;
    const char* name;
    const char* caption;
    bool fixed;          // fixed size, no minimise button
    bool dialog;         // kept above the main window and opened centred on it
    const char* focus;   // the control with the keyboard focus at first
    const char* tinted;  // the window itself when null
    QColor colour;       // invalid: the platform's
};

const window_row k_windows[] = {
    {W::mainform, "mainform", "KORVANE - Fernwick Mirel", false, false, "dialog", "dialog", QColor(224, 224, 224)},
    {W::RESETFORM, "RESETFORM", "KORVANE - Fernwick Mirel", false, false, "RESET_OK", "Label1", QColor(255, 255, 128)},
    {W::statusform, "statusform", "Flash Status Register", false, true, "status_sector_0"},
    {W::LocationForm, "LocationForm", "Flash Memory Map", true, true, "Command1", nullptr, QColor(192, 192, 192)},
    {W::ConfirmForm, "ConfirmForm", "KORVANE - Fernwick Mirel", true, true, "program_button", "Label1",
     QColor(255, 255, 128)},
    {W::Warning, "Warning", "! ! !     Warning     ! ! !", true, true, "Command1", nullptr, QColor(192, 192, 0)},
    {W::AboutForm, "AboutForm", "About KORVANE Fernwick Mirel", true, true, "Command1", nullptr, QColor(128, 255, 128)},
};

TEST_F(ui_test, windows_carry_their_captions_styles_focus_and_colours_and_only_the_reset_window_shows)
{
    for (const auto& row : k_windows) {
        SCOPED_TRACE(row.name);
        QWidget* w = window(row.id);
        EXPECT_EQ(w->objectName(), row.name);
        EXPECT_EQ(w->windowTitle(), row.caption);
        EXPECT_EQ(w->isVisible(), row.id == W::RESETFORM);
        const Qt::WindowFlags flags = w->windowFlags();
        EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
        EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
        EXPECT_EQ(bool(flags & Qt::WindowMinimizeButtonHint), !row.fixed);
        w->adjustSize();
        EXPECT_EQ(w->minimumSize() == w->maximumSize(), row.fixed);
        EXPECT_EQ(w->focusWidget(), control(row.id, row.focus));
        // The dialogs stay above the main window, which takes the focus back while the status shows.
        EXPECT_EQ(w->windowHandle()->transientParent(), row.dialog ? window(W::mainform)->windowHandle() : nullptr);
        if (row.colour.isValid()) {
            QWidget* tinted = row.tinted == nullptr ? w : control(row.id, row.tinted);
            const bool text_box = qobject_cast<QPlainTextEdit*>(tinted) != nullptr;
            EXPECT_EQ(tinted->palette().color(text_box ? QPalette::Base : QPalette::Window), row.colour);
        }
    }
}

TEST_F(ui_test, controls_read_alike_enabled_or_not_and_text_boxes_only_show)
{
    for (const auto& row : k_windows) {
        for (QWidget* c : window(row.id)->findChildren<QWidget*>()) {
            if (c->objectName().isEmpty() || c->inherits("QMenu")) continue;  // Qt's own parts, pop-up menus
            SCOPED_TRACE(row.name + (" " + c->objectName().toStdString()));
            // A window disabled behind another takes no input but reads as before.
            const QPalette::ColorRole text = c->foregroundRole();
            EXPECT_EQ(c->palette().color(QPalette::Disabled, text), c->palette().color(QPalette::Active, text));
            // The log and the status boxes only show.
            EXPECT_NE(c->property("readOnly"), QVariant(false));
        }
    }
}

TEST_F(ui_test, menu_bar_holds_six_menus_in_order_with_the_command_menus_hidden_at_first)
{
    // menu, caption, its one item, the item's caption, shown after start-up
    const std::tuple<const char*, const char*, const char*, const char*, bool> rows[] = {
        {"About_", " &About ", "About_flash_", "About Fernwick", true},
        {"exit_", " &Exit ", "finish_", " &Finish", true},
        {"restart_", " &Re-Start ", "restart_flash_", "&the Fernwick", true},
        {"reset_", " Re&set ", "reset_micro_", "the microcontroller", false},
        {"status_", " &Flash-Status ", "show_status", "&Show", false},
        {"program_", " &Program Flash ", "load_hex_", "Load Hex-File", false},
    };
    const auto menus = static_cast<QMainWindow*>(window(W::mainform))->menuBar()->actions();
    ASSERT_EQ(menus.size(), std::size(rows));
    for (qsizetype i = 0; i < menus.size(); ++i) {
        const auto& [name, caption, item, item_caption, shown] = rows[i];
        QMenu* menu = menus[i]->menu();
        ASSERT_TRUE(menu != nullptr && menu->actions().size() == 1) << name;
        EXPECT_EQ(menu->objectName(), name);
        EXPECT_EQ(menu->title(), caption);
        EXPECT_EQ(menus[i]->isVisible(), shown) << name;
        EXPECT_EQ(menu->actions()[0]->objectName(), item);
        EXPECT_EQ(menu->actions()[0]->text(), item_caption);
    }
}

TEST_F(ui_test, option3_shows_the_round_alert_pointer)
{
    const QCursor pointer = control(W::LocationForm, "Option3")->cursor();
    EXPECT_EQ(pointer.shape(), Qt::BitmapCursor);
    EXPECT_EQ(pointer.pixmap().size(), QSize(ui::k_alert_cursor_size, ui::k_alert_cursor_size));
    // Round, not square: the corners show through.
    EXPECT_EQ(pointer.pixmap().toImage().pixelColor(0, 0).alpha(), 0);
}

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

TEST_F(ui_test, windows_show_controls_whole_and_apart_dialogs_centred_on_the_main_window_sector_labels_by_boxes)
{
    core::notice_block(s->log(), {"                             Please wait one moment !"});
    s->mainform.progress = {true, 1, 12, 512};
    s->statusform.status_sector = {"0000", "0000", "0000", "0000"};
    const auto show_all = [this](bool shown) {
        for (const auto& row : k_windows) state_of(*s, row.id).visible = shown;
        windows->sync();
    };
    QWidget* main = window(W::mainform);
    // The main window moves between two showings; each showing opens the dialogs on it.
    for (const QPoint main_at : {QPoint(20, 300), QPoint(10, 40)}) {
        show_all(false);
        main->move(main_at);
        show_all(true);
        for (const auto& row : k_windows) {
            SCOPED_TRACE(row.name);
            QWidget* w = window(row.id);
            ASSERT_TRUE(w->isVisible());
            expect_laid_out(w);
            if (row.dialog) {
                EXPECT_EQ(w->frameGeometry().center(), main->frameGeometry().center());
            }
        }
    }

    // Label2 is an array: index 0 names sector 3, beside the box of sector 3.
    const auto labels = window(W::ConfirmForm)->findChildren<QLabel*>(QStringLiteral("Label2"));
    ASSERT_EQ(labels.size(), 4);
    for (QLabel* l : labels) {
        const int sector = 3 - l->property("index").toInt();
        EXPECT_EQ(l->text(), QStringLiteral("Sector %1").arg(sector));
        QWidget* box = control(W::ConfirmForm, qPrintable(QStringLiteral("sector%1").arg(sector)));
        EXPECT_EQ(box->geometry().center().y(), l->geometry().center().y());
        EXPECT_LT(box->geometry().right(), l->geometry().left());
    }
}

}  // namespace
}  // namespace fernwick::test
