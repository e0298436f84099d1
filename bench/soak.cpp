// Soak: bring-ups, status readings, software resets and full programming
// runs in one process against mirel-sim, through the real handlers, Qt
// serial links and timers. Memory and open descriptors are measured after a
// warm-up and at the end; the main window's log is kept small so that its
// trimming runs all along. Exits non-zero on any failure or growth.
//
//   bench_soak [PATH-TO-MIREL-SIM]

#include <malloc.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>

#include "bootstrap/reset_step.h"
#include "command/commands.h"
#include "core/link_trace.h"
#include "core/qt_serial_link.h"
#include "core/qt_ui_timer.h"
#include "programming/flow.h"
#include "programming/programming_run.h"
#include "shell/events.h"
#include "shell/main_menu.h"

namespace {

using namespace fernwick;
using clock_type = std::chrono::steady_clock;

constexpr int k_cycles = 200;
constexpr int k_programming_runs = 20;
constexpr int k_blocks = 4 * 32 * 1024 / 64;  // all four sectors
// Every bring-up starts the log afresh, and a programming run writes about
// 3 KiB after its own fresh start: a limit below that trims it every run.
constexpr std::size_t k_log_limit = 1024;
constexpr long k_rss_noise_kib = 1024;
// The heap in use is exact: growth there is a leak, not the allocator.
constexpr long k_heap_noise_kib = 64;
// A programming run blocks inside its click; everything else answers in ms.
constexpr int k_step_timeout_ms = 20'000;

struct failure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

void require(bool ok, const std::string& what)
{
    if (!ok) throw failure(what);
}

// mirel-sim as a child, with no time taken on its line or by its flash.
class simulator {
public:
    explicit simulator(const std::string& path)
    {
        int out[2];
        require(::pipe(out) == 0, "pipe");
        pid_ = ::fork();
        require(pid_ >= 0, "fork");
        if (pid_ == 0) {
            ::dup2(out[1], STDOUT_FILENO);
            ::close(out[0]);
            ::execl(path.c_str(), path.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(out[1]);
        char c = 0;
        while (::read(out[0], &c, 1) == 1 && c != '\n') device_ += c;
        ::close(out[0]);
        if (device_.empty()) {
            stop();
            throw failure("mirel-sim at " + path + " printed no device");
        }
    }
    ~simulator() { stop(); }
    simulator(const simulator&) = delete;
    simulator& operator=(const simulator&) = delete;
    const std::string& device() const { return device_; }

private:
    void stop()
    {
        ::kill(pid_, SIGTERM);
        ::waitpid(pid_, nullptr, 0);
    }

    pid_t pid_ = -1;
    std::string device_;
};

struct usage {
    long rss_kib = 0;
    long heap_kib = 0;  // allocated and not freed
    long fds = 0;
};

usage measure()
{
    usage u;
    long pages = 0;
    std::ifstream("/proc/self/statm") >> pages >> pages;
    u.rss_kib = pages * ::sysconf(_SC_PAGESIZE) / 1024;
    u.heap_kib = static_cast<long>(::mallinfo2().uordblks / 1024);
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) ++u.fds;
    return u;
}

std::string hex_record(int type, unsigned address, const std::string& data)
{
    unsigned sum = static_cast<unsigned>(data.size()) + (address >> 8) + (address & 0xFF) + type;
    char text[16];
    std::snprintf(text, sizeof text, ":%02zX%04X%02X", data.size(), address & 0xFFFF, type);
    std::string line = text;
    for (const char c : data) {
        const auto b = static_cast<unsigned char>(c);
        std::snprintf(text, sizeof text, "%02X", b);
        line += text;
        sum += b;
    }
    std::snprintf(text, sizeof text, "%02X\r\n", (256 - sum % 256) % 256);
    return line + text;
}

// All four sectors full of a fixed pseudo-random image: sector 0 at
// 00'0000h, sectors 1 to 3 at 01'8000h to 02'FFFFh.
std::string write_hex_file(const std::string& path)
{
    std::minstd_rand random(20240611);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    unsigned upper = ~0u;
    const auto fill = [&](unsigned from, unsigned to) {
        for (unsigned address = from; address < to; address += 16) {
            if (address >> 16 != upper) {
                upper = address >> 16;
                out << hex_record(4, 0, {'\0', static_cast<char>(upper)});
            }
            std::string data(16, '\0');
            for (auto& c : data) c = static_cast<char>(random() & 0xFF);
            out << hex_record(0, address, data);
        }
    };
    fill(0x00000, 0x08000);
    fill(0x18000, 0x30000);
    out << hex_record(1, 0, {});
    require(out.good(), "cannot write " + path);
    return path;
}

// Whether `now` begins with the end of `old` from a line end on, as the
// log's trimming leaves it; a fresh start writes new text instead.
bool trimmed_from(const std::string& old, const std::string& now)
{
    const std::string head = now.substr(0, 64);
    if (head.size() < 2) return false;
    for (auto at = old.find(head, 1); at != std::string::npos; at = old.find(head, at + 1))
        if (now.compare(0, old.size() - at, old, at) == 0) return true;
    return false;
}

// The operator's steps on one app_state, each waited for on the event loop
// as fernwick-cli does, with the log looked at after every event and
// whenever a handler repaints.
class soak_driver {
public:
    explicit soak_driver(core::app_state& s) : s_(s)
    {
        shell::connect_events(s_, [this] { after_event(); });
        s_.repaint = [this] { check_log(); };
        s_.keep_alive = [this] { check_log(); };
    }

