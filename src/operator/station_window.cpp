#include "operator/station_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QGridLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollArea>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <filesystem>

#include "operator/details_window.h"
#include "operator/fixture_tile.h"

namespace fernwick::operator_window {

namespace {

constexpr int k_refresh_ms = 250;  // the tiles follow at most this often: four times a second reads well
constexpr int k_tile_width = 380;  // a tile's ideal size: every line of a failure on it in large letters
constexpr int k_tile_height = 250;

QLabel* bar_label(QWidget* parent, const char* name, int points)
{
    auto* l = new QLabel(parent);
    l->setObjectName(QString::fromLatin1(name));
    QFont f = l->font();
    f.setPointSize(points);
    f.setBold(true);
    l->setFont(f);
    l->setWordWrap(true);
    return l;
}

QString header_of(const job_header& h)
{
    const auto file = std::filesystem::path(h.hex_file).filename().string();
    return QStringLiteral("%1     %2 (SHA-256 %3)     Operator: %4     Lot: %5")
        .arg(QString::fromStdString(h.product), QString::fromStdString(file),
             QString::fromStdString(h.hex_sha256.substr(0, 8)), QString::fromStdString(h.operator_name),
             QString::fromStdString(h.lot));
}

}  // namespace

station_window::station_window(station::station_model& model, const job_header& header, std::function<void()> stop)
    : model_(model),
      header_(header),
      stop_station_(std::move(stop)),
      pending_(std::make_shared<std::atomic<bool>>(false))
{
    setObjectName(QStringLiteral("station_window"));
    setWindowTitle(QStringLiteral("Fernwick station: %1").arg(QString::fromStdString(header.product)));
    auto* layout = new QVBoxLayout(this);
    job_ = bar_label(this, "job", 18);
    job_->setText(header_of(header));
    said_ = bar_label(this, "said", 13);
    said_->setWordWrap(true);
    layout->addWidget(job_);
    layout->addWidget(said_);
    scroll_ = new QScrollArea(this);
    scroll_->setWidgetResizable(true);
    scroll_->setFrameShape(QFrame::NoFrame);
    tile_area_ = new QWidget(scroll_);
    grid_ = new QGridLayout(tile_area_);
    grid_->setAlignment(Qt::AlignTop | Qt::AlignLeft);
    scroll_->setWidget(tile_area_);
    layout->addWidget(scroll_, 1);
    auto* bottom = new QHBoxLayout;
    totals_ = bar_label(this, "totals", 20);
    stop_ = new QPushButton(QStringLiteral("Stop"), this);
    stop_->setObjectName(QStringLiteral("stop"));
    stop_->setAutoDefault(false);
    QFont big = stop_->font();
    big.setPointSize(20);
    big.setBold(true);
    stop_->setFont(big);
    stop_->setMinimumSize(180, 64);
    bottom->addWidget(totals_, 1);
    bottom->addWidget(stop_);
    layout->addLayout(bottom);
    connect(stop_, &QPushButton::clicked, this, [this] { closing_ ? (void)close() : ask_to_stop(); });

    refresh_timer_ = new QTimer(this);
    refresh_timer_->setSingleShot(true);
    connect(refresh_timer_, &QTimer::timeout, this, [this] { refresh(); });
    // The time left moves on between the station's reports.
    clock_ = new QTimer(this);
    connect(clock_, &QTimer::timeout, this, [this] { refresh(); });
    clock_->start(1000);
    // Called in the station's threads: one queued refresh for any number of changes.
    model_.listen([this, pending = pending_](const station::station_change&) {
        if (pending->exchange(true)) return;
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (!refresh_timer_->isActive()) refresh_timer_->start(k_refresh_ms);
            },
            Qt::QueuedConnection);
    });
    refresh();
}

station_window::~station_window() = default;

