// The seven windows carry their captions, controls, styles and initial states.

#include <QAbstractButton>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QWindow>

#include "core/port_names.h"
#include "ui/alert_cursor.h"
#include "ui/support_ui.h"

namespace fernwick::test {
namespace {

using core::window_id;
using W = window_id;

struct window_row {
    window_id id;
    const char* name;
    const char* caption;
    bool fixed;
};

const window_row k_windows[] = {
    {W::mainform, "mainform", "KORVANE - Fernwick Mirel", false},
    {W::RESETFORM, "RESETFORM", "KORVANE - Fernwick Mirel", false},
    {W::statusform, "statusform", "Flash Status Register", false},
    {W::LocationForm, "LocationForm", "Flash Memory Map", true},
    {W::ConfirmForm, "ConfirmForm", "KORVANE - Fernwick Mirel", true},
    {W::Warning, "Warning", "! ! !     Warning     ! ! !", true},
    {W::AboutForm, "AboutForm", "About KORVANE Fernwick Mirel", true},
};

struct control_row {
    window_id window;
    const char* name;
    const char* kind;
    const char* caption;
    bool selected;
};

const control_row k_controls[] = {
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
    {W::LocationForm, "Frame1", "QGroupBox",
     "Where shall the bootstrap loader code be located after programming ?", false},
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

QString caption_of(QWidget* w)
{
    if (auto* b = qobject_cast<QAbstractButton*>(w)) return b->text();
    if (auto* l = qobject_cast<QLabel*>(w)) return l->text();
    if (auto* g = qobject_cast<QGroupBox*>(w)) return g->title();
    if (auto* e = qobject_cast<QLineEdit*>(w)) return e->text();
    return {};
}

bool selected(QWidget* w)
{
    auto* b = qobject_cast<QAbstractButton*>(w);
    return b != nullptr && b->isChecked();
}

TEST_F(ui_test, windows_carry_their_names_captions_and_styles)
{
    for (const auto& row : k_windows) {
        QWidget* w = window(row.id);
        SCOPED_TRACE(row.name);
        EXPECT_EQ(w->objectName(), row.name);
        EXPECT_EQ(w->windowTitle(), row.caption);
        EXPECT_TRUE(w->isWindow());
        const Qt::WindowFlags flags = w->windowFlags();
        EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
        EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
        EXPECT_EQ(bool(flags & Qt::WindowMinimizeButtonHint), !row.fixed);
        w->adjustSize();
        EXPECT_EQ(w->minimumSize() == w->maximumSize(), row.fixed);
    }
}

TEST_F(ui_test, dialog_windows_stay_above_the_main_window)
{
    for (W id : {W::statusform, W::LocationForm, W::ConfirmForm, W::Warning, W::AboutForm}) {
        EXPECT_EQ(window(id)->windowHandle()->transientParent(), window(W::mainform)->windowHandle());
    }
    EXPECT_EQ(window(W::RESETFORM)->windowHandle()->transientParent(), nullptr);
}

TEST_F(ui_test, controls_carry_their_names_kinds_captions_and_selection)
{
    for (const auto& row : k_controls) {
        SCOPED_TRACE(row.name);
        QWidget* c = control(row.window, row.name);
        ASSERT_NE(c, nullptr);
        EXPECT_STREQ(c->metaObject()->className(), row.kind);
        EXPECT_EQ(caption_of(c), row.caption);
        EXPECT_EQ(selected(c), row.selected);
        EXPECT_TRUE(c->isEnabled());
    }
}

TEST_F(ui_test, sector_labels_of_the_confirmation_run_from_sector_3_down)
{
    s->ConfirmForm.visible = s->statusform.visible = true;
    windows->sync();
    const auto labels = window(W::ConfirmForm)->findChildren<QLabel*>(QStringLiteral("Label2"));
    ASSERT_EQ(labels.size(), 4);
    for (QLabel* l : labels) {
        const int index = l->property("index").toInt();
        EXPECT_EQ(l->text(), QStringLiteral("Sector %1").arg(3 - index));
        auto* box = control<QCheckBox>(W::ConfirmForm, qPrintable(QStringLiteral("sector%1").arg(3 - index)));
        EXPECT_EQ(box->geometry().center().y(), l->geometry().center().y());
        EXPECT_LT(box->geometry().right(), l->geometry().left());
    }
    EXPECT_LT(control(W::ConfirmForm, "sector3")->y(), control(W::ConfirmForm, "sector0")->y());
    EXPECT_LT(control(W::statusform, "status_sector_0")->y(), control(W::statusform, "status_sector_3")->y());
}

TEST_F(ui_test, menu_bar_holds_six_menus_in_order_with_one_item_each)
{
    struct menu_row {
        const char* name;
        const char* caption;
        const char* item;
        const char* item_caption;
        bool visible_after_start;
    };
    const menu_row rows[] = {
        {"About_", " &About ", "About_flash_", "About Fernwick", true},
        {"exit_", " &Exit ", "finish_", " &Finish", true},
        {"restart_", " &Re-Start ", "restart_flash_", "&the Fernwick", true},
        {"reset_", " Re&set ", "reset_micro_", "the microcontroller", false},
        {"status_", " &Flash-Status ", "show_status", "&Show", false},
        {"program_", " &Program Flash ", "load_hex_", "Load Hex-File", false},
    };
    const auto actions = static_cast<QMainWindow*>(window(W::mainform))->menuBar()->actions();
    ASSERT_EQ(actions.size(), 6);
    for (int i = 0; i < 6; ++i) {
        const menu_row& row = rows[i];
        SCOPED_TRACE(row.name);
        QMenu* menu = actions[i]->menu();
        ASSERT_NE(menu, nullptr);
        EXPECT_EQ(menu->objectName(), row.name);
        EXPECT_EQ(menu->title(), row.caption);
        EXPECT_EQ(actions[i]->isVisible(), row.visible_after_start);
        ASSERT_EQ(menu->actions().size(), 1);
        EXPECT_EQ(menu->actions()[0]->objectName(), row.item);
        EXPECT_EQ(menu->actions()[0]->text(), row.item_caption);
        EXPECT_TRUE(menu->actions()[0]->isEnabled());
        EXPECT_FALSE(menu->actions()[0]->isCheckable());
    }
}

TEST_F(ui_test, only_the_reset_window_shows_after_start_up)
{
    for (const auto& row : k_windows) {
        EXPECT_EQ(window(row.id)->isVisible(), row.id == W::RESETFORM) << row.name;
    }
}

TEST_F(ui_test, log_box_is_read_only_grey_and_empty)
{
    auto* log = control<QPlainTextEdit>(W::mainform, "dialog");
    EXPECT_TRUE(log->isReadOnly());
    EXPECT_TRUE(log->toPlainText().isEmpty());
    EXPECT_EQ(log->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    EXPECT_EQ(log->palette().color(QPalette::Base), QColor(224, 224, 224));
    EXPECT_EQ(log->palette().color(QPalette::Text), QColor(64, 64, 64));
}

TEST_F(ui_test, status_boxes_are_read_only_and_empty)
{
    for (const char* name : {"status_sector_0", "status_sector_1", "status_sector_2", "status_sector_3"}) {
        auto* box = control<QLineEdit>(W::statusform, name);
        EXPECT_TRUE(box->isReadOnly()) << name;
    }
}

TEST_F(ui_test, windows_and_controls_carry_their_colours)
{
    struct colour_row {
        window_id window;
        const char* name;  // null: the window itself
        QPalette::ColorRole role;
        QColor colour;
    };
    const colour_row rows[] = {
        {W::RESETFORM, "Label1", QPalette::Window, QColor(255, 255, 128)},
        {W::LocationForm, nullptr, QPalette::Window, QColor(192, 192, 192)},
        {W::LocationForm, "Frame3", QPalette::Window, QColor(192, 192, 192)},
        {W::LocationForm, "Label2", QPalette::Window, QColor(255, 255, 0)},
        {W::ConfirmForm, "Label1", QPalette::Window, QColor(255, 255, 128)},
        {W::Warning, nullptr, QPalette::Window, QColor(192, 192, 0)},
        {W::Warning, "Label1", QPalette::Window, QColor(255, 255, 128)},
        {W::Warning, "Command1", QPalette::Button, QColor(192, 192, 192)},
        {W::Warning, "Command2", QPalette::Button, QColor(192, 192, 192)},
        {W::AboutForm, nullptr, QPalette::Window, QColor(128, 255, 128)},
        {W::AboutForm, "Command1", QPalette::Button, QColor(0, 255, 0)},
    };
    for (const auto& row : rows) {
        QWidget* w = row.name == nullptr ? window(row.window) : control(row.window, row.name);
        ASSERT_NE(w, nullptr);
        EXPECT_EQ(w->palette().color(row.role), row.colour) << (row.name ? row.name : "window");
    }
}

TEST_F(ui_test, bold_texts_are_bold)
{
    const std::pair<window_id, const char*> rows[] = {
        {W::LocationForm, "Label2"}, {W::Warning, "Label1"},   {W::Warning, "Command1"},
        {W::Warning, "Command2"},    {W::AboutForm, "Label1"}, {W::AboutForm, "Label3"},
        {W::AboutForm, "Command1"},
    };
    for (const auto& [w, name] : rows) EXPECT_TRUE(control(w, name)->font().bold()) << name;
    EXPECT_GT(control(W::AboutForm, "Label1")->font().pointSizeF(),
              control(W::AboutForm, "Label3")->font().pointSizeF());
    EXPECT_TRUE(control<QLabel>(W::Warning, "Label1")->wordWrap());
}

TEST_F(ui_test, initial_keyboard_focus_rests_on_the_named_control)
{
    const std::pair<window_id, const char*> rows[] = {
        {W::mainform, "dialog"},       {W::RESETFORM, "RESET_OK"},         {W::statusform, "status_sector_0"},
        {W::LocationForm, "Command1"}, {W::ConfirmForm, "program_button"}, {W::Warning, "Command1"},
    };
    for (const auto& [w, name] : rows) EXPECT_EQ(window(w)->focusWidget(), control(w, name)) << name;
}

TEST_F(ui_test, option3_shows_the_alert_pointer)
{
    const QCursor pointer = control(W::LocationForm, "Option3")->cursor();
    EXPECT_EQ(pointer.shape(), Qt::BitmapCursor);
    EXPECT_EQ(pointer.pixmap().size(), QSize(ui::k_alert_cursor_size, ui::k_alert_cursor_size));
    const QImage image = pointer.pixmap().toImage();
    const int mid = ui::k_alert_cursor_size / 2;
    EXPECT_EQ(image.pixelColor(mid, mid - 4), QColor(Qt::black));                // the stroke
    EXPECT_EQ(image.pixelColor(mid - 8, mid).rgb(), QColor(255, 255, 0).rgb());  // the disc
    EXPECT_EQ(image.pixelColor(0, 0).alpha(), 0);                                // round, not square
}

TEST_F(ui_test, com_options_tell_their_device)
{
    EXPECT_EQ(control(W::RESETFORM, "com1_")->toolTip().toStdString(), core::device_for_port(1));
    EXPECT_EQ(control(W::RESETFORM, "com2_")->toolTip().toStdString(), core::device_for_port(2));
}

}  // namespace
}  // namespace fernwick::test
