#pragma once
// A link and a timer that do nothing, for scenarios that never talk to the
// chip, and scratch files for the hex files those scenarios choose.

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/app_state.h"

namespace fernwick::test {

class fake_link : public core::serial_link {
public:
    bool open() override { return open_ = true; }
    void close() override { open_ = false; }
    bool is_open() const override { return open_; }
    bool write(const core::byte_string&) override { return true; }
    core::byte_string read_all() override { return {}; }
    int pending() override { return 0; }
    bool wait_for_data(int) override { return false; }
    std::string error_text() const override { return {}; }

private:
    bool open_ = false;
};

class fake_timer : public core::ui_timer {
public:
    void start(int) override { active_ = true; }
    void stop() override { active_ = false; }
    bool active() const override { return active_; }

private:
    bool active_ = false;
};

// A state after start-up, as the program has it before the first bring-up.
inline std::unique_ptr<core::app_state> make_fake_state()
{
    const core::platform p{[] { return std::make_unique<fake_link>(); },
                           [] { return std::make_unique<fake_timer>(); }};
    auto s = std::make_unique<core::app_state>(p);
    core::StartModul(*s);
    return s;
}

// A folder of its own for the running test, emptied at the start.
inline std::filesystem::path scratch_dir()
{
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    auto dir = std::filesystem::temp_directory_path() / "fernwick_scenario" /
               (std::string(info->test_suite_name()) + "." + info->name());
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    return dir;
}

// Writes the lines with CR LF, as hex files come from their tools.
inline std::string write_lines(const std::filesystem::path& file, const std::vector<std::string>& lines)
{
    std::ofstream out(file, std::ios::binary);
    for (const auto& l : lines) out << l << "\r\n";
    return file.string();
}

}  // namespace fernwick::test
