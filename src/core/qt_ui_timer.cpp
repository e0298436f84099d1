#include "core/qt_ui_timer.h"

#include <QTimer>

namespace fernwick::core {

qt_ui_timer::qt_ui_timer() : timer_(std::make_unique<QTimer>())
{
    // Single shot: the handlers restart or stop the timer themselves, and a
    // handler that forgets must not be ticked again on its own.
    timer_->setSingleShot(true);
    timer_->setTimerType(Qt::PreciseTimer);
    QObject::connect(timer_.get(), &QTimer::timeout, timer_.get(), [this] { tick(); });
}

qt_ui_timer::~qt_ui_timer() = default;

void qt_ui_timer::start(int interval_ms) { timer_->start(interval_ms); }

void qt_ui_timer::stop() { timer_->stop(); }

bool qt_ui_timer::active() const { return timer_->isActive(); }

}  // namespace fernwick::core
