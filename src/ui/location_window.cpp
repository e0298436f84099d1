#include "ui/location_window.h"

#include <array>
#include <span>

#include <QCloseEvent>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "programming/flow.h"
#include "ui/alert_cursor.h"

namespace fernwick::ui {

namespace {

const QColor k_grey(192, 192, 192);

struct option_row {
    const char* name;
    const char* caption;
    input_route::handler click;
    std::int16_t value;
};

constexpr std::array<option_row, 3> k_now_options{{
    {"sect0", "Sector 0", programming::sect0_Click, 0},
    {"sect2", "Sector 2", programming::sect2_Click, 2},
    {"external", "externally", programming::external_Click, core::k_nowhere},
}};

constexpr std::array<option_row, 3> k_target_options{{
    {"Option1", "Sector 0", programming::Option1_Click, 0},
    {"Option2", "Sector 2", programming::Option2_Click, 2},
    {"Option3", "Do not include any bootstrap loader code ", programming::Option3_Click, core::k_nowhere},
}};

constexpr std::array<option_row, 2> k_segment_options{{
    {"seg0", "Segment 0     (00'0000h - 00'7FFFh)", programming::seg0_Click, 0},
    {"seg1", "Segment 1     (01'0000h - 01'7FFFh)", programming::seg1_Click, 1},
}};

QFrame* make_line(QWidget* parent, int index)
{
    auto* line = new QFrame(parent);
    line->setObjectName(QStringLiteral("Line1"));
    line->setProperty("index", index);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    return line;
}

void show_value(const std::vector<location_window::option>& frame, std::int16_t value)
{
    std::vector<QRadioButton*> buttons;
    const QRadioButton* chosen = nullptr;
    for (const auto& o : frame) {
        buttons.push_back(o.button);
        if (o.value == value) chosen = o.button;
    }
    select_option(buttons, chosen);
}

std::vector<location_window::option> add_options(QWidget* frame, QBoxLayout* layout, std::span<const option_row> rows,
                                                 const input_route& route)
{
    std::vector<location_window::option> made;
    for (const option_row& row : rows) {
        QRadioButton* b = make_option(frame, row.name, QString::fromLatin1(row.caption));
        QObject::connect(b, &QRadioButton::clicked, frame, [route, click = row.click] { route(click); });
        if (layout != nullptr) layout->addWidget(b);
        made.push_back({b, row.value});
    }
    return made;
}

}  // namespace

location_window::location_window(input_route route) : route_(std::move(route))
{
    setObjectName(QStringLiteral("LocationForm"));
    setWindowTitle(QStringLiteral("Flash Memory Map"));
    set_background(this, k_grey);

    auto* column = new QVBoxLayout(this);
    column->addWidget(build_now_frame(this));
    // Why "now" is already chosen, right under the choice it explains.
    preselected_ = make_label(this, "preselected", {});
    preselected_->setWordWrap(true);
    set_background(preselected_, QColor(255, 255, 128));
    preselected_->setMargin(4);
    preselected_->setVisible(false);
    column->addWidget(preselected_);
    column->addWidget(make_line(this, 5));
    column->addWidget(build_target_frame(this));
    column->addWidget(make_line(this, 6));

    auto* bottom = new QHBoxLayout();
    bottom->addWidget(build_segment_frame(this));
    bottom->addStretch();
    QPushButton* ok = make_button(this, "Command1", QStringLiteral("OK"));
    connect(ok, &QPushButton::clicked, this, [this] { route_(programming::LocationForm_Command1_Click); });
    bottom->addWidget(ok, 0, Qt::AlignBottom);
    column->addLayout(bottom);

    make_fixed_dialog(this);
    ok->setFocus();
}

QWidget* location_window::build_now_frame(QWidget* parent)
{
    QGroupBox* frame = make_frame(parent, "Frame3", QStringLiteral("Where is the bootstrap loader code located now ?"));
    set_background(frame, k_grey);
    auto* row = new QHBoxLayout(frame);
    now_ = add_options(frame, row, k_now_options, route_);
    return frame;
}

QWidget* location_window::build_target_frame(QWidget* parent)
{
    QGroupBox* frame = make_frame(
        parent, "Frame1", QStringLiteral("Where shall the bootstrap loader code be located after programming ?"));
    auto* grid = new QGridLayout(frame);
    QLabel* note = make_label(
        frame, "Label2",
        QStringLiteral(" NOTE: This location is reserved and user code at  this location will be overwritten !"));
    set_bold(note);
    set_background(note, QColor(255, 255, 0));
    grid->addWidget(note, 0, 0, 1, 2);
    target_ = add_options(frame, nullptr, k_target_options, route_);
    grid->addWidget(target_[0].button, 1, 0);
    grid->addWidget(target_[1].button, 1, 1);
    grid->addWidget(target_[2].button, 2, 0, 1, 2);
    target_[2].button->setCursor(alert_cursor());
    return frame;
}

QWidget* location_window::build_segment_frame(QWidget* parent)
{
    QGroupBox* frame = make_frame(parent, "Frame2", QStringLiteral("Sector 0 is mapped to ..."));
    auto* column = new QVBoxLayout(frame);
    segment_ = add_options(frame, column, k_segment_options, route_);
    return frame;
}

void location_window::sync()
{
    const auto& l = route_.state().LocationForm;
    show_value(now_, l.now_choice);
    show_value(target_, l.target_choice);
    show_value(segment_, l.segment_choice);
    preselected_->setText(QString::fromStdString(l.preselected));
    preselected_->setVisible(!l.preselected.empty());
    apply_window_state(this, l);
}

void location_window::closeEvent(QCloseEvent* event)
{
    event->ignore();
    if (isEnabled()) route_(programming::LocationForm_Unload);
}

}  // namespace fernwick::ui
