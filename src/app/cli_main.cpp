// fernwick-cli: the tool's handlers without windows, for scripts and
// production lines.

#include <QCoreApplication>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <iomanip>
#include <iostream>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "app/cli_convert.h"
#include "app/cli_counting_link.h"
#include "app/cli_plan.h"
#include "app/cli_program.h"
#include "app/cli_session.h"
#include "bootstrap/reset_step.h"
#include "command/commands.h"
#include "core/link_trace.h"
#include "core/qt_serial_link.h"
#include "core/qt_ui_timer.h"

namespace {

using namespace fernwick;

constexpr int k_usage_error = 2;

const char* const k_help =
    "usage: fernwick-cli [--com 1|2 | --device PATH] [--baud RATE] COMMAND [ARGS]\n"
    "\n"
    "Brings a Mirel board in bootstrap mode up over a serial line and runs one\n"
    "command, printing the message log as it grows.\n"
    "\n"
    "  --com 1|2       serial port COM 1 or COM 2 (default 1); FERNWICK_COM1 and\n"
    "                  FERNWICK_COM2 name the devices behind them\n"
    "  --device PATH   use the device PATH as the chosen port\n"
    "  --baud RATE     2400, 4800, 9600, 14400 or 19200 (default 9600)\n"
    "\n"
    "commands:\n"
    "  status          read the flash status of the four sectors; prints\n"
    "                  'Sector n: XXXX' for each\n"
    "  reset           reset the microcontroller by software\n"
    "  program FILE [--sectors LIST] [--bsl-now 0|2|-99] [--bsl-target 0|2|-99]\n"
    "               [--sector0-segment 0|1]\n"
    "                  erase and program FILE (Intel-Hex) as the windows would:\n"
    "                  where the bootstrap loader code lies now (default 2), where\n"
    "                  it shall lie (default 2; -99: nowhere), the segment of\n"
    "                  sector 0 (default 0); --sectors sets the sector boxes\n"
    "                  (default: the sectors FILE has data for, and those the\n"
    "                  bootstrap-code rules lock on; locked boxes keep their state).\n"
    "                  FILE is checked before the board is touched: a damaged\n"
    "                  record (checksum, length, characters, record type, address)\n"
    "                  or a missing end record, or no data for any chosen sector,\n"
    "                  sends nothing\n"
    "  convert FILE [same options as program]\n"
    "                  write FILE's .NEW block file (no board needed), with the\n"
    "                  same defaults and checks as program: the file program\n"
    "                  would send\n"
    "\n"
    "FERNWICK_TRACE=FILE records every byte on both links in FILE.\n"
    "\n"
    "exit status: 0 success; 1 the board could not be used (the port missing\n"
    "or held, no answer, an exchange with the chip failed: the log says which);\n"
    "2 a usage error, or a hex file that cannot be used (nothing was sent)\n";

struct options {
    int port = 1;
    std::string device;
    std::string baud = "9600";
    std::string command;
    std::vector<std::string> rest;
};

int usage_error(const std::string& why)
{
    std::cerr << "fernwick-cli: " << why << " (see --help)\n";
    return k_usage_error;
}

// Parses the options before the command; nullopt after printing an error.
std::optional<options> parse(const std::vector<std::string>& args, int& status)
{
    options o;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        const bool has_value = i + 1 < args.size();
        if (a == "--com" && has_value && (args[i + 1] == "1" || args[i + 1] == "2")) {
            o.port = std::stoi(args[++i]);
        } else if (a == "--device" && has_value) {
            o.device = args[++i];
        } else if (a == "--baud" && has_value) {
            o.baud = args[++i];
            if (o.baud != "2400" && o.baud != "4800" && o.baud != "9600" && o.baud != "14400" &&
                o.baud != "19200") {
                status = usage_error("unsupported baud rate " + o.baud);
                return std::nullopt;
            }
        } else if (!a.empty() && a[0] != '-') {
            o.command = a;
            o.rest.assign(args.begin() + static_cast<long>(i) + 1, args.end());
            return o;
        } else {
            status = usage_error("unknown or incomplete option " + a);
            return std::nullopt;
        }
    }
    status = usage_error("no command given");
    return std::nullopt;
}

