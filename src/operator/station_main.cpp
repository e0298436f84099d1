// fernwick-station: the operator's window over a job's station.

#include <fcntl.h>
#include <unistd.h>
#include <CLI/CLI.hpp>
#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QSocketNotifier>
#include <csignal>
#include <functional>
#include <iostream>
#include <optional>

#include "cli/whole_number.h"
#include "operator/operator_dialog.h"
#include "operator/station_thread.h"
#include "operator/station_window.h"
#include "station/job.h"
#include "ui/input_gate.h"

namespace {

using namespace fernwick;

const char* const k_description =
    "The operator's window of a production line: it runs the station of a job made with fernwick-cli job make, "
    "one tile per fixture, with the product, the hex file and its SHA-256, the operator and the lot above them "
    "and the totals below. The operator changes nothing of the job; Stop (confirmed) lets every board under way "
    "finish and be recorded, and so does closing the window or SIGTERM.";

struct station_options {
    std::string job_file;
    std::string operator_name;
    std::string lot;
    std::vector<std::string> ports;
    station::ledger_options keeping;  // the host's own, as fernwick-cli station takes them beside a job
};

// Before the QApplication, so that --help and --version work without a
// display (the manual page is made from them). -1: go on.
int read_options(int argc, char** argv, station_options& o)
{
    CLI::App app(k_description, "fernwick-station");
    app.set_version_flag("--version", std::string("fernwick-station ") + FERNWICK_VERSION);
    app.add_option("JOBFILE", o.job_file, "the job to run; without it a file dialog opens a *.job file");
    app.add_option("--operator", o.operator_name, "the operator's name, asked otherwise")->type_name("NAME");
    app.add_option("--lot", o.lot, "the lot, asked otherwise")->type_name("TEXT");
    app.add_option("--port", o.ports,
                   "a pattern of the fixtures' ports, as fernwick-cli station --job takes it; instead of the job's")
        ->type_name("PATTERN");
    app.add_option("--host-name", o.keeping.host_name,
                   "the host's name in the ledger's rows (default: the system's host name)")
        ->type_name("NAME");
    app.add_option("--spool", o.keeping.spool,
                   "with a server's ledger: where records wait while the server cannot be reached (default: "
                   "~/.local/state/fernwick/spool-<server>.sqlite)")
        ->type_name("FILE");
    app.add_option("--serial-lease", o.keeping.serial_lease,
                   "with a server's ledger: hold N serial numbers reserved ahead (0 to 1000, default 0)")
        ->type_name("N")
        ->transform(cli::whole_number(0, 1000));
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        const int status = app.exit(e);
        return status == 0 ? 0 : 2;
    }
    return -1;
}

int g_signal_pipe[2] = {-1, -1};

extern "C" void on_signal(int signal)
{
    const char number = static_cast<char>(signal);
    [[maybe_unused]] const auto woken = ::write(g_signal_pipe[1], &number, 1);
}

// SIGTERM, SIGINT and SIGHUP stop the station as a confirmed Stop does:
// every board under way finishes its run and is recorded, then the window closes.
void stop_on_signals()
{
    if (::pipe2(g_signal_pipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
    struct sigaction action {};
    action.sa_handler = on_signal;
    sigemptyset(&action.sa_mask);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) ::sigaction(signal, &action, nullptr);
}

// The signals, heard from the first dialog on: before the station runs one
// ends the program, closing the dialog that asks (nothing was started);
// once it runs, it stops the station as a confirmed Stop does.
class signal_watch {
public:
    signal_watch() : notifier_(g_signal_pipe[0], QSocketNotifier::Read)
    {
        QObject::connect(&notifier_, &QSocketNotifier::activated, [this] {
            char got[16];
            for (ssize_t n = 0; (n = ::read(g_signal_pipe[0], got, sizeof got)) > 0;)
                signal_ = static_cast<unsigned char>(got[n - 1]);
            if (stop_) return stop_();
            if (auto* asking = QApplication::activeModalWidget()) asking->close();
        });
    }
    // 128 + the signal that ended the program before the station ran; 0 when none came.
    int status() const { return signal_ == 0 ? 0 : 128 + signal_; }
    void stop_with(std::function<void()> stop) { stop_ = std::move(stop); }

private:
    QSocketNotifier notifier_;
    std::function<void()> stop_;
    int signal_ = 0;
};

// A job or file the station cannot run: said in a window and on standard error.
int refuse(const std::string& why)
{
    std::cerr << "fernwick-station: " << why << (why.ends_with('\n') ? "" : "\n");
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Fernwick station"),
                    QStringLiteral("The station cannot run this job:\n\n%1").arg(QString::fromStdString(why)));
    box.setObjectName(QStringLiteral("refused"));
    box.exec();
    return 2;
}

