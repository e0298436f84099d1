#include "operator/station_thread.h"

#include <sstream>

namespace fernwick::operator_window {

station_thread::station_thread(const station::station_setup& setup, station::station_model& model,
                               std::function<void(bool, const std::string&)> prepared, std::function<void(int)> ended)
    : setup_(setup), model_(model), prepared_(std::move(prepared)), ended_(std::move(ended))
{
}

station_thread::~station_thread()
{
    stop();
    wait();
}

void station_thread::stop()
{
    const std::lock_guard lock(mutex_);
    stop_wanted_ = true;
    if (core_ != nullptr) core_->stop();
}

void station_thread::run()
{
    // Made here: its event loop belongs to the thread that runs it.
    station::station_core core(setup_, model_);
    std::ostringstream why;
    if (!core.prepare(why)) {
        prepared_(false, why.str());
        ended_(2);
        return;
    }
    prepared_(true, {});
    {
        const std::lock_guard lock(mutex_);
        core_ = &core;
        if (stop_wanted_) core.stop();
    }
    const int status = core.run();
    {
        const std::lock_guard lock(mutex_);
        core_ = nullptr;
    }
    for (const auto& e : core.write_errors()) model_.say("fernwick-station: " + e);
    ended_(status);
}

}  // namespace fernwick::operator_window