void choose(core::app_state& s, const options& o)
{
    static const std::map<std::string, void (*)(core::app_state&)> baud_buttons = {
        {"2400", bootstrap::bs_2400_Click},   {"4800", bootstrap::bs_4800_Click},
        {"9600", bootstrap::bs_9600_Click},   {"14400", bootstrap::bs_14400_Click},
        {"19200", bootstrap::bs_19200_Click},
    };
    baud_buttons.at(o.baud)(s);
    (o.port == 2 ? bootstrap::com2__Click : bootstrap::com1__Click)(s);
}

void print_summary(const core::app_state& s, const app::counting_link& link, double seconds, int baud)
{
    const double wire_bits = 10.0 * static_cast<double>(link.sent + link.received);
    const double share = seconds > 0 ? wire_bits / seconds / baud : 0;
    std::cout << "Blocks sent: " << s.mainform.progress.blocks_done << ", bytes sent: " << link.sent
              << ", bytes received: " << link.received << "\n"
              << std::fixed << std::setprecision(2) << "Time: " << seconds << " s, line rate reached: "
              << std::setprecision(1) << 100 * share << " % of " << baud << " baud\n";
}

// Nothing reaches the board from a file that "program" would refuse.
bool program_checks_pass(const app::hex_choices& c)
{
    std::ostream quiet(nullptr);  // the run itself says what the flow notes
    const auto p = app::make_plan(c, quiet);
    if (p.refusal.empty()) return true;
    std::cerr << "fernwick-cli program: " << p.refusal << "; nothing was sent\n";
    return false;
}

int run_on_board(const options& o)
{
    std::optional<app::hex_choices> program;
    if (o.command == "program") {
        std::string why;
        program = app::parse_hex_choices(o.rest, why);
        if (!program) return usage_error("program: " + why);
        if (!program_checks_pass(*program)) return k_usage_error;
    } else if (!o.rest.empty()) {
        return usage_error("unexpected argument " + o.rest.front());
    }
    if (!o.device.empty())
        ::setenv(o.port == 2 ? "FERNWICK_COM2" : "FERNWICK_COM1", o.device.c_str(), 1);
    app::counting_link* command_link = nullptr;
    core::platform p{[&command_link] {
                         auto link = std::make_unique<app::counting_link>(std::make_unique<core::qt_serial_link>());
                         if (!command_link) command_link = link.get();
                         return link;
                     },
                     [] { return std::make_unique<core::qt_ui_timer>(); }};
    core::app_state s(p);  // makes the command link first
    if (const auto trace_failed = core::trace_links_from_environment(s)) {
        std::cerr << "fernwick-cli: " << *trace_failed << "\n";
        return k_usage_error;
    }
    core::StartModul(s);
    s.quit = [] { std::quick_exit(0); };
    choose(s, o);
    app::cli_session session(s, std::cout);
    if (o.command == "reset") return session.run(command::reset_micro__Click, app::reset_verdict);
    if (program) {
        int status = 0;
        double seconds = 0;
        const auto flow = [&](core::app_state& state) {
            const auto started = std::chrono::steady_clock::now();
            status = app::run_programming_flow(state, *program, std::cout, std::cerr);
            seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        };
        const auto verdict = [&](const core::app_state&) {
            return status == 0 ? app::cli_session::verdict::succeeded : app::cli_session::verdict::failed;
        };
        if (session.run(flow, verdict) != 0 && status == 0) return 1;  // the bring-up failed
        if (status != 2) print_summary(s, *command_link, seconds, std::stoi(o.baud));
        return status;
    }
    const int status = session.run(command::show_status_Click, app::status_verdict);
    if (status == 0)
        for (int n = 0; n < 4; ++n)
            std::cout << "Sector " << n << ": " << s.statusform.status_sector[n] << "\n";
    return status;
}

}  // namespace

int main(int argc, char** argv)
{
    // Output that cannot be written (a reader that went away, as "| head"
    // does) must never stop a run halfway through the flash: the stream then
    // only stops printing, and the exit status still tells the outcome.
#ifdef SIGPIPE
    std::signal(SIGPIPE, SIG_IGN);
#endif
    const std::vector<std::string> args(argv + 1, argv + argc);
    for (const auto& a : args)
        if (a == "--help" || a == "-h") {
            std::cout << k_help;
            return 0;
        }
    int status = 0;
    const auto o = parse(args, status);
    if (!o) return status;
    if (o->command == "convert") return app::run_convert(o->rest, std::cout, std::cerr);
    if (o->command != "status" && o->command != "reset" && o->command != "program")
        return usage_error("unknown command " + o->command);
    QCoreApplication qt(argc, argv);
    return run_on_board(*o);
}
