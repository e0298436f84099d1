// A fault of the chip seen through the real windows and the real serial
// port: mirel-sim on a pseudo-terminal, the Qt serial adapter and timers,
// the operator's clicks, then Re-Start and a board reset.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAction>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProcess>

#include <csignal>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <string>

#include "core/qt_serial_link.h"
#include "core/qt_ui_timer.h"
#include "scenario/support_fakes.h"
#include "shell/events.h"
#include "ui/shell.h"

namespace {

using namespace fernwick;
using W = core::window_id;

// Generous bound on every wait, so a hang fails the test instead of stopping it.
constexpr int k_patience_ms = 10000;

// The bytes from the host in the trace before its first line ending in
// `event`; nullopt while there is no such line.
std::optional<std::size_t> host_bytes_before(const std::string& trace_path, const std::string& event)
{
    std::ifstream lines(trace_path);
    std::size_t bytes = 0;
    for (std::string line; std::getline(lines, line);) {
        if (line.ends_with(event)) return bytes;
        std::istringstream words(line);
        std::string ms, who, byte;
        words >> ms >> who;
        while (who == "host" && words >> byte) ++bytes;
    }
    return std::nullopt;
}

// Runs the event loop until `done` holds; false when it never does.
bool events_until(const std::function<bool()>& done)
{
    const QDeadlineTimer deadline(k_patience_ms);
    while (!done()) {
        if (deadline.hasExpired()) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

constexpr std::size_t k_bring_up_bytes = 1 + 32 + 510;

class fault_through_windows : public ::testing::Test {
protected:
    fault_through_windows()
        : s(core::platform{[] { return std::make_unique<core::qt_serial_link>(); },
                           [] { return std::make_unique<core::qt_ui_timer>(); }}),
          windows(s)
    {
        board.start(QStringLiteral(FERNWICK_BINARY_DIR "/mirel-sim"),
                    {"--fault", "status:2:checksum", "--trace", QString::fromStdString(trace)});
        // Its first line names its device.
        EXPECT_TRUE(events_until([this] { return board.canReadLine(); }));
        ::setenv("FERNWICK_COM1", board.readLine().trimmed().constData(), 1);
        core::StartModul(s);
        shell::connect_events(s, [this] { windows.sync(); });
        windows.sync();
    }
    ~fault_through_windows() override
    {
        board.terminate();
        board.waitForFinished(k_patience_ms);
    }

    QWidget* window(W id) const { return windows.window(id); }
    void click_ok() { window(W::RESETFORM)->findChild<QAbstractButton*>("RESET_OK")->click(); }
    void trigger(const char* item) { window(W::mainform)->findChild<QAction*>(item)->trigger(); }
    std::string log_box() const
    {
        return window(W::mainform)->findChild<QPlainTextEdit*>("dialog")->toPlainText().toStdString();
    }
    bool command_menus_shown() const
    {
        int shown = 0;
        for (const char* menu : {"program_", "status_", "reset_"})
            shown += window(W::mainform)->findChild<QMenu*>(menu)->menuAction()->isVisible() ? 1 : 0;
        EXPECT_TRUE(shown == 0 || shown == 3) << shown << " of the three command menus shown";
        return shown == 3;
    }

    const std::string trace = (fernwick::test::scratch_dir() / "fault_through_windows.trace").string();
    QProcess board;
    core::app_state s;
    ui::shell windows;
};

TEST_F(fault_through_windows, a_wrong_checksum_ends_the_commands_until_re_start_and_a_board_reset)
{
    click_ok();
    ASSERT_TRUE(events_until([this] { return command_menus_shown(); })) << log_box();
    trigger("show_status");
    ASSERT_TRUE(events_until([this] { return !command_menus_shown(); })) << log_box();
    EXPECT_TRUE(log_box().ends_with("     Wrong checksum byte received\n     Please Re-Start the Fernwick !\n" +
                                    std::string(37, '*') + "\n"))
        << log_box();
    EXPECT_FALSE(window(W::statusform)->isVisible());

    trigger("restart_flash_");
    EXPECT_TRUE(window(W::RESETFORM)->isVisible());
    ASSERT_GT(board.processId(), 0);
    ::kill(static_cast<pid_t>(board.processId()), SIGUSR1);  // the board's reset button
    ASSERT_TRUE(events_until([this] { return host_bytes_before(trace, "reset (button)").has_value(); }));
    // Sector 0's reading and sector 1's command; nothing after the failure, nor at Re-Start.
    EXPECT_EQ(host_bytes_before(trace, "reset (button)"), k_bring_up_bytes + 2 * 2);

    click_ok();
    ASSERT_TRUE(events_until([this] { return command_menus_shown(); })) << log_box();
    trigger("show_status");
    ASSERT_TRUE(events_until([this] { return window(W::statusform)->isVisible(); })) << log_box();
    EXPECT_EQ(window(W::statusform)->findChild<QLineEdit*>("status_sector_3")->text(), "0313");
    EXPECT_TRUE(command_menus_shown());
}

}  // namespace
