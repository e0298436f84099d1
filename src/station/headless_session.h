#pragma once
// A headless run of the operator's handlers: the reset step and bring-up,
// then one command, on an event loop of its own without windows, so that
// each board of a production line runs one in its own thread.

#include <QEventLoop>
#include <functional>
#include <iosfwd>
#include <string>

#include "core/app_state.h"

namespace fernwick::station {

class cli_session {
public:
    // The outcome of a step: keep going, or end with an exit status.
    enum class verdict { running, succeeded, failed, stopped };
    using command = std::function<void(core::app_state&)>;
    using judge = std::function<verdict(const core::app_state&)>;

    cli_session(core::app_state& s, std::ostream& out);

    // Brings the chip up, gives `start` once the command phase is reached,
    // and runs the event loop until `done` gives a verdict, or until the
    // state's stop_requested says so during the bring-up (nothing more is
    // sent then). Returns the verdict.
    verdict run(const command& start, const judge& done);

    // Prints the log text written since the last call (CR LF as newlines).
    void echo_log();

private:
    void after_event();
    void finish(verdict v);
    static verdict bring_up_verdict(const core::app_state& s);

    core::app_state& s_;
    std::ostream& out_;
    std::size_t echoed_ = 0;
    std::uint64_t generation_ = 0;
    bool in_command_ = false;
    command start_;
    judge done_;
    QEventLoop loop_;
    verdict verdict_ = verdict::running;
};

}  // namespace fernwick::station
