#pragma once
// A link and a timer the test plays, for scenarios that script the chip's
// side byte by byte, an app_state made of them, and scratch files for the
// hex files they choose.

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "core/app_state.h"
#include "shell/events.h"

namespace fernwick::test {

// The test puts the chip's answers in `rx` and reads what was written;
// opening fails on request.
struct fake_link : core::serial_link {
    bool open() override { return opened = !fail_open; }
    void close() override { opened = false; }
    bool is_open() const override { return opened; }
    bool write(const core::byte_string& data) override
    {
        if (opened) written += data;
        return opened;
    }
    core::byte_string read_all() override { return std::exchange(rx, {}); }
    int pending() override { return static_cast<int>(rx.size()); }
    bool wait_for_data(int) override { return !rx.empty(); }
    std::string error_text() const override { return "fake"; }

    bool fail_open = false, opened = false;
    core::byte_string written, rx;
};

// A tick reaches only a running timer.
class fake_timer : public core::ui_timer {
public:
    void start(int interval_ms) override { active_ = true, interval = interval_ms; }
    void stop() override { active_ = false; }
    bool active() const override { return active_; }
    void fire()
    {
        if (active_) tick();
    }
    int interval = 0;

private:
    bool active_ = false;
};

// A state after start-up, as the program has it before the first bring-up.
inline std::unique_ptr<core::app_state> make_fake_state()
{
    const core::platform p{[] { return std::make_unique<fake_link>(); }, [] { return std::make_unique<fake_timer>(); }};
    auto s = std::make_unique<core::app_state>(p);
    core::StartModul(*s);
    return s;
}

// A folder of its own under $TMPDIR, so that two runs never share one;
// removed when the test program ends.
inline std::filesystem::path scratch_dir()
{
    static struct made_folders {
        std::vector<std::filesystem::path> paths;
        std::error_code ignored;
        ~made_folders()
        {
            for (const auto& p : paths) std::filesystem::remove_all(p, ignored);
        }
    } made;
    auto pattern = (std::filesystem::temp_directory_path() / "fernwick-test-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("cannot make a scratch folder in " + pattern);
    made.paths.emplace_back(pattern);
    return pattern;
}

// CR LF, as hex files come from their tools.
inline std::string write_lines(const std::filesystem::path& file, const std::vector<std::string>& lines)
{
    std::ofstream out(file, std::ios::binary);
    for (const auto& l : lines) out << l << "\r\n";
    return file.string();
}

}  // namespace fernwick::test

namespace fernwick::test_support {

inline const std::string le = "\r\n";
inline const std::string star(core::k_star_line);
inline const std::string bar = core::k_bar_line;

// A framed block as the log holds it.
inline std::string block(const std::vector<std::string>& lines, const std::string& frame = star)
{
    std::string b = le + frame;
    for (const auto& l : lines) b += le + l;
    return b + le + frame + le;
}

// An app_state after start-up, with handles on its scripted links and timers.
struct scripted_app {
    scripted_app() { shell::connect_events(state, {}); }

    test::fake_link& MSCom0() { return static_cast<test::fake_link&>(*state.RESETFORM.MSCom0); }
    test::fake_link& COM() { return static_cast<test::fake_link&>(*state.mainform.COM); }
    test::fake_timer& Timer0() { return static_cast<test::fake_timer&>(*state.RESETFORM.Timer0); }
    test::fake_timer& Timer() { return static_cast<test::fake_timer&>(*state.mainform.Timer); }
    const std::string& log() { return state.log().text(); }

    std::unique_ptr<core::app_state> owned = test::make_fake_state();
    core::app_state& state = *owned;
};

}  // namespace fernwick::test_support
