#include "cli/job_command.h"

#include <ostream>
#include <sstream>

#include "cli/station_command.h"
#include "station/job.h"
#include "station/station_core.h"

namespace fernwick::cli {

namespace {

// The station's own words, said by job make.
void say_as_job_make(std::ostream& err, const std::string& said)
{
    std::istringstream lines(said);
    constexpr std::string_view k_station = "fernwick-cli station: ";
    for (std::string line; std::getline(lines, line);)
        err << (line.starts_with(k_station) ? "fernwick-cli job make: " + line.substr(k_station.size()) : line) << "\n";
}

}  // namespace

int run_job_make(const cli_request& r, std::ostream& out, std::ostream& err)
{
    if (const auto fault = record_name_fault(r.product); !fault.empty()) {
        err << "fernwick-cli job make: the product's name " << fault << "; no job was written\n";
        return k_usage_error;
    }
    // A job goes from host to host: these are each host's own.
    if (!r.keeping.host_name.empty() || !r.keeping.spool.empty() || r.keeping.serial_lease != 0) {
        err << "fernwick-cli job make: --host-name, --spool and --serial-lease belong to each host, not to the job: "
               "give them to station beside --job; no job was written\n";
        return k_usage_error;
    }
    job j;
    j.product = r.product;
    j.setup = setup_of(r);
    std::ostringstream said;
    const auto file = station_core::check(j.setup, said);
    say_as_job_make(err, said.str());
    if (!file) return k_usage_error;
    j.setup.hex_sha256 = file->description.hex_sha256;
    if (const auto why = write_job(r.job_file, j)) {
        err << "fernwick-cli job make: " << *why << "; no job was written\n";
        return k_usage_error;
    }
    out << "fernwick-cli job make: " << r.job_file << ": " << j.product << ", " << r.choices.hex_file << " (SHA-256 "
        << j.setup.hex_sha256 << ")\n";
    return 0;
}

int run_job_show(const cli_request& r, std::ostream& out, std::ostream& err)
{
    std::string why;
    const auto j = read_job(r.job_file, why);
    if (!j) {
        err << "fernwick-cli job show: " << why << "\n";
        return k_usage_error;
    }
    out << job_words(*j);
    return 0;
}

std::optional<station_setup> job_setup(const cli_request& r, std::ostream& err)
{
    std::string why;
    auto j = read_job(r.job_file, why);
    if (j) why = ports_beside_job_fault(*j, r.ports);
    for (const auto& [name, given] : {std::pair{"--operator", &r.operator_name}, std::pair{"--lot", &r.lot}})
        if (const auto fault = given->empty() ? "" : record_name_fault(*given); j && why.empty() && !fault.empty())
            why = std::string(name) + " " + fault + ": it is kept with every board";
    if (!why.empty()) {
        err << "fernwick-cli station: " << why << " (no board was touched)\n";
        return std::nullopt;
    }
    auto s = j->setup;
    if (s.ports.empty()) s.ports = r.ports;
    s.product = j->product;
    s.operator_name = r.operator_name;
    s.lot = r.lot;
    // The host's own: its name, its spool, its numbers held ahead.
    s.keeping = r.keeping;
    return s;
}

}  // namespace fernwick::cli
