#pragma once
// The UI timer over the platform's event-loop timer (QTimer).

#include <memory>

#include "core/ui_timer.h"

class QTimer;

namespace fernwick::core {

// Ticks once per start, on the event loop of the thread that created it.
class qt_ui_timer : public ui_timer {
public:
    qt_ui_timer();
    ~qt_ui_timer() override;
    qt_ui_timer(const qt_ui_timer&) = delete;
    qt_ui_timer& operator=(const qt_ui_timer&) = delete;

    void start(int interval_ms) override;
    void stop() override;
    bool active() const override;

private:
    std::unique_ptr<QTimer> timer_;
};

}  // namespace fernwick::core