    void bring_up()
    {
        bootstrap::RESET_OK_Click(s_);
        wait_for("bring-up", [this] { return s_.mainform.program_.visible || !s_.RESETFORM.Timer0->active(); });
        require(s_.mainform.program_.visible, "the bring-up failed:" + log_tail());
    }

    void read_status()
    {
        command::show_status_Click(s_);
        wait_for("status", [this] { return s_.statusform.visible || !s_.mainform.program_.visible; });
        const std::array<std::string, 4> expected = {"0010", "0111", "0212", "0313"};
        require(s_.statusform.visible && s_.statusform.status_sector == expected,
                "the status reading failed:" + log_tail());
        command::status_cancel_Click(s_);
    }

    // Ends with Re-Start, which closes the link for the next bring-up.
    void software_reset()
    {
        command::reset_micro__Click(s_);
        wait_for("software reset", [this] { return !s_.mainform.program_.visible; });
        require(!s_.reply_awaited, "the software reset failed:" + log_tail());
        shell::restart_flash__Click(s_);
    }

    // As bench/programming_run.sh: no bootstrap code kept, all four sectors.
    void program(const std::string& hex_file)
    {
        programming::load_hex__Click(s_, hex_file);
        require(s_.LocationForm.visible, "the hex file was refused:" + log_tail());
        programming::sect2_Click(s_);
        programming::Option3_Click(s_);
        programming::seg0_Click(s_);
        programming::LocationForm_Command1_Click(s_);
        if (s_.Warning.visible) programming::Warning_Command1_Click(s_);
        require(s_.ConfirmForm.visible, "no sector confirmation:" + log_tail());
        for (int box = 0; box < 4; ++box)
            if (s_.ConfirmForm.sector[box].enabled) programming::set_check_value(s_, box, 1);
        programming::program_button_Click(s_);
        check_log();
        require(problem_.empty(), problem_);
        require(!s_.flash_error && s_.mainform.program_.visible && s_.mainform.progress.blocks_done == k_blocks,
                "the programming run failed:" + log_tail());
    }

    int trims() const { return trims_; }

private:
    void wait_for(const char* step, const std::function<bool()>& done)
    {
        if (done()) return;
        QEventLoop loop;
        // Ends with the wait: a single shot timer would live on for its whole
        // time-out and read as growth.
        QTimer time_out;
        time_out.setSingleShot(true);
        bool timed_out = false;
        QObject::connect(&time_out, &QTimer::timeout, &loop, [&] {
            timed_out = true;
            loop.quit();
        });
        done_ = &done;
        loop_ = &loop;
        time_out.start(k_step_timeout_ms);
        loop.exec();
        loop_ = nullptr;
        require(problem_.empty(), problem_);
        require(!timed_out, std::string(step) + " did not end within the time-out");
    }

    void after_event()
    {
        check_log();
        if (loop_ && (!problem_.empty() || (*done_)())) loop_->quit();
    }

    // Runs inside handlers and Qt's event loop, which must not be left by
    // an exception: the first problem is kept for the step to report.
    void check_log()
    {
        const auto& log = s_.log();
        const std::string& text = log.text();
        if (text.size() > k_log_limit && problem_.empty())
            problem_ = "the log holds " + std::to_string(text.size()) + " bytes";
        if (!text.empty() && !text.starts_with("\r\n") && problem_.empty())
            problem_ = "the log does not begin with CR LF";
        if (log.generation() != generation_ && trimmed_from(seen_, text)) ++trims_;
        generation_ = log.generation();
        seen_ = text;
    }

