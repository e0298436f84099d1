#pragma once
// The message log: the only channel through which the tool reports. Its text
// is the text of the main window's log box; every write is an append or a
// replace, and the named shapes below build the house style from them.

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace fernwick::core {

inline constexpr std::string_view k_line_end = "\r\n";
inline constexpr std::string_view k_star_line = "*************************************";
inline const std::string k_bar_line(155, '|');

class message_log {
public:
    // 1 MiB of text: hours of bring-ups and runs, yet small enough for the
    // log box to stay quick. Trimming leaves three quarters of it.
    static constexpr std::size_t k_default_limit = std::size_t{1} << 20;

    explicit message_log(std::size_t limit = k_default_limit) : limit_(limit) {}

    void append(std::string_view s);
    void replace(std::string_view s);

    const std::string& text() const { return text_; }
    // The lines of the last error block written since the log was last
    // started afresh, without its frame: what a failure said, for reports
    // beyond the log (the production line's reasons below its table).
    const std::vector<std::string>& last_error_block() const { return last_error_block_; }
    void keep_error_block(std::vector<std::string> lines) { last_error_block_ = std::move(lines); }
    // Changes whenever earlier text was dropped (replace or trim), so a view
    // knows when it can add the tail and when it must redraw everything.
    std::uint64_t generation() const { return generation_; }

private:
    void trim_for(std::size_t incoming);

    std::string text_;
    std::vector<std::string> last_error_block_;
    std::uint64_t generation_ = 0;
    std::size_t limit_;
};

// The shapes; each begins with a line end, framed blocks also end with one.
void line(message_log& log, std::string_view s);
void line_with_break(message_log& log, std::string_view s);
void fresh_line_with_break(message_log& log, std::string_view s);
void note(message_log& log, std::string_view s);
void error_block(message_log& log, std::initializer_list<std::string_view> lines);
void error_block(message_log& log, const std::vector<std::string>& lines);
void fresh_error_block(message_log& log, std::initializer_list<std::string_view> lines);
void notice_block(message_log& log, std::initializer_list<std::string_view> lines);
void notice_block(message_log& log, const std::vector<std::string>& lines);
void fresh_notice_block(message_log& log, std::initializer_list<std::string_view> lines);

}  // namespace fernwick::core
