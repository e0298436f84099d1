#pragma once
// The station's core in a thread of its own, so that the window stays
// responsive while the core runs its own event loop.

#include <QThread>
#include <functional>
#include <mutex>
#include <string>

#include "station/station_core.h"

namespace fernwick::operator_window {

class station_thread : public QThread {
public:
    // `prepared` is told, in this thread, whether the core took its setup and
    // if not why; `ended` the exit status once it has run. Both must hand on
    // to the window's thread themselves.
    station_thread(const station::station_setup& setup, station::station_model& model,
                   std::function<void(bool, const std::string&)> prepared, std::function<void(int)> ended);
    ~station_thread() override;

    // From any thread, before or during the run: every board under way
    // finishes and is recorded.
    void stop();

protected:
    void run() override;

private:
    const station::station_setup setup_;
    station::station_model& model_;
    std::function<void(bool, const std::string&)> prepared_;
    std::function<void(int)> ended_;
    std::mutex mutex_;
    station::station_core* core_ = nullptr;
    bool stop_wanted_ = false;
};

}  // namespace fernwick::operator_window
