#pragma once
// An app_state whose links and timers the test plays: it feeds the chip's
// answers and fires the ticks itself, then calls the handlers.

#include <memory>
#include <utility>
#include <vector>

#include "core/app_state.h"
#include "shell/events.h"
#include "support_fakes.h"

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

using scripted_link = test::fake_link;
using manual_timer = test::fake_timer;

// An app_state after start-up, with handles on its scripted parts.
struct scripted_app {
    scripted_app() : state(core::platform{[this] { return make_link(); }, [this] { return make_timer(); }})
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
