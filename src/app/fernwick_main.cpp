// fernwick: the desktop tool, seven windows over one app_state.

#include <CLI/CLI.hpp>
#include <iostream>
#include <memory>

#include <QApplication>

#include "core/app_state.h"
#include "core/link_trace.h"
#include "core/qt_serial_link.h"
#include "core/qt_ui_timer.h"
#include "core/shared_port.h"
#include "shell/events.h"
#include "ui/bench_settings.h"
#include "ui/shell.h"

namespace {

namespace core = fernwick::core;

const char* const k_description =
    "The desktop tool that programs the flash of a Mirel microcontroller over a serial line. The first window "
    "chooses the port and the baud rate; OK wakes the chip's bootstrap loader and loads the resident program, "
    "whose menus then read the flash status, erase and program sectors from an Intel-Hex file, and reset the "
    "chip. Every step and every error is reported in the message log of the main window.";

const char* const k_footer =
    "FERNWICK_COM1 and FERNWICK_COM2 name the devices behind COM 1 and COM 2 (by default /dev/ttyS0 and "
    "/dev/ttyS1). FERNWICK_TRACE=FILE records every byte on the serial links in FILE.\n"
    "\n"
    "The keys entry and exit of the settings file (~/.config/fernwick/fernwick.ini) take the same sequences as "
    "--entry and --exit, which come before them.\n"
    "\n"
    "Qt's own options, such as -platform or -style, are passed on to Qt.";

// The entry and exit sequences of the options; false after saying on
// standard error which one is wrong. The settings file gives the others once
// there is a display to say a wrong key on.
bool read_bench_options(const std::string& entry, const std::string& exit, core::bench_setup& bench)
{
    const auto read = [](const std::string& text, const char* option, bool is_exit, core::modem_sequence& sequence) {
        if (text.empty()) return true;
        std::string why;
        auto parsed = core::parse_modem_sequence(text, is_exit, why);
        if (!parsed) {
            std::cerr << "fernwick: " << option << ": " << why << "\n";
            return false;
        }
        sequence = std::move(*parsed);
        sequence.given_in = option;
        return true;
    };
    return read(entry, "--entry", false, bench.entry) && read(exit, "--exit", true, bench.exit);
}

// --help and --version come before the QApplication, so that they work
// without a display (the manual page is made from them at build time).
// Returns the status to end with at once, or -1 to go on.
int read_options(int argc, char** argv, core::bench_setup& bench)
{
    CLI::App app(k_description, "fernwick");
    app.footer(k_footer);
    app.set_version_flag("--version", std::string("fernwick ") + FERNWICK_VERSION);
    app.allow_extras();
    std::string entry, exit;
    app.add_option("--entry", entry,
                   "the modem-line steps that reset the board into its bootstrap mode at OK of the first window: a "
                   "wiring (" +
                       core::wiring_names() + ") or steps, as fernwick-cli --entry takes them")
        ->type_name("SEQ");
    app.add_option("--exit", exit,
                   "the steps after a programming run that succeeded, so that the board starts its program")
        ->type_name("SEQ");
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return app.exit(e);
    }
    return read_bench_options(entry, exit, bench) ? -1 : 2;
}

}  // namespace

int main(int argc, char** argv)
{
    using namespace fernwick;

    int status = -1;
    core::bench_setup bench;
    try {
        status = read_options(argc, argv, bench);
    } catch (const std::exception& e) {
        // CLI11 refusing how the options were declared: a fault of the build,
        // said rather than left to terminate().
        std::cerr << "fernwick: " << e.what() << "\n";
        return 2;
    }
    if (status >= 0) return status;
    QApplication app(argc, argv);
    // Ties the windows to the installed desktop entry and its icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("org.fernwick.Fernwick"));
    // The program ends only through its own commands, never because no
    // window happens to be shown for a moment.
    QApplication::setQuitOnLastWindowClosed(false);
    if (!ui::read_bench_settings(ui::settings_file(), bench, std::cerr)) return 2;

    const auto platform = core::sharing_one_port({[] { return std::make_unique<core::qt_serial_link>(); },
                                                  [] { return std::make_unique<core::qt_ui_timer>(); }});
    core::app_state s(platform);
    s.bench = bench;
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
