// fernwick-cli: the tool's handlers without windows, for scripts and
// production lines.

#include <QCoreApplication>
#include <csignal>
#include <iostream>
#include <string>
#include <vector>

#include "cli/convert_command.h"
#include "cli/job_command.h"
#include "cli/ledger_command.h"
#include "cli/options.h"
#include "cli/plan_command.h"
#include "cli/program_command.h"
#include "cli/station_command.h"

int main(int argc, char** argv)
{
    using namespace fernwick;
    // Output that cannot be written (a reader that went away, as "| head"
    // does) must never stop a run halfway through the flash: the stream then
    // only stops printing, and the exit status still tells the outcome.
#ifdef SIGPIPE
    std::signal(SIGPIPE, SIG_IGN);
#endif
    int status = 0;
    const auto request =
        cli::parse_command_line(std::vector<std::string>(argv + 1, argv + argc), std::cout, std::cerr, status);
    if (!request) return status;
    if (request->command == "convert") return cli::run_convert(request->choices, std::cout, std::cerr);
    if (request->command == "job make") return cli::run_job_make(*request, std::cout, std::cerr);
    if (request->command == "job show") return cli::run_job_show(*request, std::cout, std::cerr);
    if (request->command == "ledger") return cli::run_ledger(request->ledger, std::cout, std::cerr);
    if (request->command == "plan")
        return cli::run_plan(request->choices, request->baud, request->bench, request->adapter_latency_ms, std::cout,
                             std::cerr);
    QCoreApplication qt(argc, argv);
    cli::stop_on_signals();
    if (request->command == "station") return cli::run_station(*request);
    return cli::run_on_boards(*request);
}
