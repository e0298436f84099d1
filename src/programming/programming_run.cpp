#include "programming/programming_run.h"

#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "bootstrap/modem_entry.h"
#include "programming/conversion.h"
#include "programming/hex_records.h"
#include "programming/sector_programming.h"

namespace fernwick::programming {

using core::app_state;

namespace {

// Sectors 0 and 2 in the order that keeps a copy of the bootstrap loader
// code in flash at every moment: the sector that holds it now is erased only
// after the code has been written to the other one.
std::vector<run_step> lower_sector_steps(bool zero, bool two, int bsl_now, int bsl_target)
{
    using enum run_step::kind;
    if (!zero || !two) {
        if (zero) return {{program, 0}};
        if (two) return {{program, 2}};
        return {};
    }
    const run_step p0{program, 0};
    const run_step p2{program, 2};
    if (bsl_target == 0 && bsl_now == 0) return {{save, 2}, p0, p2};
    if (bsl_target == 2 && bsl_now == 2) return {{save, 0}, p2, p0};
    if (bsl_target == 2) return {p2, p0};
    return {p0, p2};
}

void start(app_state& s)
{
    s.ConfirmForm.visible = false;
    s.repaint_now();
    s.mainform.enabled = true;
    s.give_focus(core::window_id::mainform);
    core::notice_block(s.log(), {"                             Please wait one moment !"});
    s.repaint_now();
    s.mainform.enabled = false;
}

// The number of blocks the run sends; nullopt when the file could not be converted.
std::optional<int> convert(app_state& s)
{
    if (s.prepared) {
        s.new_file_name = s.prepared->new_file_name;
        return s.prepared->block_count;
    }
    const conversion_request request{s.hex_file_name,
                                     {s.sector0_on != 0, s.sector1_on != 0, s.sector2_on != 0, s.sector3_on != 0},
                                     s.bsl_target,
                                     s.sector0_segment};
    // What OK in the location window read, never the file again: another
    // program may have rewritten it since the sectors were chosen.
    const auto result = s.hex_file_text
                            ? write_block_file(convert_hex_records(request, parse_hex_records(*s.hex_file_text)))
                            : convert_hex_file(request);
    s.new_file_name = result.new_file_name;
    s.new_file_text = result.block_text;
    if (result.ok()) return result.block_count;
    // Nothing was sent: the chip is still ready, so the command menus stay.
    core::error_block(s.log(), failure_lines(*result.failure));
    s.mainform.enabled = true;
    return std::nullopt;
}

// The block file holds the chosen sectors' blocks; a save adds the code's two.
void show_progress(app_state& s, const std::vector<run_step>& steps, int file_blocks)
{
    auto& progress = s.mainform.progress;
    progress = {};
    progress.blocks_total = file_blocks;
    for (const auto& st : steps) progress.blocks_total += st.what == run_step::kind::save ? k_saved_code_blocks : 0;
    progress.started = std::chrono::steady_clock::now();
    progress.visible = true;
}

// "10:42": the local time, as the operator's clock shows it.
std::string clock_time(std::time_t t)
{
    std::tm local{};
    char text[8] = "";
#ifdef _WIN32
    const bool known = ::localtime_s(&local, &t) == 0;
#else
    const bool known = ::localtime_r(&t, &local) != nullptr;
#endif
    if (known) std::strftime(text, sizeof text, "%H:%M", &local);
    return text;
}

// A run that failed or was stopped leaves the code where its exchanges say;
// one that succeeded leaves nothing to preselect.
void note_code_left(app_state& s, const std::string& began)
{
    if (s.run.outcome == core::run_record::result::succeeded)
        s.code_left.reset();
    else
        s.code_left = core::code_left_behind{s.comm_port, began, s.run.code};
}

}  // namespace

std::vector<run_step> run_steps(const std::array<bool, 4>& sectors, int bsl_now, int bsl_target)
{
    std::vector<run_step> steps;
    if (sectors[1]) steps.push_back({run_step::kind::program, 1});
    if (sectors[3]) steps.push_back({run_step::kind::program, 3});
    const auto lower = lower_sector_steps(sectors[0], sectors[2], bsl_now, bsl_target);
    steps.insert(steps.end(), lower.begin(), lower.end());
    return steps;
}

void program_button_Click(app_state& s)
{
    start(s);
    s.run = {};
    s.mainform.COM->clear_answer_delay();
    const auto file_blocks = convert(s);
    if (!file_blocks) return;
    const auto steps = run_steps({s.sector0_on != 0, s.sector1_on != 0, s.sector2_on != 0, s.sector3_on != 0},
                                 s.bsl_now, s.bsl_target);
    show_progress(s, steps, *file_blocks);
    s.run.outcome = core::run_record::result::running;
    s.run.code.start(s.bsl_now);
    const std::string began = clock_time(std::time(nullptr));
    for (const auto& st : steps) {
        s.current_sector = static_cast<std::int16_t>(st.sector);
        // The progress names the sector a save writes too, not the one before it.
        s.mainform.progress.sector = st.sector;
        (st.what == run_step::kind::save ? save_bsl_code : program_sector)(s);
        if (s.flash_error || s.run.outcome == core::run_record::result::stopped) note_code_left(s, began);
        if (s.flash_error) {
            s.mainform.progress.visible = false;
            core::hide_command_menus(s);
            s.mainform.enabled = true;
            return;
        }
        // A stop leaves the board as a failure here would: the code is kept
        // in sector 0 or 2, and nothing more is sent.
        if (s.run.outcome == core::run_record::result::stopped) {
            s.mainform.progress.visible = false;
            s.mainform.enabled = true;
            return;
        }
    }
    s.run.outcome = core::run_record::result::succeeded;
    note_code_left(s, began);
    s.mainform.progress.visible = false;
    s.log().append(s.line_end);
    core::notice_block(s.log(), {"                        Programming sucessfully finished !"});
    // After the exit sequence the board runs its new program: no operation goes on.
    if (s.bench.exit.empty()) core::note(s.log(), "                       You can continue with another operation...");
    bootstrap::leave_bootstrap_mode(s);
    s.mainform.enabled = true;
}

}  // namespace fernwick::programming
