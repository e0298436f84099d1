// fernwick: the desktop tool, seven windows over one app_state.

#include <iostream>
#include <memory>

#include <QApplication>

#include "core/app_state.h"
#include "core/link_trace.h"
#include "core/qt_serial_link.h"
#include "core/qt_ui_timer.h"
#include "shell/events.h"
#include "ui/shell.h"

int main(int argc, char** argv)
{
    using namespace fernwick;

    QApplication app(argc, argv);
    // The program ends only through its own commands, never because no
    // window happens to be shown for a moment.
    QApplication::setQuitOnLastWindowClosed(false);

    const core::platform platform{[] { return std::make_unique<core::qt_serial_link>(); },
                                  [] { return std::make_unique<core::qt_ui_timer>(); }};
    core::app_state s(platform);
    // Asked for a trace, the operator gets one or is told why not: a bug
    // report without it would be worth little.
    if (const auto trace_failed = core::trace_links_from_environment(s)) {
        std::cerr << "fernwick: " << *trace_failed << "\n";
        return 2;
    }
    ui::shell windows(s);
    core::StartModul(s);
    shell::connect_events(s, [&windows] { windows.sync(); });
    windows.sync();
    return QApplication::exec();
}