// The operator and the lot, from the options or asked; false when not given.
bool ask_operator(station_options& o)
{
    if (!QString::fromStdString(o.operator_name).trimmed().isEmpty() &&
        !QString::fromStdString(o.lot).trimmed().isEmpty())
        return true;
    operator_window::operator_dialog dialog;
    dialog.operator_field()->setText(QString::fromStdString(o.operator_name));
    dialog.lot_field()->setText(QString::fromStdString(o.lot));
    if (dialog.exec() != QDialog::Accepted) return false;
    o.operator_name = dialog.operator_name();
    o.lot = dialog.lot();
    return true;
}

int run(int argc, char** argv)
{
    station_options o;
    if (const int status = read_options(argc, argv, o); status >= 0) return status;
    stop_on_signals();
    QApplication qt(argc, argv);
    QApplication::setApplicationName(QStringLiteral("fernwick-station"));
    const ui::input_gate gate;
    signal_watch heard;
    if (o.job_file.empty())
        o.job_file =
            QFileDialog::getOpenFileName(nullptr, QStringLiteral("Open a job"), {}, QStringLiteral("Jobs (*.job)"))
                .toStdString();
    if (heard.status() != 0) return heard.status();
    if (o.job_file.empty()) return refuse("no job chosen");
    std::string why;
    auto j = station::read_job(o.job_file, why);
    if (!j) return refuse(why);
    // The operator changes nothing of the job: not even the ports it names.
    if (const auto fault = station::ports_beside_job_fault(*j, o.ports); !fault.empty()) return refuse(fault);
    auto setup = j->setup;
    if (setup.ports.empty()) setup.ports = o.ports;
    if (!ask_operator(o)) return heard.status() != 0 ? heard.status() : refuse("no operator and lot given");
    for (const auto& [name, given] : {std::pair{"the operator's name", &o.operator_name}, std::pair{"the lot", &o.lot}})
        if (const auto fault = station::record_name_fault(*given); !fault.empty())
            return refuse(std::string(name) + " " + fault + ": it is kept with every board");
    setup.keeping = o.keeping;
    setup.operator_name = o.operator_name;
    setup.lot = o.lot;

    station::station_model model;
    const operator_window::job_header header{
        j->product, setup.choices.hex_file, setup.hex_sha256, o.operator_name, o.lot, setup.count};
    std::unique_ptr<operator_window::station_thread> thread;
    operator_window::station_window window(model, header, [&thread] { thread->stop(); });
    int status = 1;
    bool refused = false;
    thread = std::make_unique<operator_window::station_thread>(
        setup, model,
        [&](bool ok, const std::string& reasons) {
            QMetaObject::invokeMethod(&window, [&, ok, reasons] {
                if (ok) return window.showMaximized();
                refused = true;
                status = refuse(reasons);
                QCoreApplication::exit(status);
            });
        },
        [&](int s) {
            QMetaObject::invokeMethod(&window, [&, s] {
                if (refused) return;
                status = s;
                window.run_ended(false);
            });
        });
    if (heard.status() != 0) return heard.status();
    heard.stop_with([&window] { window.stop_without_asking(); });
    thread->start();
    QApplication::exec();
    thread->stop();
    thread->wait();
    return status;
}

}  // namespace

int main(int argc, char** argv)
{
    // Said and ended with a status, never a core dump: the boards under way were recorded or the run never began.
    try {
        return run(argc, argv);
    } catch (const std::exception& e) {
        std::cerr << "fernwick-station: " << e.what() << "\n";
    } catch (...) {
        std::cerr << "fernwick-station: an unexpected error\n";
    }
    return 1;
}
