#include "ui/window_style.h"

#include <memory>

#include <QApplication>
#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSignalBlocker>
#include <QWindow>

namespace fernwick::ui {

namespace {

constexpr int k_title_bar_extras = 120;  // icon, three buttons, margins

constexpr Qt::WindowFlags k_title_and_close =
    Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;

template <class W>
W* named(W* w, const char* name)
{
    w->setObjectName(QString::fromLatin1(name));
    return w;
}

// A window is disabled while another one waits for an answer; the operator
// still reads it.
void keep_texts_when_disabled(QWidget* window)
{
    keep_colours_when_disabled(window, {QPalette::WindowText, QPalette::Text, QPalette::ButtonText});
}

// Places `window` so that its frame's centre is its owner's, inside the
// screen; left to itself the window manager may open it in any corner.
// Before a window is first shown it has neither its size nor its frame: it
// will get its size hint and a frame like its owner's.
void centre_on_owner(QWidget* window)
{
    const QWindow* own = window->windowHandle();
    const QWindow* owner = own != nullptr ? own->transientParent() : nullptr;
    if (owner == nullptr || !owner->isVisible()) return;
    const QMargins frame = own->frameMargins().isNull() ? owner->frameMargins() : own->frameMargins();
    const QSize size = window->testAttribute(Qt::WA_Resized) ? window->size() : window->sizeHint();
    QRect outer(QPoint(), size.grownBy(frame));
    outer.moveCenter(owner->frameGeometry().center());
    const QRect room = owner->screen()->availableGeometry();
    if (outer.right() > room.right()) outer.moveRight(room.right());
    if (outer.bottom() > room.bottom()) outer.moveBottom(room.bottom());
    if (outer.left() < room.left()) outer.moveLeft(room.left());
    if (outer.top() < room.top()) outer.moveTop(room.top());
    window->setGeometry(outer.marginsRemoved(frame));
}

}  // namespace

void make_fixed_dialog(QWidget* window)
{
    window->setWindowFlags(k_title_and_close);
    keep_texts_when_disabled(window);
    if (window->layout() != nullptr) {
        window->layout()->setSizeConstraint(QLayout::SetFixedSize);
    } else {
        window->setFixedSize(window->sizeHint());
    }
}

void make_sizable(QWidget* window)
{
    window->setWindowFlags(k_title_and_close | Qt::WindowMinimizeButtonHint);
    keep_texts_when_disabled(window);
}

void keep_colours_when_disabled(QWidget* w, std::initializer_list<QPalette::ColorRole> roles)
{
    QPalette p = w->palette();
    for (auto role : roles) p.setColor(QPalette::Disabled, role, p.color(QPalette::Active, role));
    w->setPalette(p);
}

int title_room(const QWidget* window)
{
    QFont bold = QApplication::font();
    bold.setBold(true);
    return QFontMetrics(bold).horizontalAdvance(window->windowTitle()) + k_title_bar_extras;
}

void pin_top_left(QWidget* host, QWidget* content)
{
    content->setFixedSize(content->sizeHint().expandedTo(content->minimumSize()));
    auto* outer = new QGridLayout(host);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(content, 0, 0, Qt::AlignLeft | Qt::AlignTop);
}

void set_background(QWidget* w, QColor colour)
{
    QPalette p = w->palette();
    p.setColor(QPalette::Window, colour);
    w->setPalette(p);
    w->setAutoFillBackground(true);
}

void set_button_colour(QPushButton* b, QColor colour)
{
    QPalette p = b->palette();
    p.setColor(QPalette::Button, colour);
    b->setPalette(p);
}

void set_bold(QWidget* w, int extra_points)
{
    QFont f = w->font();
    f.setBold(true);
    if (extra_points != 0) f.setPointSizeF(f.pointSizeF() + extra_points);
    w->setFont(f);
}

QLabel* make_label(QWidget* parent, const char* name, const QString& caption)
{
    auto* l = named(new QLabel(caption, parent), name);
    // Captions are shown as written, blanks included, never as markup.
    l->setTextFormat(Qt::PlainText);
    return l;
}

QPushButton* make_button(QWidget* parent, const char* name, const QString& caption)
{
    auto* b = named(new QPushButton(caption, parent), name);
    // Enter presses the button that has the focus, as in every dialog of the platform.
    b->setAutoDefault(true);
    return b;
}

QRadioButton* make_option(QWidget* parent, const char* name, const QString& caption)
{
    return named(new QRadioButton(caption, parent), name);
}

QCheckBox* make_check(QWidget* parent, const char* name) { return named(new QCheckBox(parent), name); }

QGroupBox* make_frame(QWidget* parent, const char* name, const QString& caption)
{
    return named(new QGroupBox(caption, parent), name);
}

void select_option(const std::vector<QRadioButton*>& frame, const QRadioButton* chosen)
{
    std::vector<std::unique_ptr<QSignalBlocker>> blocked;
    blocked.reserve(frame.size());
    for (QRadioButton* b : frame) blocked.push_back(std::make_unique<QSignalBlocker>(b));
    for (QRadioButton* b : frame) {
        // The selected button of a frame cannot be unticked while the frame is exclusive.
        b->setAutoExclusive(false);
        b->setChecked(b == chosen);
        b->setAutoExclusive(true);
    }
}

void apply_window_state(QWidget* window, const core::window_state& state)
{
    if (window->isEnabled() != state.enabled) window->setEnabled(state.enabled);
    if (window->isVisible() == state.visible) return;
    if (!state.visible) {
        window->hide();
        return;
    }
    centre_on_owner(window);
    window->show();
    // A window shown again may lie behind another one: the status window
    // behind the main window that asked for it.
    window->raise();
    window->activateWindow();
}

}  // namespace fernwick::ui