    std::string log_tail() const
    {
        const std::string& text = s_.log().text();
        std::string tail = "\n";
        for (auto i = text.size() > 400 ? text.size() - 400 : 0; i < text.size(); ++i)
            if (text[i] != '\r') tail += text[i];
        return tail;
    }

    core::app_state& s_;
    QEventLoop* loop_ = nullptr;
    const std::function<bool()>* done_ = nullptr;
    std::string problem_;
    std::string seen_;
    std::uint64_t generation_ = 0;
    int trims_ = 0;
};

double seconds_since(clock_type::time_point start)
{
    return std::chrono::duration<double>(clock_type::now() - start).count();
}

struct figures {
    usage before;
    usage after;
    double cycle_s = 0;
    double programming_s = 0;
    int trims = 0;
};

void report(const figures& f)
{
    std::printf("%d cycles of bring-up, status and software reset: %.2f s (%.1f ms each)\n", k_cycles, f.cycle_s,
                1000 * f.cycle_s / k_cycles);
    std::printf("%d programming runs of %d blocks with bring-up and reset: %.2f s (%.2f s each)\n", k_programming_runs,
                k_blocks, f.programming_s, f.programming_s / k_programming_runs);
    std::printf("log limit %zu bytes: trimmed at least %d times, never above it, always beginning with CR LF\n",
                k_log_limit, f.trims);
    std::printf("RSS %ld KiB -> %ld KiB (%+ld KiB), heap in use %ld KiB -> %ld KiB, open descriptors %ld -> %ld\n",
                f.before.rss_kib, f.after.rss_kib, f.after.rss_kib - f.before.rss_kib, f.before.heap_kib,
                f.after.heap_kib, f.before.fds, f.after.fds);
    require(f.trims > 0, "the log was never trimmed");
    require(f.after.rss_kib - f.before.rss_kib <= k_rss_noise_kib, "the resident memory grew");
    require(f.after.heap_kib - f.before.heap_kib <= k_heap_noise_kib, "the heap in use grew");
    require(f.after.fds == f.before.fds, "open descriptors grew");
}

void soak(const std::string& sim_path, const std::string& hex_file)
{
    simulator sim(sim_path);
    ::setenv("FERNWICK_COM1", sim.device().c_str(), 1);
    core::platform p{[] { return std::make_unique<core::qt_serial_link>(); },
                     [] { return std::make_unique<core::qt_ui_timer>(); }};
    core::app_state s(p);
    require(!core::trace_links_from_environment(s), "cannot create the trace named by FERNWICK_TRACE");
    s.mainform.dialog = core::message_log(k_log_limit);
    core::StartModul(s);
    bootstrap::bs_19200_Click(s);
    bootstrap::com1__Click(s);
    soak_driver d(s);
    const auto status_cycle = [&d] {
        d.bring_up();
        d.read_status();
        d.software_reset();
    };
    const auto programming_cycle = [&d, &hex_file] {
        d.bring_up();
        d.program(hex_file);
        d.software_reset();
    };
    // The first of each allocates what later ones reuse; after the first
    // run has freed its block file text, the allocator serves the next one
    // from the heap, which then keeps that room.
    status_cycle();
    programming_cycle();
    programming_cycle();
    figures f;
    f.before = measure();
    for (int i = 0; i < k_cycles; ++i) {
        try {
            auto start = clock_type::now();
            status_cycle();
            f.cycle_s += seconds_since(start);
            if (i % (k_cycles / k_programming_runs) != 0) continue;
            start = clock_type::now();
            programming_cycle();
            f.programming_s += seconds_since(start);
        } catch (const failure& e) {
            throw failure("cycle " + std::to_string(i + 1) + ": " + e.what());
        }
    }
    f.after = measure();
    f.trims = d.trims();
    report(f);
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication qt(argc, argv);
    const std::string sim_path = argc > 1 ? argv[1] : MIREL_SIM_PATH;
    char dir_name[] = "/tmp/fernwick-soak-XXXXXX";
    const char* dir = ::mkdtemp(dir_name);
    if (!dir) {
        std::perror("soak: mkdtemp");
        return 1;
    }
    int status = 1;
    try {
        soak(sim_path, write_hex_file(std::string(dir) + "/image.hex"));
        status = 0;
    } catch (const failure& f) {
        std::fprintf(stderr, "soak: %s\n", f.what());
    }
    std::filesystem::remove_all(dir);
    return status;
}
