#pragma once
// A link and a timer that do nothing, for scenarios that never talk to the
// chip, and scratch files for the hex files those scenarios choose.

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "core/app_state.h"

namespace fernwick::test {

// A link whose chip the test plays: it feeds the answers and reads what was
// written; opening or writing fails on request.
class fake_link : public core::serial_link {
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
    std::string error_text() const override { return "fake"; }

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

// A timer whose ticks the test fires; a tick reaches only a running timer.
class fake_timer : public core::ui_timer {
public:
    void start(int interval_ms) override
    {
        active_ = true;
        interval = interval_ms;
    }
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

// A folder of its own for the running test, under $TMPDIR (or the system's
// temporary folder), unique to this run so that two runs never share one,
// and removed when the test program ends.
inline std::filesystem::path scratch_dir()
{
    struct made_folders {
        std::vector<std::filesystem::path> paths;
        ~made_folders()
        {
            std::error_code ignored;
            for (const auto& p : paths) std::filesystem::remove_all(p, ignored);
        }
    };
    static made_folders made;
    auto pattern = (std::filesystem::temp_directory_path() / "fernwick-test-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("cannot make a scratch folder in " + pattern);
    made.paths.emplace_back(pattern);
    return pattern;
}

// Writes the lines with CR LF, as hex files come from their tools.
inline std::string write_lines(const std::filesystem::path& file, const std::vector<std::string>& lines)
{
    std::ofstream out(file, std::ios::binary);
    for (const auto& l : lines) out << l << "\r\n";
    return file.string();
}

}  // namespace fernwick::test
