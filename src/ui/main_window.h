#pragma once
// mainform: the menu bar of the commands and the message log, with the
// progress of a programming run below it.

#include <functional>
#include <optional>
#include <string>

#include <QMainWindow>

#include "ui/window_style.h"

class QMenu;
class QProgressBar;

namespace fernwick::ui {

class log_view;

class main_window : public QMainWindow {
public:
    explicit main_window(input_route route);

    void sync();
    log_view* log() const { return dialog_; }

    // The file dialog D1; replaceable so that tests choose without a dialog.
    std::function<std::optional<std::string>()> choose_hex_file;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    QMenu* add_menu(const char* name, const QString& caption, const char* item_name, const QString& item_caption,
                    const std::function<void()>& on_click);
    void build_menus();
    void build_log();
    void sync_progress();

    input_route route_;
    log_view* dialog_ = nullptr;
    QProgressBar* progress_ = nullptr;
    QMenu* reset_ = nullptr;
    QMenu* status_ = nullptr;
    QMenu* program_ = nullptr;
};

}  // namespace fernwick::ui
