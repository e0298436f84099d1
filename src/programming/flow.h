#pragma once
// The operator's flow of a programming run: hex file choice, the location
// window, the sector confirmation and the warning.

#include <optional>
#include <string>

#include "core/app_state.h"

namespace fernwick::programming {

// `chosen` is the path the file dialog gave, or none when it was cancelled.
void load_hex__Click(core::app_state& s, const std::optional<std::string>& chosen);

void sect0_Click(core::app_state& s);
void sect2_Click(core::app_state& s);
void external_Click(core::app_state& s);
void Option1_Click(core::app_state& s);
void Option2_Click(core::app_state& s);
void Option3_Click(core::app_state& s);
void seg0_Click(core::app_state& s);
void seg1_Click(core::app_state& s);
void LocationForm_Command1_Click(core::app_state& s);  // OK
void LocationForm_Unload(core::app_state& s);          // close box

// Changes a sector box's value (0 or 1) and, when it changed, runs the box's
// click handling: the one way both the operator and the program tick a box.
void set_check_value(core::app_state& s, int box, int value);
void sector0_Click(core::app_state& s);
void sector1_Click(core::app_state& s);
void sector2_Click(core::app_state& s);
void sector3_Click(core::app_state& s);
void ConfirmForm_Command1_Click(core::app_state& s);  // Back
void ConfirmForm_Command2_Click(core::app_state& s);  // Cancel
void ConfirmForm_Unload(core::app_state& s);          // close box: as Cancel

void Warning_Command1_Click(core::app_state& s);  // OK
void Warning_Command2_Click(core::app_state& s);  // Cancel
void Warning_Unload(core::app_state& s);          // close box: as Cancel

}  // namespace fernwick::programming
