#pragma once
// A failed board's details for whoever looks into it: its error block, what
// to do, and its log's lines, to read only.

#include <QString>

#include "station/station_model.h"

class QWidget;

namespace fernwick::operator_window {

// The text the window shows.
QString details_text(const station::fixture_picture& f);

// Opens the window over `parent`; it closes by itself, changing nothing.
QWidget* show_details_window(QWidget* parent, const station::fixture_picture& f);

}  // namespace fernwick::operator_window
