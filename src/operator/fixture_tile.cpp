#include "operator/fixture_tile.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <filesystem>

#include "core/progress_text.h"

namespace fernwick::operator_window {

namespace {

constexpr int k_flash_ms = 350;

QLabel* tile_label(QWidget* parent, const char* name, int points, bool bold)
{
    auto* l = new QLabel(parent);
    l->setObjectName(QString::fromLatin1(name));
    QFont f = l->font();
    f.setPointSize(points);
    f.setBold(bold);
    l->setFont(f);
    l->setWordWrap(true);
    return l;
}

// "about 0:45 left" once the pace is known.
QString time_left(const station::board_progress& b, std::chrono::steady_clock::time_point now)
{
    if (b.progress.blocks_total <= 0) return QStringLiteral("starting");
    QString text = QStringLiteral("%1 %").arg(core::progress_percent(b.progress));
    if (const auto left = core::seconds_left(b.progress, now))
        text += QStringLiteral(", about %1 left").arg(QString::fromStdString(core::duration_text(*left)));
    if (b.attempt > 1) text += QStringLiteral(", attempt %1 of %2").arg(b.attempt).arg(b.attempts_allowed);
    return text;
}

}  // namespace

QString state_word(fixture_state s)
{
    switch (s) {
    case fixture_state::waiting: return QStringLiteral("Waiting for a board");
    case fixture_state::programming: return QStringLiteral("Programming");
    case fixture_state::passed: return QStringLiteral("Passed");
    case fixture_state::failed: return QStringLiteral("Failed");
    case fixture_state::board_gone: return QStringLiteral("Board gone");
    case fixture_state::needs_reset: return QStringLiteral("Reset the board");
    case fixture_state::held: return QStringLiteral("Port held by another program");
    case fixture_state::cannot_open: return QStringLiteral("Cannot open the port");
    case fixture_state::no_file: return QStringLiteral("No usable hex file");
    case fixture_state::no_serial: return QStringLiteral("Waiting for a serial number");
    case fixture_state::absent: break;
    }
    return QStringLiteral("Gone");
}

QColor state_colour(fixture_state s)
{
    switch (s) {
    case fixture_state::programming: return QColor(0x1f, 0x5f, 0xbf);  // blue
    case fixture_state::passed: return QColor(0x1e, 0x8c, 0x3a);       // green
    case fixture_state::failed: return QColor(0xc0, 0x1c, 0x1c);       // red
    case fixture_state::needs_reset:
    case fixture_state::cannot_open:
    case fixture_state::no_file:
    case fixture_state::no_serial: return QColor(0xc8, 0x6e, 0x00);  // amber: the bench needs a hand
    case fixture_state::held: return QColor(0x6a, 0x3d, 0x9a);       // violet
    default: return QColor(0x55, 0x5d, 0x66);                        // grey: nothing to do
    }
}

fixture_tile::fixture_tile(const QString& port, QWidget* parent) : QFrame(parent)
{
    setObjectName(QStringLiteral("tile"));
    setAutoFillBackground(true);
    // Sixteen fit a screen of 1600 by 1000 without scrolling.
    setMinimumSize(300, 190);
    auto* layout = new QVBoxLayout(this);
    layout->setSpacing(3);
    name_ = tile_label(this, "name", 22, true);
    name_->setText(QString::fromStdString(std::filesystem::path(port.toStdString()).filename().string()));
    port_ = tile_label(this, "port", 10, false);
    port_->setText(port);
    word_ = tile_label(this, "word", 24, true);
    detail_ = tile_label(this, "detail", 15, true);
    advice_ = tile_label(this, "advice", 13, false);
    bar_ = new QProgressBar(this);
    bar_->setObjectName(QStringLiteral("progress"));
    bar_->setTextVisible(false);
    bar_->setMinimumHeight(24);
    details_ = new QPushButton(QStringLiteral("details"), this);
    details_->setObjectName(QStringLiteral("details"));
    details_->setFocusPolicy(Qt::NoFocus);  // no key press opens it unseen
    QFont big = details_->font();
    big.setPointSize(14);
    details_->setFont(big);
    for (QWidget* w : {static_cast<QWidget*>(name_), static_cast<QWidget*>(port_), static_cast<QWidget*>(word_),
                       static_cast<QWidget*>(bar_), static_cast<QWidget*>(detail_), static_cast<QWidget*>(advice_)})
        layout->addWidget(w);
    layout->addStretch(1);
    layout->addWidget(details_, 0, Qt::AlignRight);
    paint(state_colour(fixture_state::waiting));
    bar_->hide();
    details_->hide();
}

void fixture_tile::paint(QColor c)
{
    QPalette p = palette();
    p.setColor(QPalette::Window, c);
    p.setColor(QPalette::WindowText, Qt::white);
    setPalette(p);
}

void fixture_tile::show_picture(const fixture_picture& f, std::chrono::steady_clock::time_point now)
{
    const QString word = state_word(f.state);
    if (word_->text() != word) word_->setText(word);
    if (colour_ != state_colour(f.state)) paint(colour_ = state_colour(f.state));
    QString detail, advice;
    switch (f.state) {
    case fixture_state::programming: detail = time_left(f.progress, now); break;
    case fixture_state::passed:
        detail =
            f.end.serial.empty() ? QString() : QStringLiteral("Serial %1").arg(QString::fromStdString(f.end.serial));
        break;
    case fixture_state::failed:
        detail = QString::fromStdString(f.end.reason);
        advice = QString::fromStdString(f.end.advice);
        break;
    case fixture_state::waiting:
    case fixture_state::board_gone: break;
    default: detail = QString::fromStdString(f.text); break;
    }
    if (detail_->text() != detail) detail_->setText(detail);
    if (advice_->text() != advice) advice_->setText(advice);
    detail_->setVisible(!detail.isEmpty());
    advice_->setVisible(!advice.isEmpty());
    const bool programming = f.state == fixture_state::programming;
    bar_->setVisible(programming);
    if (programming)
        bar_->setValue(f.progress.progress.blocks_total > 0 ? core::progress_percent(f.progress.progress) : 0);
    details_->setVisible(f.state == fixture_state::failed);
}

void fixture_tile::flash()
{
    paint(QColor(0xff, 0xd0, 0xd0));
    QTimer::singleShot(k_flash_ms, this, [this] { paint(colour_); });
}

QString fixture_tile::word() const { return word_->text(); }
QString fixture_tile::detail() const { return detail_->text(); }
QString fixture_tile::advice() const { return advice_->text(); }
bool fixture_tile::programming_shown() const { return !bar_->isHidden(); }

}  // namespace fernwick::operator_window
