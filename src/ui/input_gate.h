#pragma once
// Input the operator cannot have meant for what it would do: a click, Enter
// or Space on a window that appeared a moment ago (the second half of a
// double click or a double Enter on the window before it), and input made while a handler blocks the window
// thread, which would otherwise be carried out after the handler.

#include <QElapsedTimer>
#include <QObject>

class QWidget;

namespace fernwick::ui {

class input_gate : public QObject {
public:
    // Watches every event of the application while it lives.
    input_gate();
    ~input_gate() override;
    input_gate(const input_gate&) = delete;
    input_gate& operator=(const input_gate&) = delete;

    // From now on until release(), user input and close requests are dropped.
    void hold();
    // Delivers what arrived meanwhile, dropping the input in it, and lets
    // input through again.
    void release();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool just_appeared(const QWidget* window) const;

    QElapsedTimer clock_;
    bool holding_ = false;
    bool draining_ = false;
};

}  // namespace fernwick::ui
