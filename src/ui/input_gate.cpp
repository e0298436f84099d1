#include "ui/input_gate.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QStyleHints>
#include <QVariant>
#include <QWidget>

namespace fernwick::ui {

namespace {

constexpr const char* k_shown_at = "fernwick_shown_at_ms";
// Only a bound: the drain ends as soon as nothing is pending.
constexpr int k_drain_limit_ms = 200;

bool is_click(QEvent::Type t)
{
    return t == QEvent::MouseButtonPress || t == QEvent::MouseButtonRelease || t == QEvent::MouseButtonDblClick;
}

// Enter or Space on the button that has the focus presses it as a click does:
// Enter twice on the Warning's OK must not press Program Flash.
bool presses_button(const QEvent* e)
{
    if (e->type() != QEvent::KeyPress && e->type() != QEvent::KeyRelease) return false;
    const int key = static_cast<const QKeyEvent*>(e)->key();
    return key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Space;
}

// A key that is a shortcut reaches its owner as a Shortcut event, never as a key press.
bool is_operator_input(QEvent::Type t)
{
    return t == QEvent::KeyPress || t == QEvent::Shortcut || t == QEvent::Close || is_click(t);
}

// Menus and tool tips are windows too, but a menu is opened to be clicked at once.
bool is_own_window(const QWidget* w)
{
    return w->isWindow() && (w->windowType() == Qt::Window || w->windowType() == Qt::Dialog);
}

bool is_key(QEvent::Type t) { return t == QEvent::KeyPress || t == QEvent::KeyRelease; }

}  // namespace

input_gate::input_gate()
{
    clock_.start();
    QCoreApplication::instance()->installEventFilter(this);
}

input_gate::~input_gate() { QCoreApplication::instance()->removeEventFilter(this); }

void input_gate::hold() { holding_ = true; }

void input_gate::release()
{
    // A handler run by the drain ends in a release of its own.
    if (!holding_ || draining_) return;
    draining_ = true;
    QCoreApplication::processEvents(QEventLoop::AllEvents, k_drain_limit_ms);
    draining_ = false;
    holding_ = false;
}

bool input_gate::eventFilter(QObject* watched, QEvent* event)
{
    const QEvent::Type type = event->type();
    auto* widget = watched->isWidgetType() ? static_cast<QWidget*>(watched) : nullptr;
    if (type == QEvent::Show && widget != nullptr && is_own_window(widget)) {
        widget->setProperty(k_shown_at, clock_.elapsed());
        return false;
    }
    if (holding_ && is_operator_input(type)) return true;
    if (is_key(type) && widget != nullptr && !pressed_here(widget, static_cast<const QKeyEvent*>(event))) return true;
    return (is_click(type) || presses_button(event)) && widget != nullptr && just_appeared(widget->window());
}

// A key held down repeats into whatever window has the focus by then: Enter
// held on the Warning's OK would press Program Flash in the sector window
// that OK opened. A repeat never presses a button, and a key goes on only in
// the window its press began on.
bool input_gate::pressed_here(const QWidget* widget, const QKeyEvent* key)
{
    const QWidget* window = widget->window();
    held_key& held = keys_[key->key()];
    const ulong at = key->timestamp();
    if (key->type() == QEvent::KeyRelease) {
        held.released_at = at;
        return held.pressed_on == window;
    }
    // X11 sends each repeat as a release and a press of one time stamp; Qt
    // marks the two as repeats only when it finds them queued together.
    const bool repeat = key->isAutoRepeat() || (at != 0 && at == held.released_at);
    if (!repeat) {
        held.pressed_on = window;
        return true;
    }
    return qobject_cast<const QAbstractButton*>(widget) == nullptr && held.pressed_on == window;
}

bool input_gate::just_appeared(const QWidget* window) const
{
    const QVariant shown_at = window->property(k_shown_at);
    return shown_at.isValid() &&
           clock_.elapsed() - shown_at.toLongLong() < QGuiApplication::styleHints()->mouseDoubleClickInterval();
}

}  // namespace fernwick::ui
