#include "cli/station_view.h"

#include <algorithm>
#include <ctime>
#include <iomanip>
#include <iostream>
#include <sstream>

#include "cli/console.h"
#include "core/progress_text.h"

namespace fernwick::cli {

namespace {

std::string clock_now()
{
    const auto now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    char text[16];
    std::strftime(text, sizeof text, "%H:%M:%S", &local);
    return text;
}

}  // namespace

station_view::station_view(bool live, station_model& model) : live_(live)
{
    model.listen([this](const station_change& c) {
        using k = station_change::kind;
        switch (c.what) {
        case k::state: state(c.port, c.text); break;
        case k::progress: progress(c.port, c.progress); break;
        case k::totals: totals(c.totals); break;
        case k::said: say(c.text); break;
        case k::ended: finish(); break;
        }
    });
}

station_view::row& station_view::row_of(const std::string& fixture)
{
    const auto at = std::find_if(rows_.begin(), rows_.end(), [&](const row& r) { return r.fixture == fixture; });
    if (at != rows_.end()) return *at;
    rows_.push_back({fixture, "", -1});
    return rows_.back();
}

void station_view::state(const std::string& fixture, const std::string& text)
{
    const std::lock_guard lock(mutex_);
    auto& r = row_of(fixture);
    if (r.text == text) return;
    r.text = text;
    r.tenth = -1;
    if (live_) return;
    std::cout << clock_now() << ' ' << fixture << ": " << text << '\n' << std::flush;
}

void station_view::progress(const std::string& fixture, const board_progress& b)
{
    const std::lock_guard lock(mutex_);
    auto& r = row_of(fixture);
    const auto& p = b.progress;
    std::string text = "programming";
    if (b.attempt > 1) text += "  attempt " + std::to_string(b.attempt) + " of " + std::to_string(b.attempts_allowed);
    if (p.blocks_total > 0) text += "  " + core::progress_text(p, std::chrono::steady_clock::now());
    r.text = text;
    const int tenth = p.blocks_total > 0 ? 10 * p.blocks_done / p.blocks_total : -1;
    if (live_ || tenth == r.tenth) return;
    r.tenth = tenth;
    std::cout << clock_now() << ' ' << fixture << ": " << text << '\n' << std::flush;
}

void station_view::totals(const station_totals& t)
{
    const std::lock_guard lock(mutex_);
    totals_ = t;
    if (!live_) std::cout << clock_now() << ' ' << totals_line() << '\n' << std::flush;
}

void station_view::say(const std::string& line)
{
    const std::lock_guard lock(mutex_);
    erase_live();
    std::cout << (live_ ? "" : clock_now() + " ") << line << '\n';
    draw_live();
    std::cout.flush();
}

std::string station_view::totals_line() const
{
    const auto of = totals_.batch > 0 ? " of " + std::to_string(totals_.batch) : std::string();
    return "Passed " + std::to_string(totals_.passed) + of + ", failed " + std::to_string(totals_.failed) + ", yield " +
           totals_.yield_text() + ", boards per hour " + totals_.per_hour_text() +
           (totals_.ledger.empty() ? "" : "; " + totals_.ledger);
}

void station_view::redraw()
{
    const std::lock_guard lock(mutex_);
    if (!live_) return;
    erase_live();
    draw_live();
    std::cout.flush();
}

void station_view::finish()
{
    const std::lock_guard lock(mutex_);
    if (!live_) {
        std::cout << totals_line() << '\n' << std::flush;
        return;
    }
    erase_live();
    draw_live();
    std::cout << '\n' << std::flush;
    drawn_ = 0;
}

void station_view::erase_live()
{
    if (live_) erase_lines(drawn_);
}

void station_view::draw_live()
{
    if (!live_) return;
    std::size_t width = 0;
    for (const auto& r : rows_) width = std::max(width, r.fixture.size());
    std::vector<std::string> lines;
    for (const auto& r : rows_) {
        std::ostringstream line;
        line << std::left << std::setw(static_cast<int>(width)) << r.fixture << "  " << r.text;
        lines.push_back(fitted_to_terminal(line.str()));
    }
    lines.push_back(fitted_to_terminal(totals_line()));
    for (std::size_t i = 0; i < lines.size(); ++i) std::cout << (i ? "\n" : "") << lines[i];
    drawn_ = lines.size();
}

}  // namespace fernwick::cli
