#include "station/headless_session.h"

#include <QTimer>
#include <ostream>

#include "bootstrap/reset_step.h"
#include "shell/events.h"

namespace fernwick::station {

using core::app_state;

namespace {

constexpr int k_stop_watch_ms = 50;
// A station's fixture may wait for its next board for hours: looked at
// less often, so that waiting costs next to nothing.
constexpr int k_stop_watch_waiting_ms = 1000;

}  // namespace

cli_session::cli_session(app_state& s, std::ostream& out) : s_(s), out_(out)
{
    generation_ = s_.log().generation();
    // What the windows would draw at once goes out at once, so a long run
    // shows each step as it is written.
    s_.repaint = [this] { echo_log(); };
    s_.keep_alive = [this] { echo_log(); };
}

void cli_session::echo_log()
{
    const auto& log = s_.log();
    if (log.generation() != generation_) {
        generation_ = log.generation();
        echoed_ = 0;
    }
    const std::string& text = log.text();
    for (std::size_t i = echoed_; i < text.size(); ++i)
        if (text[i] != '\r') out_ << text[i];
    echoed_ = text.size();
    out_.flush();
}

cli_session::verdict cli_session::bring_up_verdict(const app_state& s)
{
    if (s.mainform.program_.visible) return verdict::succeeded;
    // The bring-up waits only while its time-out runs.
    return s.RESETFORM.Timer0->active() ? verdict::running : verdict::failed;
}

void cli_session::after_event()
{
    echo_log();
    if (verdict_ != verdict::running) return;  // events of a session already ended
    verdict v = verdict::running;
    if (!in_command_) {
        v = bring_up_verdict(s_);
        if (v == verdict::succeeded && s_.stop_now()) v = verdict::stopped;
        if (v == verdict::succeeded) {
            in_command_ = true;
            start_(s_);
            echo_log();
            v = done_(s_);
        }
    } else {
        v = done_(s_);
    }
    finish(v);
}

void cli_session::finish(verdict v)
{
    if (v == verdict::running || verdict_ != verdict::running) return;
    verdict_ = v;
    loop_.exit();
}

cli_session::verdict cli_session::run(const command& start, const judge& done)
{
    start_ = start;
    done_ = done;
    shell::connect_events(s_, [this] { after_event(); });
    // A stop asked for during the bring-up ends it between two events; once
    // the command runs, the command itself looks at the request.
    QTimer stop_watch;
    QObject::connect(&stop_watch, &QTimer::timeout, [this] {
        if (!in_command_ && s_.stop_now()) finish(verdict::stopped);
    });
    stop_watch.start(s_.bench.wait_ms < 0 ? k_stop_watch_waiting_ms : k_stop_watch_ms);
    bootstrap::RESET_OK_Click(s_);
    // The first verdict comes after the reset step has returned, as every
    // later one comes after its handler.
    QTimer::singleShot(0, &loop_, [this] { after_event(); });
    if (verdict_ == verdict::running) loop_.exec();
    echo_log();
    return verdict_;
}

}  // namespace fernwick::station
