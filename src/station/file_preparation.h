#pragma once
// What "convert" and "program" do with a hex file before any board is
// touched: the choices of the location window from the command line, the
// sector boxes as the windows' rules leave them, and the checks that refuse
// a file that cannot be used.

#include <array>
#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "core/app_state.h"
#include "programming/conversion.h"
#include "station/serial_numbers.h"

namespace fernwick::station {

// The windows' defaults: the code lies in sector 2 and stays there, sector 0
// is mapped to segment 0, and the boxes are as the file and the rules set them.
struct hex_choices {
    std::string hex_file;
    std::optional<std::vector<int>> sectors;  // boxes set to exactly these
    std::int16_t bsl_now = 2;
    std::int16_t bsl_target = 2;
    std::int16_t sector0_segment = 0;
    bool allow_unplaced = false;  // program without the bytes that reach no flash
};

// "0,1,3": sector numbers 0 to 3 separated by commas; nullopt otherwise.
std::optional<std::vector<int>> parse_sector_list(const std::string& text);

// The operator's steps up to the confirmation window on `s`: Load Hex-File,
// the location choices, OK, the warning's OK, then the boxes. Notes on
// locked boxes and the warning go to `notes`. False when the flow ended
// before the confirmation window (a file that cannot be used).
bool choose_as_operator(core::app_state& s, const hex_choices& c, std::ostream& notes);

// The sector boxes as the operator left them (sector0_on ... sector3_on).
std::array<bool, 4> sectors_on(const core::app_state& s);

// "0,1,3", or "none".
std::string listed(const std::array<bool, 4>& which);

// Why a confirmed choice would program nothing the operator asked for: the
// file has no data in any flash sector under the chosen mapping (the wrong
// mapping, most likely), or no chosen sector receives data or the code, so
// the run would only erase. nullopt otherwise.
// `other_mapping_helps`: the file has data that the other segment of sector 0 would place, so the
// mapping is worth naming.
std::optional<std::string> nothing_to_program(const core::app_state& s, bool other_mapping_helps = false);

struct plan {
    std::array<bool, 4> sectors{};
    programming::conversion_result conversion;  // in memory, nothing written
    std::string refusal;                        // why the file cannot be used; empty when it can
    std::string unplaced_summary;               // "app.hex: 48 bytes of its data reach no flash"; empty: none
    long unplaced_bytes = 0;
    std::vector<std::string> unplaced;      // the ranges of those bytes, one line each, the many summed up
    std::vector<std::string> unplaced_all;  // every range, for the report
    std::vector<std::string> not_chosen;    // "sector 3: 12 KiB of file data not chosen"
};

// The whole preparation on a state of its own, with no board: the same
// handlers as the windows, then the conversion in memory. Bytes that reach
// no flash refuse the file unless the choices allow them. With a serial
// number, its place is checked and converted as 00h bytes, so that each
// board's blocks can take its number there.
plan make_plan(const hex_choices& c, std::ostream& notes, const serial_choice& serial = {});

// "fernwick-cli COMMAND: REFUSAL" with `tail`, and the ranges of the bytes
// that reach no flash when they are why.
void print_refusal(std::ostream& err, const std::string& command, const plan& p, const std::string& tail = {});

// What an accepted plan leaves out: the bytes that reach no flash (allowed)
// and the file's data in sectors not chosen, one line each.
void print_left_out(std::ostream& err, const std::string& command, const plan& p);

}  // namespace fernwick::station
