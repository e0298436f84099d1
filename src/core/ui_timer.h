#pragma once
// A timer of the UI thread: the bring-up and reply time-outs.

#include <functional>

namespace fernwick::core {

class ui_timer {
public:
    virtual ~ui_timer() = default;
    // Begins a new full period, also when the timer already runs.
    virtual void start(int interval_ms) = 0;
    // Discards a tick that has not been handled yet.
    virtual void stop() = 0;
    virtual bool active() const = 0;
    void set_tick_callback(std::function<void()> cb) { on_tick_ = std::move(cb); }

protected:
    void tick() const
    {
        if (on_tick_) on_tick_();
    }

private:
    std::function<void()> on_tick_;
};

}  // namespace fernwick::core
