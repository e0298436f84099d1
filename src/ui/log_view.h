#pragma once
// The log box `dialog`: shows the message log, adding only the new tail of
// the text after a write and redrawing everything only when earlier text was
// dropped.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include <QPlainTextEdit>
#include <QString>

#include "core/message_log.h"

namespace fernwick::ui {

// The log's CR LF line ends (and any lone CR) as the widget's line breaks.
QString to_view_text(std::string_view text);

class log_view : public QPlainTextEdit {
public:
    explicit log_view(QWidget* parent = nullptr);

    // After a write the newest line shows, unless the operator has scrolled
    // up to read; then the view stays where it is.
    void show_log(const core::message_log& log);

    // Wide enough for the bar line, `lines` lines high.
    QSize size_for_lines(int lines) const;

private:
    void redraw(std::string_view text);
    void add_tail(std::string_view tail);

    std::uint64_t generation_ = 0;
    std::size_t shown_ = 0;  // bytes of the log text in the widget
};

}  // namespace fernwick::ui