void station_window::refresh()
{
    pending_->store(false);
    const auto picture = model_.picture();
    const auto now = std::chrono::steady_clock::now();
    bool placed = false;
    for (const auto& f : picture.fixtures) {
        auto at = tiles_.find(f.port);
        if (f.state == fixture_state::absent) {
            if (at == tiles_.end()) continue;
            delete at->second;
            tiles_.erase(at);
            order_.erase(std::find(order_.begin(), order_.end(), f.port));
            failed_since_.erase(f.port);
            placed = true;
            continue;
        }
        if (at == tiles_.end()) {
            auto* t = new fixture_tile(QString::fromStdString(f.port), tile_area_);
            connect(t->details_button(), &QPushButton::clicked, this, [this, port = f.port] { show_details(port); });
            at = tiles_.emplace(f.port, t).first;
            order_.push_back(f.port);
            placed = true;
        }
        at->second->show_picture(f, now);
        // Each failure once: the bell, and the tile lights up.
        if (f.state == fixture_state::failed && failed_since_[f.port] != f.since) {
            failed_since_[f.port] = f.since;
            QApplication::beep();
            ++beeps_;
            at->second->flash();
        }
    }
    if (placed) place_tiles();
    // The station's own lines (the file changed, a stop); the terminal's hints stay the log's.
    const std::string prefix = "fernwick-cli station: ";
    const auto own = std::find_if(picture.said.rbegin(), picture.said.rend(),
                                  [&](const std::string& l) { return l.starts_with(prefix); });
    QString said = own == picture.said.rend() ? QString() : QString::fromStdString(own->substr(prefix.size()));
    said.remove(QStringLiteral(" (Ctrl-C ends)"));  // the terminal's; here Stop ends
    if (!stop_asked_ && !closing_ && said_->text() != said) said_->setText(said);
    const auto& t = picture.totals;
    QString totals = QStringLiteral("Passed %1    Failed %2    Yield %3    Boards per hour %4")
                         .arg(t.passed)
                         .arg(t.failed)
                         .arg(QString::fromStdString(t.yield_text()), QString::fromStdString(t.per_hour_text()));
    if (header_.count > 0) totals += QStringLiteral("    Batch %1 of %2").arg(t.passed).arg(header_.count);
    if (!t.ledger.empty()) totals += QStringLiteral("    ") + QString::fromStdString(t.ledger);
    if (totals_->text() != totals) totals_->setText(totals);
    if (picture.ended && !ended_) {
        ended_ = true;
        clock_->stop();
    }
}

namespace {

// "fixture-2" before "fixture-10": runs of digits compare as numbers (in any locale).
bool before_by_name(const std::string& a, const std::string& b)
{
    const auto digit = [](char c) { return c >= '0' && c <= '9'; };
    std::size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (digit(a[i]) && digit(b[j])) {
            const auto si = i, sj = j;
            while (i < a.size() && a[i] == '0') ++i;
            while (j < b.size() && b[j] == '0') ++j;
            const auto ni = i, nj = j;
            while (i < a.size() && digit(a[i])) ++i;
            while (j < b.size() && digit(b[j])) ++j;
            if (i - ni != j - nj) return i - ni < j - nj;
            if (const int c = a.compare(ni, i - ni, b, nj, j - nj); c != 0) return c < 0;
            if (i - si != j - sj) return i - si < j - sj;
        } else {
            if (a[i] != b[j]) return a[i] < b[j];
            ++i, ++j;
        }
    }
    return a.size() - i < b.size() - j;
}

// The columns whose tiles come closest to their ideal size in the space
// there is: every tile in sight where they fit, none cut short.
int columns_for(int tiles, int width, int height)
{
    int best = 1;
    double best_scale = 0;
    for (int c = 1; c <= std::max(1, tiles); ++c) {
        const int rows = (tiles + c - 1) / c;
        const double scale = std::min(static_cast<double>(width) / c / k_tile_width,
                                      static_cast<double>(height) / std::max(1, rows) / k_tile_height);
        if (scale > best_scale + 1e-9) best = c, best_scale = scale;
    }
    return best;
}

}  // namespace

