#pragma once
// Input the operator cannot have meant for what it would do: a click, Enter
// or Space on a window that appeared a moment ago (the second half of a
// double click or a double Enter on the window before it), a key held down
// that repeats onto a button or into another window than it was pressed on,
// and input made while a handler blocks the window thread, which would
// otherwise be carried out after the handler.

#include <map>

#include <QElapsedTimer>
#include <QObject>

class QKeyEvent;
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
    bool pressed_here(const QWidget* widget, const QKeyEvent* key);

    QElapsedTimer clock_;
    struct held_key {
        const QWidget* pressed_on = nullptr;  // the window of its last press that was no repeat
        unsigned long released_at = 0;        // its last release's time stamp
    };
    std::map<int, held_key> keys_;
    bool holding_ = false;
    bool draining_ = false;
};

}  // namespace fernwick::ui
