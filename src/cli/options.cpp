#include "cli/options.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <map>
#include <ostream>

#include "cli/options_words.h"
#include "cli/whole_number.h"

#include "core/app_state.h"
#include "core/port_names.h"

namespace fernwick::cli {

namespace {

const char* const k_description =
    "Brings Mirel boards in bootstrap mode up over serial lines and runs one command on each, printing the "
    "message log as it grows.";

const char* const k_footer =
    "Options may come before or after the command's name, its own as well as the port options (--com, --device, "
    "--baud), which status, reset and program take (--baud station and plan too).\n"
    "\n"
    "Several boards: give --device (or --com) once per board; program runs them side by side, each with its "
    "own bring-up and message log, and ends with a table of the results.\n"
    "\n"
    "FERNWICK_COM1 and FERNWICK_COM2 name the devices behind COM 1 and COM 2. FERNWICK_TRACE=FILE records every "
    "byte on every link in FILE (FILE.N for the Nth of several boards).\n"
    "\n"
    "Exit status: 0 success on every board; 1 a board could not be used (the port missing or held, no answer, "
    "an exchange with the chip failed: the log says which); 2 a usage error, or a hex file or a file to write "
    "(report, log, trace) that cannot be used (nothing was sent); 128 + the signal when stopped by SIGINT, SIGHUP, "
    "SIGQUIT or SIGTERM (130, 129, 131, 143: the exchange under way finishes, nothing more is sent).";

const char* const k_job_help =
    "A job is a small JSON file that fixes every choice of a station once: FILE with its SHA-256, the bootstrap "
    "code's place, the sectors, the serial numbers, --entry and --exit, the baud rate, the retries, the ledger, the "
    "report, the log folder, the batch (--count) and, when given, the fixtures' ports. Run it with fernwick-cli "
    "station --job JOBFILE [--operator NAME] [--lot TEXT] [--port PATTERN...]: FILE must still have the job's SHA-256 "
    "(at the start, else nothing is touched, and before every board: a file changed during the run stops new boards "
    "until it is back), and every report line and ledger row carries the product, the job's SHA-256, the operator "
    "and the lot. Exit status as for station; 2 also for a job that cannot be used.";

const char* const k_choices_help =
    "FILE is checked before any board is touched: a damaged record (checksum, length, characters, record type, "
    "address), a missing end record, two records that give different bytes for one address, bytes that reach no "
    "flash (unless --allow-unplaced), or no data for any chosen sector sends nothing.";

std::optional<std::int16_t> location(const std::string& text, bool segment)
{
    if (text == (segment ? "1" : "2") || text == "0") return static_cast<std::int16_t>(text[0] - '0');
    if (!segment && text == "-99") return core::k_nowhere;
    return std::nullopt;
}

// The location window's choices and the sector boxes, shared by program,
// convert and plan so that all three read a file the same way.
void add_hex_choices(CLI::App& command, hex_choices& c, std::string& sectors, std::string& now, std::string& target,
                     std::string& segment)
{
    command.add_option("FILE", c.hex_file, "the Intel-Hex file")->required()->type_name("");
    command
        .add_option("--sectors", sectors,
                    "the sector boxes, e.g. 0,1,3 (default: the sectors FILE has data for, and those the "
                    "bootstrap-code rules lock on; locked boxes keep their state)")
        ->type_name("LIST")
        ->check(CLI::Validator(
            [](std::string& v) {
                return parse_sector_list(v) ? std::string() : "takes sector numbers 0 to 3 separated by commas";
            },
            ""));
    const auto one_of = [](bool segment_choice, const char* what) {
        return CLI::Validator(
            [segment_choice, what](std::string& v) {
                return location(v, segment_choice) ? std::string() : std::string("takes ") + what;
            },
            "");
    };
    command.add_option("--bsl-now", now, "where the bootstrap loader code lies now: 0, 2 or -99 (default 2)")
        ->type_name("N")
        ->check(one_of(false, "0, 2 or -99"));
    command.add_option("--bsl-target", target, "where it shall lie: 0, 2 or -99 for nowhere (default 2)")
        ->type_name("N")
        ->check(one_of(false, "0, 2 or -99"));
    command.add_option("--sector0-segment", segment, "the segment of sector 0: 0 or 1 (default 0)")
        ->type_name("N")
        ->check(one_of(true, "0 or 1"));
    command.add_flag("--allow-unplaced", c.allow_unplaced,
                     "program FILE without its bytes that reach no flash (in no sector under the mapping, under the "
                     "bootstrap loader code, before any address record, after the end record) instead of refusing "
                     "it; they are listed as warnings and in the report");
    command.footer(k_choices_help);
}

// The wiring of the bench's modem lines, and the wait for a board: on the
// commands that bring a board up, and on plan, which shows the sequences.
struct bench_words {
    std::string entry, exit;
    int wait_s = 0;
};

void add_bench_options(CLI::App& command, bench_words& b, bool wait)
{
    const auto sequence = [](bool exit) {
        return CLI::Validator(
            [exit](std::string& v) {
                std::string why;
                return core::parse_modem_sequence(v, exit, why) ? std::string() : why;
            },
            "");
    };
    command
        .add_option("--entry", b.entry,
                    "the modem-line steps that reset the board into its bootstrap mode before each zero byte: a "
                    "wiring (" +
                        core::wiring_names() +
                        ") or steps such as both=1,1,wait=100,rts=0,wait=50 (dtr=0|1, rts=0|1, both=DTR,RTS, "
                        "wait=MS; 1 asserts a line)")
        ->type_name("SEQ")
        ->check(sequence(false));
    command
        .add_option("--exit", b.exit,
                    "the steps after a run that succeeded, so that the board starts its program: a wiring or steps, "
                    "as for --entry")
        ->type_name("SEQ")
        ->check(sequence(true));
    if (!wait) return;
    command
        .add_option("--wait", b.wait_s,
                    "repeat the bring-up (entry sequence, zero byte, 2 s for the answer) while the chip says nothing, "
                    "for up to SECONDS (1 to 3600)")
        ->type_name("SECONDS")
        ->transform(whole_number(1, 3600));
}

core::bench_setup bench_of(const bench_words& b)
{
    core::bench_setup bench;
    std::string why;  // the options' checks have passed
    if (!b.entry.empty()) bench.entry = *core::parse_modem_sequence(b.entry, false, why);
    if (!b.exit.empty()) bench.exit = *core::parse_modem_sequence(b.exit, true, why);
    bench.wait_ms = b.wait_s * 1000;
    return bench;
}

// --ledger and how a station keeps it.
void add_ledger_options(CLI::App& command, cli_request& r)
{
    command
        .add_option("--ledger", r.ledger_file,
                    "keep every board in the ledger LEDGER: an SQLite file, made when missing, or a PostgreSQL server "
                    "shared by many hosts (postgresql://USER@HOST/DB or libpq's 'host=... dbname=...'; made once "
                    "with fernwick-cli ledger init; the password from ~/.pgpass or PGPASSWORD, never here)")
        ->type_name("LEDGER");
    command
        .add_option("--host-name", r.keeping.host_name,
                    "the host's name in the ledger's rows (default: the system's host name)")
        ->type_name("NAME");
    command
        .add_option("--spool", r.keeping.spool,
                    "with a server's ledger: where records wait while the server cannot be reached (default: "
                    "~/.local/state/fernwick/spool-<server>.sqlite); the next run forwards them first")
        ->type_name("FILE");
    command
        .add_option("--serial-lease", r.keeping.serial_lease,
                    "with a server's ledger: hold N serial numbers reserved ahead, so that a short outage does not "
                    "stop the line (0 to 1000, default 0); those not used go back at the end")
        ->type_name("N")
        ->transform(whole_number(0, 1000));
}

// The station's choices: on station, and on job make, which fixes them in a job.
void add_station_options(CLI::App& station, cli_request& r, std::string& sectors, std::string& now, std::string& target,
                         std::string& segment, bench_words& bench)
{
    add_hex_choices(station, r.choices, sectors, now, target, segment);
    add_bench_options(station, bench, false);  // a station waits for each board until it answers
    station
        .add_option("--port", r.ports,
                    "a fixture's port, or a pattern of ports such as '/dev/serial/by-path/*' or '/dev/ttyUSB*' "
                    "(quoted, so that the shell leaves it alone); once per pattern. A board is programmed when "
                    "its port appears, or on a port that stays when its chip answers after having been silent")
        ->type_name("PATTERN");
    station.add_option("--log-dir", r.log_dir, "write each fixture's message log to DIR/<device>.log")
        ->type_name("DIR");
    station.add_option("--report", r.report, "append one JSON line per board to FILE")->type_name("FILE");
    station
        .add_option("--retries", r.retries,
                    "run a board whose run failed again, up to N times (0 to 100, default 0), as program does")
        ->type_name("N")
        ->transform(whole_number(0, 100));
    add_ledger_options(station, r);
    station
        .add_option("--count", r.count,
                    "end once N boards passed; boards under way then finish (default 0: run until Ctrl-C or SIGTERM)")
        ->type_name("N")
        ->transform(whole_number(0, 1000000));
    add_serial_options(station, r.serial);
}

// The options of a job's run; FILE and --port are asked for after the
// parse, since the job gives them.
void add_job_run_options(CLI::App& station, cli_request& r)
{
    station.get_option("FILE")->required(false);
    station
        .add_option("--job", r.job_file,
                    "run the job JOBFILE (see job make): it fixes FILE and every option; --port only where the job "
                    "names no ports, since they belong to the bench")
        ->type_name("JOBFILE");
    station.add_option("--operator", r.operator_name, "with --job: who runs it, kept with every board")
        ->type_name("NAME");
    station.add_option("--lot", r.lot, "with --job: the boards' lot, kept with every board")->type_name("TEXT");
}

void add_job_command(CLI::App& app, cli_request& r, std::string& sectors, std::string& now, std::string& target,
                     std::string& segment, bench_words& bench)
{
    auto* job = app.add_subcommand("job", "make a job, which fixes a station's file and every choice, or show one");
    job->require_subcommand(1);
    auto* make = job->add_subcommand(
        "make", "check FILE and the options exactly as station would, and write them with FILE's SHA-256 into JOBFILE");
    make->add_option("JOBFILE", r.job_file, "the job to write (JSON)")->required()->type_name("");
    add_station_options(*make, r, sectors, now, target, segment, bench);
    make->add_option("--product", r.product, "the product's name, kept with every board")
        ->required()
        ->type_name("NAME");
    make->footer(std::string(k_choices_help) + "\n\n" + k_job_help);
    job->add_subcommand("show", "print the job JOBFILE in words")
        ->add_option("JOBFILE", r.job_file, "the job")
        ->required()
        ->type_name("");
    job->footer(k_job_help);
}

// A station needs FILE and --port, unless a job gives them; beside a job
// every option it fixes is refused, all of them named at once.
std::string station_misuse(const CLI::App& app, const cli_request& r)
{
    const auto* station = app.get_subcommand("station");
    const bool who = station->get_option("--operator")->count() + station->get_option("--lot")->count() > 0;
    if (r.job_file.empty()) {
        if (r.choices.hex_file.empty()) return "FILE is required";
        if (r.ports.empty()) return "--port is required";
        return who ? "--operator and --lot go with --job" : "";
    }
    std::vector<std::string> fixed;
    for (const auto* o : station->get_options())
        // The host's own are given beside a job: its name, its spool, its numbers held ahead.
        if (o->count() > 0 && o->get_name() != "--job" && o->get_name() != "--operator" && o->get_name() != "--lot" &&
            o->get_name() != "--port" && o->get_name() != "--host-name" && o->get_name() != "--spool" &&
            o->get_name() != "--serial-lease")
            fixed.push_back(o->get_name());
    if (app.get_option("--baud")->count() > 0) fixed.push_back("--baud");
    if (fixed.empty()) return {};
    std::string named;
    for (std::size_t i = 0; i < fixed.size(); ++i)
        named += (i == 0 ? "" : i + 1 == fixed.size() ? " and " : ", ") + fixed[i];
    return "the job fixes " + named + ": " + (fixed.size() > 1 ? "they are" : "it is") + " not given beside --job";
}

// The commands each port option serves: another command refuses it rather
// than leave it unused.
const std::map<std::string, std::string> k_port_option_commands = {
    {"--baud", "status, reset, program, station, plan, job make"},
    {"--com", "status, reset, program"},
    {"--device", "status, reset, program"},
};

bool serves(const std::string& commands, const std::string& command)
{
    return (", " + commands + ",").find(", " + command + ",") != std::string::npos;
}

std::optional<std::string> port_option_unused(const CLI::App& app, const std::string& command)
{
    for (const auto& [name, commands] : k_port_option_commands)
        if (app.get_option(name)->count() > 0 && !serves(commands, command))
            return std::string(name).append(" is an option of ").append(commands).append(", not of ").append(command);
    return std::nullopt;
}

// Below a command's help: the port options it takes, which the program's help lists.
std::string port_options_note(const std::string& command)
{
    if (serves(k_port_option_commands.at("--com"), command))
        return "\n\nThe port options (--com, --device, --baud) may come before or after the command; see "
               "fernwick-cli --help.\n";
    if (serves(k_port_option_commands.at("--baud"), command))
        return "\n\nThe port option --baud may come before or after the command; see fernwick-cli --help.\n";
    return "\n";
}

void take_hex_choices(hex_choices& c, const std::string& sectors, const std::string& now, const std::string& target,
                      const std::string& segment)
{
    if (!sectors.empty()) c.sectors = parse_sector_list(sectors);
    if (!now.empty()) c.bsl_now = *location(now, false);
    if (!target.empty()) c.bsl_target = *location(target, false);
    if (!segment.empty()) c.sector0_segment = *location(segment, true);
}

}  // namespace

std::optional<cli_request> parse_command_line(const std::vector<std::string>& args, std::ostream& out,
                                              std::ostream& err, int& status)
{
    cli_request r;
    if (const auto why = empty_value(args)) {
        err << "fernwick-cli: " << *why << " (see --help)\n";
        status = k_usage_error;
        return std::nullopt;
    }
    CLI::App app(k_description, "fernwick-cli");
    app.require_subcommand(1);
    app.set_version_flag("--version", std::string("fernwick-cli ") + FERNWICK_VERSION);
    // The port options may follow the command, as a line's scripts write them
    // (and a command's options may come before it: command_options_last).
    app.fallthrough();
    app.add_option("--com", r.com, "serial port COM 1 or COM 2 (default 1); once per board")
        ->allow_extra_args(false)
        ->type_name("N")
        ->check(CLI::IsMember({1, 2}));
    app.add_option("--device", r.devices, "the device PATH of a board; once per board")
        ->allow_extra_args(false)
        ->type_name("PATH");
    app.add_option("--baud", r.baud, "2400, 4800, 9600, 14400 or 19200 (default 9600)")
        ->type_name("RATE")
        // Checked as written, before it is read as a number: "09600" or "+9600" is
        // a typing slip, and a number reader would take some such forms and not others.
        ->check(CLI::Validator(
            [](std::string& v) {
                for (const char* rate : {"2400", "4800", "9600", "14400", "19200"})
                    if (v == rate) return std::string();
                return std::string("takes 2400, 4800, 9600, 14400 or 19200");
            },
            ""));

    bench_words bench;
    add_bench_options(
        *app.add_subcommand("status", "read the flash status of the four sectors; prints 'Sector n: XXXX' for each"),
        bench, true);
    add_bench_options(*app.add_subcommand("reset", "reset the microcontroller by software"), bench, true);
    std::string sectors, now, target, segment;
    auto* program = app.add_subcommand("program", "erase and program FILE (Intel-Hex) as the windows would");
    add_hex_choices(*program, r.choices, sectors, now, target, segment);
    add_bench_options(*program, bench, true);
    program->add_option("--log-dir", r.log_dir, "write each board's whole message log to DIR/<device>.log")
        ->type_name("DIR");
    program->add_option("--report", r.report, "append one JSON line per board and run to FILE")->type_name("FILE");
    add_ledger_options(*program, r);
    program
        ->add_option("--retries", r.retries,
                     "bring a board whose run failed up again and run it again, up to N times (0 to 100, default 0); "
                     "each attempt starts from where the last left the bootstrap loader code. A chip that answered "
                     "the failed exchange is reset by software; otherwise --entry resets it, or reset it by hand "
                     "(--wait gives the time)")
        ->type_name("N")
        ->transform(whole_number(0, 100));
    add_serial_options(*program, r.serial);
    auto* station = app.add_subcommand(
        "station", "program every board that arrives at a fixture (a port matching --port), once, until Ctrl-C");
    add_station_options(*station, r, sectors, now, target, segment, bench);
    add_job_run_options(*station, r);
    add_job_command(app, r, sectors, now, target, segment, bench);
    auto* convert = app.add_subcommand(
        "convert", "write FILE's .NEW block file (no board needed), with the same defaults and checks as program");
    add_hex_choices(*convert, r.choices, sectors, now, target, segment);
    auto* plan = app.add_subcommand(
        "plan", "print what program would erase and send, and how long it would take (no board is touched)");
    add_hex_choices(*plan, r.choices, sectors, now, target, segment);
    add_bench_options(*plan, bench, false);
    plan->add_option("--adapter-latency", r.adapter_latency_ms,
                     "count a USB serial adapter's latency timer of MS in the estimate: it holds each answer until "
                     "it runs out (0 to 255; 16 by default on many adapters; default 0: no adapter)")
        ->type_name("MS")
        ->transform(whole_number(0, 255));
    add_ledger_command(app, r.ledger);
    app.footer(k_footer);  // set last: a command's help would take it over

    const auto ordered = command_options_last(app, args);
    std::vector<const char*> argv{"fernwick-cli"};
    for (const auto& a : ordered) argv.push_back(a.c_str());
    try {
        app.parse(static_cast<int>(argv.size()), argv.data());
    } catch (const CLI::CallForHelp&) {
        // The usage line names the program as well as the command.
        std::string text = app.help();
        while (text.ends_with('\n')) text.pop_back();
        const auto commands = app.get_subcommands();
        out << text << (commands.empty() ? "\n" : port_options_note(commands.front()->get_name()));
        status = 0;
        return std::nullopt;
    } catch (const CLI::CallForVersion& e) {
        out << e.what() << '\n';
        status = 0;
        return std::nullopt;
    } catch (const CLI::ParseError& e) {
        std::string why = e.what();
        const auto words = app.remaining(true);
        const auto option = std::find_if(words.begin(), words.end(), [](const auto& w) { return w.starts_with('-'); });
        if (option != words.end()) {
            why = unknown_option(app, *option);
        } else if (app.get_subcommands().empty() && !words.empty()) {
            // CLI11 lists unexpected words last first; the operator typed them the other way round.
            why = "unknown command '" + words.front() + "'";
        } else if (dynamic_cast<const CLI::ExtrasError*>(&e)) {
            why = "unexpected";
            for (const auto& word : words) why += " '" + word + "'";
        }
        err << "fernwick-cli: " << why << " (see --help)\n";
        status = k_usage_error;
        return std::nullopt;
    }
    r.command = app.get_subcommands().front()->get_name();
    if (r.command == "job") r.command += " " + app.get_subcommands().front()->get_subcommands().front()->get_name();
    take_hex_choices(r.choices, sectors, now, target, segment);
    r.bench = bench_of(bench);
    std::string misuse;
    if (!r.com.empty() && !r.devices.empty())
        misuse = "--com and --device both name boards; name each board with --device";
    else if (r.command == "station" && r.com.size() + r.devices.size() > 0)
        misuse = "station finds its boards with --port; --com and --device are for status, reset and program";
    else if (const auto unused = port_option_unused(app, r.command))
        misuse = *unused;
    else if (r.command == "station")
        misuse = station_misuse(app, r);
    else if (r.com.size() + r.devices.size() > 1 && r.command != "program")
        misuse = r.command + " works on one board; several are for program";
    if (!misuse.empty()) {
        err << "fernwick-cli: " << misuse << " (see --help)\n";
        status = k_usage_error;
        return std::nullopt;
    }
    return r;
}

std::vector<std::string> board_devices(const cli_request& r)
{
    std::vector<std::string> devices;
    for (const int port : r.com) devices.push_back(core::device_for_port(port));
    devices.insert(devices.end(), r.devices.begin(), r.devices.end());
    if (devices.empty()) devices.push_back(core::device_for_port(1));
    return devices;
}

}  // namespace fernwick::cli
