#include "ui/log_view.h"

#include <algorithm>

#include <QFontDatabase>
#include <QScrollBar>
#include <QTextCursor>

namespace fernwick::ui {

namespace {

constexpr int k_bar_line_chars = 155;

// A CR that ends the text may be the first half of a CR LF still to come.
std::size_t complete_length(std::string_view text)
{
    return !text.empty() && text.back() == '\r' ? text.size() - 1 : text.size();
}

}  // namespace

QString to_view_text(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\r') {
            out += text[i];
        } else if (i + 1 >= text.size() || text[i + 1] != '\n') {
            out += '\n';
        }
    }
    return QString::fromUtf8(out.data(), static_cast<qsizetype>(out.size()));
}

log_view::log_view(QWidget* parent) : QPlainTextEdit(parent)
{
    setObjectName(QStringLiteral("dialog"));
    setReadOnly(true);
    setUndoRedoEnabled(false);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    // The bar line has no blank to break at; it must wrap rather than hide.
    setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    // The centred notices are laid out with blanks, so every character counts alike.
    setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    QPalette p = palette();
    p.setColor(QPalette::Base, QColor(224, 224, 224));
    p.setColor(QPalette::Text, QColor(64, 64, 64));
    setPalette(p);
}

void log_view::show_log(const core::message_log& log)
{
    const std::string_view text = log.text();
    const std::size_t complete = complete_length(text);
    const bool dropped = log.generation() != generation_ || complete < shown_;
    if (!dropped && complete == shown_) return;

    QScrollBar* bar = verticalScrollBar();
    const bool following = bar->value() >= bar->maximum();
    const int kept = bar->value();
    if (dropped) {
        redraw(text.substr(0, complete));
    } else {
        add_tail(text.substr(shown_, complete - shown_));
    }
    generation_ = log.generation();
    shown_ = complete;
    bar->setValue(following ? bar->maximum() : std::min(kept, bar->maximum()));
}

void log_view::redraw(std::string_view text) { setPlainText(to_view_text(text)); }

void log_view::add_tail(std::string_view tail)
{
    // A cursor of our own: the operator's caret and selection stay untouched.
    QTextCursor end(document());
    end.movePosition(QTextCursor::End);
    end.insertText(to_view_text(tail));
}

QSize log_view::size_for_lines(int lines) const
{
    const QFontMetrics fm(font());
    const int frame = 2 * frameWidth();
    const int margin = 2 * static_cast<int>(document()->documentMargin());
    const int bar = verticalScrollBar()->sizeHint().width();
    const int width = fm.horizontalAdvance(QString(k_bar_line_chars + 1, QLatin1Char('|')));
    return {width + margin + frame + bar, lines * fm.lineSpacing() + margin + frame};
}

}  // namespace fernwick::ui
