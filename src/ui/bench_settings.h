#pragma once
// The keys entry and exit of the settings file, for the sequences that
// --entry and --exit did not give. Started from a desktop menu the program
// has no standard error to read: a wrong key is told in a window too.

#include <functional>
#include <ostream>
#include <string>

#include "core/modem_lines.h"

namespace fernwick::ui {

// The settings file the windows read (~/.config/fernwick/fernwick.ini).
std::string settings_file();

// Says `text` in a window and waits until the operator closes it; nothing
// on a platform that shows no window (offscreen).
void show_problem_window(const std::string& text);

// Reads the keys of `file` that `bench` has no sequence for yet; false after
// saying on `err` and by `show` which key is wrong, why, and what to do.
bool read_bench_settings(const std::string& file, core::bench_setup& bench, std::ostream& err,
                         const std::function<void(const std::string&)>& show = show_problem_window);

}  // namespace fernwick::ui
