#include "ui/main_window.h"

#include <algorithm>

#include <QCloseEvent>
#include <QGuiApplication>
#include <QLayout>
#include <QMenuBar>
#include <QProgressBar>
#include <QScreen>
#include <QStatusBar>
#include <QVBoxLayout>

#include "command/commands.h"
#include "core/progress_text.h"
#include "programming/flow.h"
#include "shell/main_menu.h"
#include "ui/hex_file_dialog.h"
#include "ui/log_view.h"

namespace fernwick::ui {

namespace {

constexpr int k_log_lines = 30;
constexpr int k_screen_border = 40;
constexpr qreal k_smallest_points = 7;
constexpr qreal k_point_step = 0.5;

// The bar line reads best unbroken: on a narrow screen the type shrinks a
// little before the lines have to wrap.
QSize fit_to_screen(log_view& log)
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (screen == nullptr) return log.size_for_lines(k_log_lines);
    const int room = screen->availableGeometry().width() - k_screen_border;
    QFont font = log.font();
    while (log.size_for_lines(k_log_lines).width() > room && font.pointSizeF() > k_smallest_points) {
        font.setPointSizeF(font.pointSizeF() - k_point_step);
        log.setFont(font);
    }
    QSize size = log.size_for_lines(k_log_lines);
    size.setWidth(std::min(size.width(), room));
    return size;
}

}  // namespace

main_window::main_window(input_route route) : route_(std::move(route))
{
    setObjectName(QStringLiteral("mainform"));
    setWindowTitle(QStringLiteral("KORVANE - Fernwick Mirel"));
    make_sizable(this);
    choose_hex_file = [this] { return ask_hex_file(this); };
    build_menus();
    build_log();
}

QMenu* main_window::add_menu(const char* name, const QString& caption, const char* item_name,
                             const QString& item_caption, const std::function<void()>& on_click)
{
    QMenu* menu = menuBar()->addMenu(caption);
    menu->setObjectName(QString::fromLatin1(name));
    QAction* item = menu->addAction(item_caption);
    item->setObjectName(QString::fromLatin1(item_name));
    connect(item, &QAction::triggered, this, on_click);
    return menu;
}

void main_window::build_menus()
{
    // In the window, not a desktop-wide menu bar: the menus are part of the window's look.
    menuBar()->setNativeMenuBar(false);
    add_menu("About_", QStringLiteral(" &About "), "About_flash_", QStringLiteral("About Fernwick"),
             [this] { route_(shell::About_flash__Click); });
    add_menu("exit_", QStringLiteral(" &Exit "), "finish_", QStringLiteral(" &Finish"),
             [this] { route_(shell::finish__Click); });
    add_menu("restart_", QStringLiteral(" &Re-Start "), "restart_flash_", QStringLiteral("&the Fernwick"),
             [this] { route_(shell::restart_flash__Click); });
    reset_ = add_menu("reset_", QStringLiteral(" Re&set "), "reset_micro_", QStringLiteral("the microcontroller"),
                      [this] { route_(command::reset_micro__Click); });
    status_ = add_menu("status_", QStringLiteral(" &Flash-Status "), "show_status", QStringLiteral("&Show"),
                       [this] { route_(command::show_status_Click); });
    program_ =
        add_menu("program_", QStringLiteral(" &Program Flash "), "load_hex_", QStringLiteral("Load Hex-File"), [this] {
            const auto chosen = choose_hex_file();
            route_.run([&chosen](core::app_state& s) { programming::load_hex__Click(s, chosen); });
        });
}

void main_window::build_log()
{
    auto* central = new QWidget(this);
    auto* content = new QWidget(central);
    auto* column = new QVBoxLayout(content);
    column->setContentsMargins(0, 0, 0, 0);
    dialog_ = new log_view(content);
    // The log keeps its first size when the window is resized.
    dialog_->setFixedSize(fit_to_screen(*dialog_));
    column->addWidget(dialog_);
    pin_top_left(central, content);
    setCentralWidget(central);

    progress_ = new QProgressBar(this);
    progress_->setObjectName(QStringLiteral("progress"));
    progress_->setVisible(false);
    // The main window is disabled while a run goes on; its progress must still read clearly.
    keep_colours_when_disabled(progress_,
                               {QPalette::Highlight, QPalette::HighlightedText, QPalette::Text, QPalette::WindowText,
                                QPalette::Base, QPalette::Window, QPalette::Button, QPalette::ButtonText});
    statusBar()->addWidget(progress_, 1);
    dialog_->setFocus();
}

void main_window::sync()
{
    const auto& m = route_.state().mainform;
    reset_->menuAction()->setVisible(m.reset_.visible);
    status_->menuAction()->setVisible(m.status_.visible);
    program_->menuAction()->setVisible(m.program_.visible);
    dialog_->show_log(m.dialog);
    sync_progress();
    // Disabled, the main window takes no command, its close box included,
    // but its log still scrolls: the dialog over it may ask to confirm what
    // the log lists.
    menuBar()->setEnabled(m.enabled);
    apply_window_state(this, {m.visible, true});
}

void main_window::sync_progress()
{
    const auto& p = route_.state().mainform.progress;
    if (p.visible) {
        progress_->setRange(0, std::max(p.blocks_total, 1));
        progress_->setValue(std::clamp(p.blocks_done, 0, std::max(p.blocks_total, 1)));
        // The whole run's progress: a sector's own count would start again at each sector.
        progress_->setFormat(QString::fromStdString(core::progress_text(p, std::chrono::steady_clock::now())));
    }
    if (progress_->isHidden() == p.visible) {
        progress_->setVisible(p.visible);
        // Laid out now: a programming run repaints without returning to the event loop.
        statusBar()->layout()->activate();
    }
}

void main_window::closeEvent(QCloseEvent* event)
{
    event->ignore();
    if (route_.state().mainform.enabled) route_(shell::mainform_Unload);
}

}  // namespace fernwick::ui
