// The seven windows: captions, styles, controls, initial states and menus,
// and every control shown whole and apart.

#include <QAbstractButton>
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

struct control_row {
    W window;
    const char* name;
    const char* kind;
    const char* caption;
    bool selected;
};

const control_row k_controls[] = {
    {W::mainform, "dialog", "QPlainTextEdit", "", false},
    {W::RESETFORM, "Frame1", "QGroupBox", "Port-Selection", false},
    {W::RESETFORM, "com1_", "QRadioButton", "COM 1", true},
    {W::RESETFORM, "com2_", "QRadioButton", "COM 2", false},
    {W::RESETFORM, "Frame2", "QGroupBox", "BaudRate-Selection", false},
    {W::RESETFORM, "bs_2400", "QRadioButton", "2400", false},
    {W::RESETFORM, "bs_4800", "QRadioButton", "4800", false},
    {W::RESETFORM, "bs_9600", "QRadioButton", "9600", true},
    {W::RESETFORM, "bs_14400", "QRadioButton", "14400", false},
    {W::RESETFORM, "bs_19200", "QRadioButton", "19200", false},
    {W::RESETFORM, "Label1", "QLabel", "Enable the Bootstrap Loader and reset the microcontroller ", false},
    {W::RESETFORM, "RESET_OK", "QPushButton", "OK", false},
    {W::statusform, "Label1", "QLabel", "Sector 0:", false},
    {W::statusform, "Label2", "QLabel", "Sector 1:", false},
    {W::statusform, "Label3", "QLabel", "Sector 2:", false},
    {W::statusform, "Label4", "QLabel", "Sector 3:", false},
    {W::statusform, "status_sector_0", "QLineEdit", "", false},
    {W::statusform, "status_sector_1", "QLineEdit", "", false},
    {W::statusform, "status_sector_2", "QLineEdit", "", false},
    {W::statusform, "status_sector_3", "QLineEdit", "", false},
    {W::statusform, "status_cancel", "QPushButton", "Close", false},
    {W::LocationForm, "Frame3", "QGroupBox", "Where is the bootstrap loader code located now ?", false},
    {W::LocationForm, "sect0", "QRadioButton", "Sector 0", false},
    {W::LocationForm, "sect2", "QRadioButton", "Sector 2", true},
    {W::LocationForm, "external", "QRadioButton", "externally", false},
    {W::LocationForm, "Frame1", "QGroupBox", "Where shall the bootstrap loader code be located after programming ?",
     false},
    {W::LocationForm, "Label2", "QLabel",
     " NOTE: This location is reserved and user code at  this location will be overwritten !", false},
    {W::LocationForm, "Option1", "QRadioButton", "Sector 0", false},
    {W::LocationForm, "Option2", "QRadioButton", "Sector 2", true},
    {W::LocationForm, "Option3", "QRadioButton", "Do not include any bootstrap loader code ", false},
    {W::LocationForm, "Frame2", "QGroupBox", "Sector 0 is mapped to ...", false},
    {W::LocationForm, "seg0", "QRadioButton", "Segment 0     (00'0000h - 00'7FFFh)", true},
    {W::LocationForm, "seg1", "QRadioButton", "Segment 1     (01'0000h - 01'7FFFh)", false},
    {W::LocationForm, "Command1", "QPushButton", "OK", false},
    {W::ConfirmForm, "Label1", "QLabel", "These Sectors will be erased and programmed:", false},
    {W::ConfirmForm, "sector0", "QCheckBox", "", false},
    {W::ConfirmForm, "sector1", "QCheckBox", "", false},
    {W::ConfirmForm, "sector2", "QCheckBox", "", false},
    {W::ConfirmForm, "sector3", "QCheckBox", "", false},
    {W::ConfirmForm, "program_button", "QPushButton", "Program Flash", false},
    {W::ConfirmForm, "Command2", "QPushButton", "Cancel", false},
    {W::ConfirmForm, "Command1", "QPushButton", "Back", false},
    {W::Warning, "Label1", "QLabel",
     "If you don't include the bootstrap loader code either in Sector 0 or Segment 2 you won't be able to "
     "reprogram the Flash memory again if no external bootstrap loader support exists",
     false},
    {W::Warning, "Command1", "QPushButton", "OK", false},
    {W::Warning, "Command2", "QPushButton", "Cancel", false},
    {W::AboutForm, "Label1", "QLabel", "Version 2.1", false},
    {W::AboutForm, "Label3", "QLabel", "last modification:  February 1998", false},
    {W::AboutForm, "Command1", "QPushButton", "Close", false},
};

// A control's caption: its text, or a frame's title.
QString caption_of(const QWidget* w)
{
    for (const char* p : {"text", "title", "plainText"})
        if (w->property(p).isValid()) return w->property(p).toString();
    return {};
}

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

TEST_F(ui_test, controls_carry_their_names_kinds_captions_and_initial_states)
{
    for (const auto& row : k_controls) {
        SCOPED_TRACE(row.name);
        QWidget* c = control(row.window, row.name);
        ASSERT_NE(c, nullptr);
        EXPECT_STREQ(c->metaObject()->className(), row.kind);
        EXPECT_EQ(caption_of(c), row.caption);
        auto* button = qobject_cast<QAbstractButton*>(c);
        EXPECT_EQ(button != nullptr && button->isChecked(), row.selected);
        EXPECT_TRUE(c->isEnabled());
        // A window disabled behind another takes no input but reads as before.
        const QPalette::ColorRole text = c->foregroundRole();
        EXPECT_EQ(c->palette().color(QPalette::Disabled, text), c->palette().color(QPalette::Active, text));
        // The log and the status boxes only show.
        EXPECT_NE(c->property("readOnly"), QVariant(false));
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
