#pragma once
// The operator's window: one tile per fixture over the station's model, the
// job's product, file, operator and lot above them, the totals and the batch
// below, and Stop. Nothing in it changes the job; a click or key the operator
// cannot have meant does nothing (the application's input gate drops it).

#include <QWidget>
#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "station/station_model.h"

class QGridLayout;
class QLabel;
class QMessageBox;
class QPushButton;
class QScrollArea;
class QTimer;

namespace fernwick::operator_window {

class fixture_tile;

// What the bar above the tiles tells of the job and its run.
struct job_header {
    std::string product;
    std::string hex_file;    // its path: the bar shows its name
    std::string hex_sha256;  // the bar shows its first 8 digits
    std::string operator_name;
    std::string lot;
    int count = 0;  // the batch's boards; 0: no batch
};

class station_window : public QWidget {
public:
    // `stop` asks the station to stop: every board under way finishes and
    // is recorded. Listens to `model`, which must outlive the window.
    station_window(station::station_model& model, const job_header& header, std::function<void()> stop);
    ~station_window() override;

    // Reads the model now, as the queued refresh does.
    void refresh();
    // Stop as a confirmed Stop does (a signal asked for it).
    void stop_without_asking();
    // The station's run has returned: the window closes when a stop ended it.
    void run_ended(bool stopped);

    fixture_tile* tile(const std::string& port) const;
    std::size_t tiles() const { return tiles_.size(); }
    const std::vector<std::string>& tile_order() const { return order_; }  // as they stand, row by row
    QString footer_text() const;
    QString header_text() const;
    QString said_text() const;
    QPushButton* stop_button() const { return stop_; }
    bool stop_asked() const { return stop_asked_; }
    int beeps() const { return beeps_; }

protected:
    void closeEvent(QCloseEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;

private:
    void ask_to_stop();
    void confirmed_stop();
    void place_tiles();
    void show_details(const std::string& port);

    station::station_model& model_;
    job_header header_;
    std::function<void()> stop_station_;
    std::shared_ptr<std::atomic<bool>> pending_;  // a refresh is queued
    QTimer* refresh_timer_;
    QLabel* job_;
    QLabel* said_;
    QLabel* totals_;
    QScrollArea* scroll_;
    QWidget* tile_area_;
    QGridLayout* grid_;
    QPushButton* stop_;
    QMessageBox* confirm_ = nullptr;
    QTimer* clock_;
    std::map<std::string, fixture_tile*> tiles_;
    std::vector<std::string> order_;  // the ports in the order their tiles came
    std::map<std::string, std::chrono::steady_clock::time_point> failed_since_;  // failures already told
    bool stop_asked_ = false;
    bool ended_ = false;
    bool closing_ = false;
    int beeps_ = 0;
};

}  // namespace fernwick::operator_window
