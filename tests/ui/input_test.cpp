// Each kind of operator input reaches its handler, and the windows then show
// the model. What each handler does is for the scenarios to check.

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QWheelEvent>

#include "ui/main_window.h"
#include "ui/support_ui.h"

namespace fernwick::test {
namespace {

using W = core::window_id;

using setup = std::function<void(core::app_state&)>;
using effect = std::function<bool(core::app_state&)>;

setup show(W id)
{
    return [id](core::app_state& s) { state_of(s, id).visible = true; };
}
effect shown(W id, bool visible = true)
{
    return [id, visible](core::app_state& s) { return state_of(s, id).visible == visible; };
}

const effect no_menu_open = [](core::app_state&) { return QApplication::activePopupWidget() == nullptr; };

// A repeat: Enter held down, its first press long gone. Held: a key pressed
// on the control and held while the window it opens takes the focus, its
// repeats coming as X11 sends them (a release and a press of one time stamp,
// not always marked as repeats), then let go.
enum class input { click, enter, menu, close_box, mouse, alt_r, repeat, held_enter, held_space, wheel };
const char* const k_input_names[] = {"click", "Enter",  "menu",       "close box",  "mouse",
                                     "Alt+R", "repeat", "held Enter", "held Space", "wheel"};

// The run's first step hides the sector window: it still shows, so no run began.
const effect no_run = shown(W::ConfirmForm);

// A file with data for sector 1 only, chosen: OK in the location window opens the sector window.
const setup chosen_file = [](core::app_state& s) {
    s.hex_file_name =
        test::write_lines(test::scratch_dir() / "a.hex", {":020000040001F9", ":01800000AAD5", ":00000001FF"});
    s.LocationForm.visible = true;
};

// The log holds more than it shows while a dialog waits over the disabled main window.
const setup long_log = [](core::app_state& s) {
    for (int i = 0; i < 100; ++i) core::note(s.log(), "line " + std::to_string(i));
    s.mainform.visible = s.ConfirmForm.visible = true;
    s.mainform.enabled = false;
};

QKeyEvent* key_event(QEvent::Type type, int key, ulong at, bool repeat = false)
{
    auto* e = new QKeyEvent(type, key, Qt::NoModifier, {}, repeat);
    e->setTimestamp(at);
    return e;
}

// The press, then each later event to whatever has the focus by then.
void hold(QWidget* control, int key)
{
    const auto to_focus = [](QEvent* e) {
        if (QApplication::focusWidget() == nullptr) return ADD_FAILURE() << "no focus";
        QApplication::postEvent(QApplication::focusWidget(), e);
        QApplication::processEvents();
    };
    control->activateWindow();
    QApplication::processEvents();
    control->setFocus();
    to_focus(key_event(QEvent::KeyPress, key, 1000));
    for (const ulong at : {1660UL, 1700UL}) {
        to_focus(key_event(QEvent::KeyRelease, key, at, at > 1660));
        to_focus(key_event(QEvent::KeyPress, key, at, at > 1660));
    }
    to_focus(key_event(QEvent::KeyRelease, key, 2000));
}
// Long after its window appeared, within the double-click interval of it, or
// while a handler blocks the window (the bring-up after OK, which paints).
enum class moment { settled, fresh, in_run };

struct input_row {
    input how;
    W window;          // menu items are the main window's
    const char* name;  // the control or menu item; null for the close box
    setup before;
    effect took_effect;
    int quits;
    moment when;
};

TEST(input, each_kind_of_input_reaches_its_handler_and_the_windows_follow_the_model)
{
    const input_row rows[] = {
        {input::click, W::RESETFORM, "bs_2400", {}, [](auto& s) { return s.baud_rate == "2400"; }},
        {input::click, W::RESETFORM, "com2_", {}, [](auto& s) { return s.comm_port == 2; }},
        {input::click, W::LocationForm, "Option1", {}, [](auto& s) { return s.bsl_target == 0; }},
        {input::click, W::RESETFORM, "RESET_OK", {}, shown(W::mainform)},
        {input::enter, W::RESETFORM, "RESET_OK", {}, shown(W::mainform)},
        {input::click, W::statusform, "status_cancel", show(W::statusform), shown(W::statusform, false)},
        {input::click, W::Warning, "Command1", {}, shown(W::ConfirmForm)},
        {input::click, W::Warning, "Command2", {}, shown(W::LocationForm)},
        {input::click, W::ConfirmForm, "Command1", {}, shown(W::LocationForm)},
        {input::click, W::ConfirmForm, "Command2", show(W::ConfirmForm), shown(W::ConfirmForm, false)},
        {input::click, W::AboutForm, "Command1", show(W::AboutForm), shown(W::AboutForm, false)},
        {input::menu, W::mainform, "About_flash_", {}, shown(W::AboutForm)},
        {input::menu, W::mainform, "restart_flash_", show(W::mainform), shown(W::mainform, false)},
        // The file dialog was cancelled: the handler hears of no file.
        {input::menu,
         W::mainform,
         "load_hex_",
         {},
         [](auto& s) { return s.log().text().find("doesn't exist") != std::string::npos; }},
        {input::menu, W::mainform, "finish_", {}, {}, 1},
        {input::close_box, W::RESETFORM, nullptr, {}, {}, 1},
        {input::close_box, W::mainform, nullptr, show(W::mainform), {}, 1},
        {input::close_box, W::statusform, nullptr, show(W::statusform), shown(W::statusform, false)},
        {input::close_box, W::LocationForm, nullptr, show(W::LocationForm), shown(W::LocationForm, false)},
        {input::close_box, W::ConfirmForm, nullptr, show(W::ConfirmForm), shown(W::ConfirmForm, false)},
        {input::close_box, W::Warning, nullptr, show(W::Warning), shown(W::LocationForm)},
        {input::close_box, W::AboutForm, nullptr, show(W::AboutForm), shown(W::AboutForm, false)},
        // Ticking sector 0, which holds the code, forces sector 2's box for the saved copy.
        {input::click, W::ConfirmForm, "sector0",
         [](auto& s) {
             s.bsl_now = s.bsl_target = 0;
             s.sector0_has_data = s.sector2_has_data = s.sector2_on = core::k_true;
             s.ConfirmForm.sector[2].value = 1;
             s.ConfirmForm.visible = true;
         },
         [](auto& s) { return s.sector0_on == core::k_true && !s.ConfirmForm.sector[2].enabled; }},
        // A disabled window takes no input, its close box included.
        {input::close_box, W::RESETFORM, nullptr, [](auto& s) { s.RESETFORM.enabled = false; }, {}, 0},
        // The second click of a double click on the window before is not meant for a new window.
        {input::mouse, W::Warning, "Command1", show(W::Warning), shown(W::ConfirmForm)},
        {input::mouse, W::Warning, "Command1", show(W::Warning), shown(W::Warning), 0, moment::fresh},
        {input::enter, W::Warning, "Command1", show(W::Warning), shown(W::Warning), 0, moment::fresh},
        // Input made while a handler blocks is dropped, not carried out after it.
        {input::close_box, W::mainform, nullptr, {}, shown(W::mainform), 0, moment::in_run},
        {input::mouse, W::AboutForm, "Command1", show(W::AboutForm), shown(W::AboutForm), 0, moment::in_run},
        {input::enter, W::AboutForm, "Command1", show(W::AboutForm), shown(W::AboutForm), 0, moment::in_run},
        {input::alt_r, W::mainform, nullptr, {}, no_menu_open, 0, moment::in_run},
        // A held key presses nothing in the windows it opens, nor does its repeat where it lands.
        {input::repeat, W::Warning, "Command1", show(W::Warning), shown(W::Warning)},
        {input::repeat, W::LocationForm, "Command1", show(W::LocationForm), shown(W::LocationForm)},
        {input::repeat, W::ConfirmForm, "program_button", show(W::ConfirmForm), no_run},
        {input::held_enter, W::Warning, "Command1", show(W::Warning), no_run},
        {input::held_space, W::Warning, "Command1", show(W::Warning), no_run},
        {input::held_enter, W::LocationForm, "Command1", chosen_file, no_run},
        // While a dialog waits the main window takes no command, but its log scrolls.
        {input::alt_r, W::mainform, nullptr, long_log, no_menu_open},
        {input::wheel, W::mainform, "dialog", long_log,
         [](auto&) {
             for (const QWidget* w : QApplication::topLevelWidgets()) {
                 const auto* log = w->findChild<QPlainTextEdit*>("dialog");
                 if (log != nullptr) return log->verticalScrollBar()->value() < log->verticalScrollBar()->maximum();
             }
             return false;
         }},
    };
    for (const auto& row : rows) {
        QApplication::setDoubleClickInterval(row.when == moment::fresh ? 3'600'000 : 0);
        auto s = make_fake_state();
        ui::shell windows(*s);
        int quits = 0;
        s->quit = [&quits] { ++quits; };
        windows.mainform().choose_hex_file = [] { return std::optional<std::string>{}; };
        if (row.before) row.before(*s);
        windows.sync();
        QWidget* w = windows.window(row.window);
        SCOPED_TRACE(w->objectName().toStdString() + " " + (row.name != nullptr ? row.name : "") + " " +
                     k_input_names[int(row.how)]);
        QWidget* control = row.name != nullptr ? w->findChild<QWidget*>(row.name) : nullptr;
        ASSERT_TRUE(control != nullptr || row.name == nullptr || row.how == input::menu);
        const auto post = [](QObject* to, QEvent* e) { QApplication::postEvent(to, e); };
        const auto give = [&] {
            if (row.how == input::click) qobject_cast<QAbstractButton*>(control)->click();
            if (row.how == input::menu) w->findChild<QAction*>(row.name)->trigger();
            if (row.how == input::enter) post(control, new QKeyEvent(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier));
            if (row.how == input::close_box) post(w, new QCloseEvent);
            if (row.how == input::alt_r) post(w, new QKeyEvent(QEvent::KeyPress, Qt::Key_R, Qt::AltModifier, "r"));
            if (row.how == input::repeat) post(control, key_event(QEvent::KeyPress, Qt::Key_Return, 1660, true));
            if (row.how == input::held_enter || row.how == input::held_space)
                hold(control, row.how == input::held_enter ? Qt::Key_Return : Qt::Key_Space);
            if (row.how == input::wheel) {
                QWidget* view = static_cast<QPlainTextEdit*>(control)->viewport();
                const QPointF at = view->rect().center();
                post(view, new QWheelEvent(at, view->mapToGlobal(at), {}, {0, 120}, Qt::NoButton, {}, Qt::NoScrollPhase,
                                           false));
            }
            if (row.how != input::mouse) return;
            const QPointF at = control->rect().center(), on_screen = control->mapToGlobal(at);
            post(control, new QMouseEvent(QEvent::MouseButtonPress, at, on_screen, Qt::LeftButton, Qt::LeftButton, {}));
            post(control, new QMouseEvent(QEvent::MouseButtonRelease, at, on_screen, Qt::LeftButton, Qt::NoButton, {}));
        };
        if (row.when != moment::in_run) give();
        // In a run the input comes while the bring-up after OK paints, once the windows have settled.
        if (row.when == moment::in_run)
            s->repaint = [give, painted = s->repaint] { painted(), QApplication::processEvents(), give(); };
        if (row.when == moment::in_run) windows.window(W::RESETFORM)->findChild<QAbstractButton*>("RESET_OK")->click();
        QApplication::processEvents();

        EXPECT_TRUE(!row.took_effect || row.took_effect(*s));
        EXPECT_EQ(quits, row.quits);
        for (W id :
             {W::mainform, W::Warning, W::ConfirmForm, W::statusform, W::LocationForm, W::RESETFORM, W::AboutForm}) {
            EXPECT_EQ(windows.window(id)->isVisible(), state_of(*s, id).visible) << int(id);
        }
    }
}

}  // namespace
}  // namespace fernwick::test
