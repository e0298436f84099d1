#pragma once
// Scripted stand-ins for the serial links and timers: the test feeds the
// chip's answers and fires the ticks itself, then calls the handlers.

#include <memory>
#include <utility>
#include <vector>

#include "core/app_state.h"
#include "shell/events.h"

namespace fernwick::test_support {

inline const std::string le = "\r\n";
inline const std::string star(core::k_star_line);
inline const std::string bar = core::k_bar_line;

// A framed block as the log holds it.
inline std::string block(std::initializer_list<std::string> lines, const std::string& frame = star)
{
    std::string b = le + frame;
    for (const auto& l : lines) b += le + l;
    return b + le + frame + le;
}

class scripted_link : public core::serial_link {
public:
    bool open() override
    {
        if (fail_open) return false;
        open_ = true;
        ++opens;
        return true;
    }
    void close() override { open_ = false; }
    bool is_open() const override { return open_; }
    bool write(const core::byte_string& data) override
    {
        if (!open_ || fail_write) return false;
        writes.push_back(data);
        return true;
    }
    core::byte_string read_all() override { return std::exchange(rx_, {}); }
    int pending() override { return static_cast<int>(rx_.size()); }
    bool wait_for_data(int) override { return !rx_.empty(); }
    std::string error_text() const override { return "scripted"; }

    void feed(const core::byte_string& bytes) { rx_ += bytes; }
    core::byte_string all_written() const
    {
        core::byte_string all;
        for (const auto& w : writes) all += w;
        return all;
    }

    bool fail_open = false;
    bool fail_write = false;
    int opens = 0;
    std::vector<core::byte_string> writes;

private:
    bool open_ = false;
    core::byte_string rx_;
};

class manual_timer : public core::ui_timer {
public:
    void start(int interval_ms) override
    {
        active_ = true;
        interval = interval_ms;
        ++starts;
    }
    void stop() override { active_ = false; }
    bool active() const override { return active_; }
    // The platform delivers a tick only to a running timer; it runs the handler.
    void fire()
    {
        if (active_) tick();
    }

    int interval = 0;
    int starts = 0;

private:
    bool active_ = false;
};

// An app_state after start-up, with handles on its scripted parts.
struct scripted_app {
    scripted_app()
        : state(core::platform{[this] { return make_link(); }, [this] { return make_timer(); }})
    {
        core::StartModul(state);
        shell::connect_events(state, {});
        state.quit = [this] { ++quits; };
        state.repaint = [this] { ++repaints; };
    }

    scripted_link& MSCom0() { return static_cast<scripted_link&>(*state.RESETFORM.MSCom0); }
    scripted_link& COM() { return static_cast<scripted_link&>(*state.mainform.COM); }
    manual_timer& Timer0() { return static_cast<manual_timer&>(*state.RESETFORM.Timer0); }
    manual_timer& Timer() { return static_cast<manual_timer&>(*state.mainform.Timer); }
    const std::string& log() { return state.log().text(); }

    core::app_state state;
    int quits = 0;
    int repaints = 0;

private:
    std::unique_ptr<core::serial_link> make_link() { return std::make_unique<scripted_link>(); }
    std::unique_ptr<core::ui_timer> make_timer() { return std::make_unique<manual_timer>(); }
};

}  // namespace fernwick::test_support