void station_window::place_tiles()
{
    // By name, as the fixtures stand on the bench, whatever order they came in.
    std::sort(order_.begin(), order_.end(), before_by_name);
    const auto space = scroll_->viewport()->size();
    const int columns = columns_for(static_cast<int>(order_.size()), space.width(), space.height());
    // Columns of one width, whatever each tile holds: the bench's layout does not jump.
    for (int c = 0; c < grid_->columnCount(); ++c) grid_->setColumnStretch(c, 0);
    for (int c = 0; c < columns; ++c) grid_->setColumnStretch(c, 1);
    for (std::size_t i = 0; i < order_.size(); ++i) {
        auto* t = tiles_.at(order_[i]);
        grid_->removeWidget(t);
        grid_->addWidget(t, static_cast<int>(i) / columns, static_cast<int>(i) % columns);
        t->show();
    }
}

void station_window::resizeEvent(QResizeEvent* e)
{
    QWidget::resizeEvent(e);
    place_tiles();
}

void station_window::ask_to_stop()
{
    if (stop_asked_ || confirm_ != nullptr) return;
    confirm_ = new QMessageBox(QMessageBox::Question, QStringLiteral("Stop the station"),
                               QStringLiteral("Stop the station?\nEvery board under way finishes and is recorded; "
                                              "no new board is taken."),
                               QMessageBox::Yes | QMessageBox::No, this);
    confirm_->setObjectName(QStringLiteral("confirm_stop"));
    confirm_->setDefaultButton(QMessageBox::No);
    QFont big = confirm_->font();
    big.setPointSize(16);
    confirm_->setFont(big);
    connect(confirm_, &QMessageBox::buttonClicked, this, [this](QAbstractButton* b) {
        const bool yes = confirm_->standardButton(b) == QMessageBox::Yes;
        confirm_->deleteLater();
        confirm_ = nullptr;
        if (yes) confirmed_stop();
    });
    confirm_->open();
}

void station_window::confirmed_stop()
{
    stop_asked_ = true;
    stop_->setEnabled(false);
    stop_->setText(QStringLiteral("Stopping"));
    said_->setText(QStringLiteral("Stopping: every board under way finishes and is recorded"));
    if (stop_station_) stop_station_();
}

void station_window::stop_without_asking()
{
    if (confirm_ != nullptr) {
        confirm_->close();
        confirm_->deleteLater();
        confirm_ = nullptr;
    }
    // At the batch's end the run is over: a signal closes the window as Close does.
    if (closing_) {
        close();
        return;
    }
    if (!stop_asked_) confirmed_stop();
}

void station_window::run_ended(bool stopped)
{
    refresh();
    closing_ = true;
    if (stopped || stop_asked_) {
        close();
        return;
    }
    // The batch is done: the window stays to be read until it is closed.
    stop_->setText(QStringLiteral("Close"));
    stop_->setEnabled(true);
    said_->setText(QStringLiteral("The station has ended"));
}

void station_window::closeEvent(QCloseEvent* e)
{
    if (closing_) {
        e->accept();
        return;
    }
    // Closing the window is Stop, confirmed as Stop is; it closes once every board is recorded.
    e->ignore();
    ask_to_stop();
}

void station_window::show_details(const std::string& port)
{
    const auto picture = model_.picture(true);
    const auto at = std::find_if(picture.fixtures.begin(), picture.fixtures.end(),
                                 [&](const station::fixture_picture& f) { return f.port == port; });
    if (at != picture.fixtures.end()) show_details_window(this, *at);
}

fixture_tile* station_window::tile(const std::string& port) const
{
    const auto at = tiles_.find(port);
    return at == tiles_.end() ? nullptr : at->second;
}

QString station_window::footer_text() const { return totals_->text(); }
QString station_window::header_text() const { return job_->text(); }
QString station_window::said_text() const { return said_->text(); }

}  // namespace fernwick::operator_window
