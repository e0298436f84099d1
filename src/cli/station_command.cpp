#include "cli/station_command.h"

#include <unistd.h>
#include <QTimer>
#include <iostream>

#include "cli/job_command.h"
#include "cli/station_view.h"
#include "station/station_core.h"

namespace fernwick::cli {

station_setup setup_of(const cli_request& r)
{
    station_setup s;
    s.ports = r.ports;
    s.baud = r.baud;
    s.choices = r.choices;
    s.bench = r.bench;
    s.retries = r.retries;
    s.report = r.report;
    s.log_dir = r.log_dir;
    s.ledger_file = r.ledger_file;
    s.keeping = r.keeping;
    s.count = r.count;
    s.serial = r.serial;
    return s;
}

int run_station(const cli_request& r)
{
    const auto setup = r.job_file.empty() ? std::optional(setup_of(r)) : job_setup(r, std::cerr);
    if (!setup) return k_usage_error;
    station_model model;
    station_view view(::isatty(STDOUT_FILENO) == 1, model);
    station_core s(*setup, model);
    if (!s.prepare(std::cerr)) return k_usage_error;
    QTimer redraw;
    QObject::connect(&redraw, &QTimer::timeout, [&view] { view.redraw(); });
    if (view.live()) redraw.start(1000);
    const int status = s.run();
    for (const auto& why : s.write_errors()) std::cerr << "fernwick-cli station: " << why << "\n";
    return status;
}

}  // namespace fernwick::cli
