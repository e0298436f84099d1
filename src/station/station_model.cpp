#include "station/station_model.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace fernwick::station {

namespace {

constexpr std::size_t k_lines_said = 200;
constexpr std::size_t k_log_lines = 2000;  // a board's log: a run with retries stays well within

}  // namespace

std::string station_totals::yield_text() const
{
    const int ended = passed + failed;
    if (ended == 0) return "-";
    char text[16];
    std::snprintf(text, sizeof text, "%.1f %%", 100.0 * passed / ended);
    return text;
}

std::string station_totals::per_hour_text() const
{
    const int ended = passed + failed;
    const double hours = std::chrono::duration<double>(last_end - first_board).count() / 3600;
    // A pace over less than a minute says little.
    if (ended == 0 || hours < 1.0 / 60) return "-";
    return std::to_string(std::lround(ended / hours));
}

fixture_picture& station_model::fixture_of(const std::string& port)
{
    auto& all = now_.fixtures;
    const auto at = std::find_if(all.begin(), all.end(), [&](const fixture_picture& f) { return f.port == port; });
    if (at != all.end()) return *at;
    all.push_back({});
    all.back().port = port;
    return all.back();
}

void station_model::tell(const station_change& c)
{
    for (const auto& l : listeners_) l(c);
}

void station_model::state(const std::string& port, fixture_state s, const std::string& text, const board_end& end)
{
    {
        const std::lock_guard lock(mutex_);
        auto& f = fixture_of(port);
        if (f.state != s) f.since = std::chrono::steady_clock::now();
        f.state = s;
        f.text = text;
        if (s == fixture_state::passed || s == fixture_state::failed) f.end = end;
    }
    tell({station_change::kind::state, port, text, {}, {}});
}

void station_model::progress(const std::string& port, const board_progress& b)
{
    {
        const std::lock_guard lock(mutex_);
        auto& f = fixture_of(port);
        if (f.state != fixture_state::programming) f.since = std::chrono::steady_clock::now();
        f.state = fixture_state::programming;
        f.progress = b;
    }
    tell({station_change::kind::progress, port, {}, b, {}});
}

void station_model::begin_board(const std::string& port)
{
    const std::lock_guard lock(mutex_);
    auto& f = fixture_of(port);
    f.log.clear();
    f.progress = {};
}

void station_model::log_line(const std::string& port, const std::string& line)
{
    const std::lock_guard lock(mutex_);
    auto& log = fixture_of(port).log;
    if (log.size() >= k_log_lines) log.erase(log.begin());
    log.push_back(line);
}

void station_model::totals(const station_totals& t)
{
    {
        const std::lock_guard lock(mutex_);
        now_.totals = t;
    }
    tell({station_change::kind::totals, {}, {}, {}, t});
}

void station_model::say(const std::string& line)
{
    {
        const std::lock_guard lock(mutex_);
        if (now_.said.size() >= k_lines_said) now_.said.erase(now_.said.begin());
        now_.said.push_back(line);
    }
    tell({station_change::kind::said, {}, line, {}, {}});
}

void station_model::end()
{
    {
        const std::lock_guard lock(mutex_);
        now_.ended = true;
    }
    tell({station_change::kind::ended, {}, {}, {}, {}});
}

station_picture station_model::picture(bool with_logs) const
{
    const std::lock_guard lock(mutex_);
    if (with_logs) return now_;
    station_picture p;
    p.totals = now_.totals;
    p.said = now_.said;
    p.ended = now_.ended;
    p.fixtures.reserve(now_.fixtures.size());
    for (const auto& f : now_.fixtures) {
        p.fixtures.push_back({f.port, f.state, f.text, f.end, f.progress, f.since, {}});
    }
    return p;
}

}  // namespace fernwick::station
