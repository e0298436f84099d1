#include "ui/reset_window.h"

#include <array>

#include <QCloseEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "bootstrap/reset_step.h"
#include "core/port_names.h"

namespace fernwick::ui {

namespace {

struct baud_option {
    const char* name;
    const char* rate;
    input_route::handler click;
    int row;
    int column;
};

// Two columns: 2400, 4800, 9600 on the left, 14400 and 19200 on the right.
constexpr std::array<baud_option, 5> k_baud_options{{
    {"bs_2400", "2400", bootstrap::bs_2400_Click, 0, 0},
    {"bs_4800", "4800", bootstrap::bs_4800_Click, 1, 0},
    {"bs_9600", "9600", bootstrap::bs_9600_Click, 2, 0},
    {"bs_14400", "14400", bootstrap::bs_14400_Click, 0, 1},
    {"bs_19200", "19200", bootstrap::bs_19200_Click, 1, 1},
}};

// The device behind the button, and the way to another one: the variable is
// read at start-up.
QString device_tip(int port)
{
    return QStringLiteral("COM %1 is %2; set FERNWICK_COM%1=/dev/ttyUSB0 before starting to use another device")
        .arg(port)
        .arg(QString::fromStdString(core::device_for_port(port)));
}

}  // namespace

reset_window::reset_window(input_route route) : route_(std::move(route))
{
    setObjectName(QStringLiteral("RESETFORM"));
    setWindowTitle(QStringLiteral("KORVANE - Fernwick Mirel"));

    auto* content = new QWidget(this);
    auto* grid = new QGridLayout(content);
    grid->addWidget(build_port_frame(content), 0, 0);
    grid->addWidget(build_baud_frame(content), 0, 1);

    QLabel* label =
        make_label(content, "Label1", QStringLiteral("Enable the Bootstrap Loader and reset the microcontroller "));
    set_background(label, QColor(255, 255, 128));
    label->setMargin(4);
    grid->addWidget(label, 1, 0, 1, 2);

    QPushButton* ok = make_button(content, "RESET_OK", QStringLiteral("OK"));
    connect(ok, &QPushButton::clicked, this, [this] { route_(bootstrap::RESET_OK_Click); });
    grid->addWidget(ok, 2, 1, Qt::AlignRight);

    make_sizable(this);
    pin_top_left(this, content);
    ok->setFocus();
}

QWidget* reset_window::build_port_frame(QWidget* parent)
{
    QGroupBox* frame = make_frame(parent, "Frame1", QStringLiteral("Port-Selection"));
    auto* column = new QVBoxLayout(frame);
    com1_ = make_option(frame, "com1_", QStringLiteral("COM 1"));
    com2_ = make_option(frame, "com2_", QStringLiteral("COM 2"));
    // The captions stay COM 1 and COM 2; the tip tells which device that is here.
    com1_->setToolTip(device_tip(1));
    com2_->setToolTip(device_tip(2));
    connect(com1_, &QRadioButton::clicked, this, [this] { route_(bootstrap::com1__Click); });
    connect(com2_, &QRadioButton::clicked, this, [this] { route_(bootstrap::com2__Click); });
    column->addWidget(com1_);
    column->addWidget(com2_);
    column->addStretch();
    return frame;
}

QWidget* reset_window::build_baud_frame(QWidget* parent)
{
    QGroupBox* frame = make_frame(parent, "Frame2", QStringLiteral("BaudRate-Selection"));
    auto* grid = new QGridLayout(frame);
    for (const baud_option& o : k_baud_options) {
        QRadioButton* b = make_option(frame, o.name, QString::fromLatin1(o.rate));
        connect(b, &QRadioButton::clicked, this, [this, click = o.click] { route_(click); });
        grid->addWidget(b, o.row, o.column);
        bauds_.push_back(b);
    }
    return frame;
}

void reset_window::sync()
{
    const auto& r = route_.state().RESETFORM;
    select_option({com1_, com2_}, r.port_choice == 1 ? com1_ : r.port_choice == 2 ? com2_ : nullptr);
    const QRadioButton* baud = nullptr;
    for (std::size_t i = 0; i < bauds_.size(); ++i) {
        if (r.baud_choice == k_baud_options[i].rate) baud = bauds_[i];
    }
    select_option(bauds_, baud);
    apply_window_state(this, r);
}

void reset_window::closeEvent(QCloseEvent* event)
{
    event->ignore();
    if (isEnabled()) route_(bootstrap::RESETFORM_Unload);
}

}  // namespace fernwick::ui
