#pragma once
// The file dialog D1 of the main window: an Open dialog for the hex file.

#include <optional>
#include <string>
#include <string_view>

#include <QString>

class QWidget;

namespace fernwick::ui {

// The dialog's filter as the system states it: description|pattern pairs.
inline constexpr std::string_view k_hex_filter =
    "Intel-Hex-File Daxo (*.hex)|*.hex|Intel-Hex-File Mirelon (*.h86)|*.h86|All Files (*.*)|*.*";

// "desc|pattern|..." as Qt's "desc (pattern);;...": descriptions that already
// name their pattern stay exactly as they are.
QString qt_filter(std::string_view pairs);

// Shows the Open dialog with an empty file name; the chosen path, or none
// when the operator cancels.
std::optional<std::string> ask_hex_file(QWidget* parent);

}  // namespace fernwick::ui
