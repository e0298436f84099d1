// fernwick: the desktop tool, seven windows over one app_state.

#include <memory>

#include <QApplication>

#include "core/app_state.h"
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
    ui::shell windows(s);
    core::StartModul(s);
    shell::connect_events(s, [&windows] { windows.sync(); });
    windows.sync();
    return QApplication::exec();
}
