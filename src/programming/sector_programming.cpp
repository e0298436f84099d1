#include "programming/sector_programming.h"

#include <string_view>

#include "programming/block_layout.h"
#include "programming/block_record.h"
#include "programming/bsl_code.h"
#include "programming/flash_exchange.h"

namespace fernwick::programming {

using core::app_state;

namespace {

const char* const k_broken_file = "     Something is wrong with the created Hex-file ! ";

char digit(int sector) { return static_cast<char>('0' + sector); }

// Reports a failed exchange with the procedure's own time-out wording.
bool failed(app_state& s, const exchange_result& result, const char* time_out_message)
{
    if (!result) return false;
    s.run.outcome = core::run_record::result::failed;
    s.run.received = result->received;
    s.run.gone = result->gone;
    s.run.answered = result->answered;
    report_flash_failure(s, result->time_out ? std::vector<std::string>{time_out_message} : result->lines);
    return true;
}

// Notes the exchange about to start; false when the run was asked to stop,
// so that nothing more is sent.
bool about_to(app_state& s, const char* step, int sector, bool sends_block = false)
{
    s.run.step = step;
    s.run.sector = sector;
    if (sends_block) s.run.block = s.mainform.progress.blocks_done + 1;
    if (!s.stop_now()) return true;
    s.run.outcome = core::run_record::result::stopped;
    return false;
}

// The next block record of `sector` and its bytes; nullopt at the end of the
// file, and a failure when a record of any sector is broken. Reads the lines
// of `text` in place, taking each one read off its front.
struct next_block {
    bool broken = false;
    std::optional<block_record> record;
    block_bytes bytes{};
};

next_block read_next(std::string_view& text, int sector)
{
    while (!text.empty()) {
        const auto end = text.find('\n');
        const auto line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        auto record = read_block_record(line);
        const auto bytes = record ? decode_block(record->data) : std::nullopt;
        if (!record || record->marker != k_end_of_block || !bytes || record->address < 0 ||
            record->address > 0xFFFF - 63 || record->segment < 0 || record->segment > 0xFF)
            return {true, {}};
        if (record->sector == sector) return {false, std::move(record), *bytes};
    }
    return {};
}

// The erase that begins each procedure: from the moment its command may
// reach the chip, the code no longer lies in the sector.
bool erase(app_state& s, answer_reader& reader, const char* time_out)
{
    const int n = s.current_sector;
    if (!about_to(s, "erase", n)) return false;
    s.run.code.set(n, false);
    s.repaint_now();  // told before the erase is sent: a quit at once must not name a sector being erased
    return !failed(s, erase_sector(reader, s, n), time_out);
}

void advance_progress(app_state& s)
{
    ++s.mainform.progress.blocks_done;
    s.keep_alive_now();
}

}  // namespace

void save_bsl_code(app_state& s)
{
    s.flash_error = core::k_false;
    const int n = s.current_sector;
    const char* const time_out = "     I didn't received the byte that I was waiting for ! ";
    answer_reader reader(s);
    if (!erase(s, reader, time_out)) return;
    for (const auto& [address, hex] : {std::pair{0L, bsl_code_1}, std::pair{0x40L, bsl_code_2_block}}) {
        if (!about_to(s, "save code", n, true)) return;
        if (failed(s, program_block(reader, s, n, address, *decode_block(hex)), time_out)) return;
        advance_progress(s);
    }
    s.run.step = "late-byte check";
    if (failed(s, settle(reader, s), time_out)) return;
    s.run.code.set(n, true);
    core::notice_block(
        s.log(),
        {std::string("                         Bootstrap Loader Code successfully saved in Sector ") + digit(n)});
    s.repaint_now();
}

void program_sector(app_state& s)
{
    s.flash_error = core::k_false;
    const int n = s.current_sector;
    const char* const time_out = "     TimeOut: I didn't received the byte that I was waiting for ! ";
    s.mainform.progress.sector = n;
    answer_reader reader(s);
    if (!erase(s, reader, time_out)) return;
    std::string_view file(s.prepared ? s.prepared->block_text : s.new_file_text);
    int code_blocks = 0;  // of the code's two, acknowledged
    for (;;) {
        const auto next = read_next(file, n);
        if (next.broken) {
            s.run.outcome = core::run_record::result::failed;
            report_flash_failure(s, {k_broken_file});
            return;
        }
        if (!next.record) break;
        // The chip sees sector 0 at segment 0, whatever the hex file maps it to.
        const int segment = n == 0 ? 0 : next.record->segment;
        if (!about_to(s, "program block", n, true)) return;
        if (failed(s, program_block(reader, s, segment, next.record->address, next.bytes), time_out)) return;
        advance_progress(s);
        // The block file puts the code into the first two blocks of the sector
        // that shall keep it: once both are acknowledged, a failure further on
        // leaves a copy there too.
        if (n == s.bsl_target && next.record->address < k_bsl_code_end && ++code_blocks == 2) s.run.code.set(n, true);
    }
    s.run.step = "late-byte check";
    if (failed(s, settle(reader, s), time_out)) return;
    // The block file puts the code into the sector that shall keep it.
    if (n == s.bsl_target) s.run.code.set(n, true);
    core::notice_block(s.log(),
                       {std::string("                         Sector  ") + digit(n) + "   successfully programmed"});
    s.repaint_now();
}

}  // namespace fernwick::programming
