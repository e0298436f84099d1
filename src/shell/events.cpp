#include "shell/events.h"

#include "bootstrap/handshake.h"
#include "bootstrap/reset_step.h"
#include "command/reply_engine.h"

namespace fernwick::shell {

void connect_events(core::app_state& s, const std::function<void()>& after)
{
    auto then = [after](auto handler) {
        return [handler, after](auto... args) {
            handler(args...);
            if (after) after();
        };
    };
    s.RESETFORM.MSCom0->set_receive_callback(then([&s](int ev) { bootstrap::MSCom0_OnComm(s, ev); }));
    s.mainform.COM->set_receive_callback(then([&s](int ev) { command::COM_OnComm(s, ev); }));
    s.RESETFORM.Timer0->set_tick_callback(then([&s] { bootstrap::Timer0_Timer(s); }));
    s.mainform.Timer->set_tick_callback(then([&s] { command::Timer_Timer(s); }));
}

}  // namespace fernwick::shell
