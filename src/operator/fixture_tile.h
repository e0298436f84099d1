#pragma once
// One fixture as the operator sees it from across the bench: its name and
// port, its state as a colour and a word, and what goes with the state (the
// progress and the time left, the serial number, the reason and what to do).

#include <QFrame>
#include <chrono>

#include "station/station_model.h"

class QLabel;
class QProgressBar;
class QPushButton;

namespace fernwick::operator_window {

using station::fixture_picture;
using station::fixture_state;

// The state's word on the tile and its colour.
QString state_word(fixture_state s);
QColor state_colour(fixture_state s);

class fixture_tile : public QFrame {
public:
    explicit fixture_tile(const QString& port, QWidget* parent = nullptr);

    void show_picture(const fixture_picture& f, std::chrono::steady_clock::time_point now);
    // Once, after a failure: lit up and back to its colour.
    void flash();

    QPushButton* details_button() const { return details_; }
    QString word() const;
    QString detail() const;  // the line below the word
    QString advice() const;
    QColor colour() const { return colour_; }
    bool programming_shown() const;

private:
    void paint(QColor c);

    QLabel* name_;
    QLabel* port_;
    QLabel* word_;
    QLabel* detail_;
    QLabel* advice_;
    QProgressBar* bar_;
    QPushButton* details_;
    QColor colour_;
};

}  // namespace fernwick::operator_window
