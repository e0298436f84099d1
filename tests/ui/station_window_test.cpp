// The operator's window follows the station's model, written directly as the
// station's threads would, and only a confirmed Stop stops the station.

#include <QApplication>
#include <QKeyEvent>
#include <QMessageBox>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>
#include <memory>
#include <optional>

#include <gtest/gtest.h>

#include "operator/fixture_tile.h"
#include "operator/station_window.h"
#include "ui/input_gate.h"

namespace fernwick::test {
namespace {

using namespace fernwick::operator_window;
using station::board_end;
using station::station_model;

const std::string k_port = "/dev/serial/by-path/fixture-1";
const board_end failure{"", "block 3 not acknowledged", "take the board out"};

struct window_under_test {
    explicit window_under_test(int count = 0)
        : window(model, {"Demo board", "/jobs/app.hex", "20dd34b3bd8c6a43", "Ann", "L-7", count}, [this] { ++stops; })
    {
        window.show();
    }
    void settle()
    {
        QApplication::processEvents();
        window.refresh();
    }
    QMessageBox* confirm() const { return window.findChild<QMessageBox*>("confirm_stop"); }

    station_model model;
    int stops = 0;
    station_window window;
};

void press(QWidget* w, QEvent::Type type)
{
    const QPointF at = w->rect().center();
    QMouseEvent e(type, at, w->mapToGlobal(at), Qt::LeftButton,
                  type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton, {});
    QApplication::sendEvent(w, &e);
}
void click(QWidget* w)
{
    press(w, QEvent::MouseButtonPress);
    press(w, QEvent::MouseButtonRelease);
    QApplication::processEvents();
}

// Every state of a fixture as its tile shows it.
TEST(station_window, a_tile_shows_each_state_as_a_colour_and_a_word)
{
    struct row {
        fixture_state state;
        std::string text;
        board_end end;
        const char* word;
        std::optional<QString> detail = {};  // the state's text when not given
        QString advice = {};
    };
    const row rows[] = {
        {fixture_state::waiting, "waiting", {}, "Waiting for a board", ""},
        {fixture_state::programming, "", {}, "Programming", "50 %"},
        {fixture_state::passed, "passed  serial 1042  3 s", {"1042", "", ""}, "Passed", "Serial 1042"},
        {fixture_state::failed, "failed  3 s  block 3 not acknowledged", failure, "Failed", "block 3 not acknowledged",
         "take the board out"},
        {fixture_state::board_gone, "board gone", {}, "Board gone", ""},
        {fixture_state::needs_reset, "the board did not come up: reset it", {}, "Reset the board"},
        {fixture_state::held, "held by another station", {}, "Port held by another program"},
        {fixture_state::cannot_open, "cannot open the port: Permission denied", {}, "Cannot open the port"},
        {fixture_state::no_file, "waiting for a hex file that can be used", {}, "No usable hex file"},
        {fixture_state::no_serial,
         "waiting for a serial number: the ledger server db1/line is unreachable",
         {},
         "Waiting for a serial number"},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.word);
        window_under_test w;
        if (r.state == fixture_state::programming) {
            station::board_progress b;
            b.progress.blocks_done = 6;
            b.progress.blocks_total = 12;
            w.model.progress(k_port, b);
        } else {
            w.model.state(k_port, r.state, r.text, r.end);
        }
        w.settle();
        auto* t = w.window.tile(k_port);
        ASSERT_NE(t, nullptr);
        EXPECT_EQ(t->word(), QString::fromLatin1(r.word));
        const auto detail = r.detail.value_or(QString::fromStdString(r.text));
        EXPECT_EQ(t->detail().left(detail.size()), detail);
        EXPECT_EQ(t->advice(), r.advice);
        EXPECT_EQ(t->colour(), state_colour(r.state));
        EXPECT_EQ(t->programming_shown(), r.state == fixture_state::programming);
        EXPECT_EQ(t->details_button()->isHidden(), r.state != fixture_state::failed);
        EXPECT_EQ(w.window.beeps(), r.state == fixture_state::failed ? 1 : 0);
    }
}

// What the station tells over time, and what the window shows after it.
TEST(station_window, the_tiles_and_bars_follow_the_station)
{
    using step = std::function<void(station_model&)>;
    const auto state = [](std::string port, fixture_state s, std::string text = {}, board_end end = {}) {
        return step([=](station_model& m) { m.state(port, s, text, end); });
    };
    struct row {
        const char* name;
        std::vector<step> steps;
        std::vector<std::string> tiles;  // in order
        QString red_tile_word = {};      // of tiles[0], when it matters
        int beeps = 0;
        QString footer = {};
        int count = 0;
    };
    const row rows[] = {
        {"a fixture that comes adds a tile, one that goes removes it",
         {state("a", fixture_state::waiting), state("b", fixture_state::waiting), state("a", fixture_state::absent)},
         {"b"}},
        {"the tiles stand by name, numbers as numbers, whatever order the fixtures came in",
         {state("fix-10", fixture_state::waiting), state("fix-2", fixture_state::waiting),
          state("fix-1", fixture_state::waiting)},
         {"fix-1", "fix-2", "fix-10"}},
        {"a failed tile stays red while its line changes, and beeps once",
         {state("a", fixture_state::failed, "failed", failure),
          state("a", fixture_state::failed, "failed; the next board once this port has gone", failure)},
         {"a"},
         "Failed",
         1},
        {"each failure beeps again after its board was taken out",
         {state("a", fixture_state::failed, "failed", failure), state("a", fixture_state::board_gone),
          state("a", fixture_state::failed, "failed", failure)},
         {"a"},
         "Failed",
         2},
        {"the totals and the batch",
         {[](station_model& m) { m.totals({.passed = 3, .failed = 1}); }},
         {},
         {},
         0,
         "Passed 3    Failed 1    Yield 75.0 %    Boards per hour -    Batch 3 of 4",
         4},
        {"no batch without a count",
         {[](station_model& m) { m.totals({.passed = 2, .failed = 0}); }},
         {},
         {},
         0,
         "Passed 2    Failed 0    Yield 100.0 %    Boards per hour -"},
        {"the ledger server's trouble beside the totals",
         {[](station_model& m) {
             m.totals({.passed = 2, .failed = 0, .ledger = "ledger server unreachable since 10:42, 3 records waiting"});
         }},
         {},
         {},
         0,
         "Passed 2    Failed 0    Yield 100.0 %    Boards per hour -    ledger server unreachable since 10:42, 3 "
         "records "
         "waiting"},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        window_under_test w(r.count);
        for (const auto& s : r.steps) {
            s(w.model);
            w.settle();
        }
        EXPECT_EQ(w.window.tile_order(), r.tiles);
        for (const auto& port : r.tiles) EXPECT_NE(w.window.tile(port), nullptr) << port;
        if (!r.red_tile_word.isEmpty()) {
            EXPECT_EQ(w.window.tile(r.tiles[0])->word(), r.red_tile_word);
            EXPECT_EQ(w.window.tile(r.tiles[0])->colour(), state_colour(fixture_state::failed));
        }
        EXPECT_EQ(w.window.beeps(), r.beeps);
        if (!r.footer.isEmpty()) {
            EXPECT_EQ(w.window.footer_text(), r.footer);
            // The job above the tiles: the file's name and the first 8 digits of its SHA-256.
            EXPECT_EQ(w.window.header_text(),
                      "Demo board     app.hex (SHA-256 20dd34b3)     Operator: Ann     Lot: L-7");
        }
    }
}

// Stop, the close box and input the operator cannot have meant.
TEST(station_window, only_a_confirmed_stop_stops_the_station)
{
    enum class how { stop_then_no, stop_then_yes, close_box, early_click, held_space, batch_end };
    struct row {
        const char* name;
        how what;
        int stops;
        bool open_after;  // the window, once the run has ended
        bool asked;       // the confirmation shows
    };
    const row rows[] = {
        {"Stop asks, and No goes on", how::stop_then_no, 0, true, false},
        {"Stop and Yes stop once; the window closes when the run has ended", how::stop_then_yes, 1, false, false},
        {"the close box is Stop: it asks too", how::close_box, 0, true, true},
        {"a click on a window that just appeared does nothing", how::early_click, 0, true, false},
        {"Space held down repeats onto Stop: nothing", how::held_space, 0, true, false},
        {"at the batch's end the window stays to be read; Close closes it", how::batch_end, 0, false, false},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        std::unique_ptr<ui::input_gate> gate;
        if (r.what == how::early_click || r.what == how::held_space) gate = std::make_unique<ui::input_gate>();
        window_under_test w(2);
        QApplication::processEvents();
        auto* stop = w.window.stop_button();
        switch (r.what) {
        case how::stop_then_no:
        case how::stop_then_yes:
            stop->click();
            ASSERT_NE(w.confirm(), nullptr);
            w.confirm()->button(r.what == how::stop_then_yes ? QMessageBox::Yes : QMessageBox::No)->click();
            QApplication::processEvents();
            w.window.close();  // while boards are under way: stays
            EXPECT_TRUE(w.window.isVisible());
            if (r.what == how::stop_then_yes) w.window.run_ended(false);
            break;
        case how::close_box: w.window.close(); break;
        case how::early_click: click(stop); break;
        case how::held_space: {
            // Space pressed on the window before (the operator's Start) and held: X11's
            // repeats reach Stop as a release and a press of one time stamp, unmarked.
            QWidget before;
            before.show();
            w.window.setProperty("fernwick_shown_at_ms", QVariant());
            stop->setFocus();
            const auto key = [](QWidget* to, QEvent::Type t, ulong at) {
                QKeyEvent e(t, Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "));
                e.setTimestamp(at);
                QApplication::sendEvent(to, &e);
            };
            key(&before, QEvent::KeyPress, 100);
            key(stop, QEvent::KeyRelease, 200);
            key(stop, QEvent::KeyPress, 200);
            key(stop, QEvent::KeyRelease, 300);
            break;
        }
        case how::batch_end:
            w.model.totals({.passed = 2});
            w.model.end();
            w.window.run_ended(false);
            EXPECT_TRUE(w.window.footer_text().endsWith("Batch 2 of 2"));
            EXPECT_TRUE(w.window.isVisible());
            EXPECT_EQ(stop->text(), "Close");
            stop->click();
            break;
        }
        QApplication::processEvents();
        EXPECT_EQ(w.stops, r.stops);
        EXPECT_EQ(w.window.isVisible(), r.open_after);
        EXPECT_EQ(w.confirm() != nullptr && w.confirm()->isVisible(), r.asked);
    }
}

}  // namespace
}  // namespace fernwick::test
