#pragma once
// Who runs the station and which lot: asked once before the run, both
// required, neither changeable afterwards.

#include <QDialog>
#include <string>

class QLineEdit;
class QPushButton;

namespace fernwick::operator_window {

class operator_dialog : public QDialog {
public:
    explicit operator_dialog(QWidget* parent = nullptr);

    std::string operator_name() const;
    std::string lot() const;
    QLineEdit* operator_field() const { return operator_; }
    QLineEdit* lot_field() const { return lot_; }
    QPushButton* start_button() const { return start_; }

private:
    void check();

    QLineEdit* operator_;
    QLineEdit* lot_;
    QPushButton* start_;
};

}  // namespace fernwick::operator_window
