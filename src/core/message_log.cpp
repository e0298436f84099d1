#include "core/message_log.h"

namespace fernwick::core {

void message_log::append(std::string_view s)
{
    if (text_.size() + s.size() > limit_) trim_for(s.size());
    text_.append(s);
}

void message_log::replace(std::string_view s)
{
    text_.assign(s);
    last_error_block_.clear();
    ++generation_;
}

// Drops whole lines from the top. The cut lies just before a line end, so
// what remains still begins with an empty first line like a fresh log.
void message_log::trim_for(std::size_t incoming)
{
    const std::size_t keep = limit_ / 4 * 3;
    const std::size_t target = incoming >= keep ? 0 : keep - incoming;
    const std::size_t earliest = text_.size() > target ? text_.size() - target : 0;
    const auto cut = text_.find(k_line_end, earliest);
    if (cut == std::string::npos)
        text_.clear();
    else
        text_.erase(0, cut);
    ++generation_;
}

namespace {

std::string joined(std::string_view first, std::string_view second = {}, std::string_view third = {},
                   std::string_view fourth = {})
{
    std::string s;
    s.reserve(first.size() + second.size() + third.size() + fourth.size());
    s.append(first).append(second).append(third).append(fourth);
    return s;
}

template <typename lines_t>
void framed(message_log& log, bool fresh, std::string_view frame, const lines_t& lines)
{
    const auto open = joined(k_line_end, frame);
    if (fresh)
        log.replace(open);
    else
        log.append(open);
    for (const auto& l : lines) log.append(joined(k_line_end, l));
    log.append(joined(k_line_end, frame, k_line_end));
    if (frame == k_star_line) log.keep_error_block({lines.begin(), lines.end()});
}

}  // namespace

void line(message_log& log, std::string_view s) { log.append(joined(k_line_end, s)); }

void line_with_break(message_log& log, std::string_view s) { log.append(joined(k_line_end, s, k_line_end)); }

void fresh_line_with_break(message_log& log, std::string_view s) { log.replace(joined(k_line_end, s, k_line_end)); }

void note(message_log& log, std::string_view s)
{
    log.append(joined(k_line_end, k_line_end, s, joined(k_line_end, k_line_end)));
}

void error_block(message_log& log, std::initializer_list<std::string_view> lines)
{
    framed(log, false, k_star_line, lines);
}

void error_block(message_log& log, const std::vector<std::string>& lines) { framed(log, false, k_star_line, lines); }

void fresh_error_block(message_log& log, std::initializer_list<std::string_view> lines)
{
    framed(log, true, k_star_line, lines);
}

void notice_block(message_log& log, std::initializer_list<std::string_view> lines)
{
    framed(log, false, k_bar_line, lines);
}

void notice_block(message_log& log, const std::vector<std::string>& lines) { framed(log, false, k_bar_line, lines); }

void fresh_notice_block(message_log& log, std::initializer_list<std::string_view> lines)
{
    framed(log, true, k_bar_line, lines);
}

}  // namespace fernwick::core
