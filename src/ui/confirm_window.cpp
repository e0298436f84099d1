#include "ui/confirm_window.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>

#include "programming/flow.h"
#include "programming/programming_run.h"

namespace fernwick::ui {

namespace {

constexpr std::array<const char*, 4> k_box_names{"sector0", "sector1", "sector2", "sector3"};

}  // namespace

confirm_window::confirm_window(input_route route) : route_(std::move(route))
{
    setObjectName(QStringLiteral("ConfirmForm"));
    setWindowTitle(QStringLiteral("KORVANE - Fernwick Mirel"));

    auto* grid = new QGridLayout(this);
    QLabel* title = make_label(this, "Label1", QStringLiteral("These Sectors will be erased and programmed:"));
    set_background(title, QColor(255, 255, 128));
    title->setMargin(4);
    grid->addWidget(title, 0, 0, 1, 2);

    // Label2 is an array of the platform: index 0 names sector 3, index 3 sector 0.
    for (int row = 0; row < 4; ++row) {
        const int sector = 3 - row;
        QCheckBox* box = make_check(this, k_box_names[sector]);
        connect(box, &QCheckBox::clicked, this, [this, sector](bool ticked) {
            route_.run(
                [sector, ticked](core::app_state& s) { programming::set_check_value(s, sector, ticked ? 1 : 0); });
        });
        QLabel* label = make_label(this, "Label2", QStringLiteral("Sector %1").arg(sector));
        label->setProperty("index", row);
        auto* line = new QHBoxLayout();
        line->addWidget(box);
        line->addWidget(label);
        line->addStretch();
        grid->addLayout(line, row + 1, 0, 1, 2);
        sectors_[sector] = box;
    }

    QPushButton* program = make_button(this, "program_button", QStringLiteral("Program Flash"));
    QPushButton* cancel = make_button(this, "Command2", QStringLiteral("Cancel"));
    QPushButton* back = make_button(this, "Command1", QStringLiteral("Back"));
    connect(program, &QPushButton::clicked, this, [this] { route_(programming::program_button_Click); });
    connect(cancel, &QPushButton::clicked, this, [this] { route_(programming::ConfirmForm_Command2_Click); });
    connect(back, &QPushButton::clicked, this, [this] { route_(programming::ConfirmForm_Command1_Click); });
    grid->addWidget(program, 5, 0);
    grid->addWidget(cancel, 6, 0);
    grid->addWidget(back, 6, 1);

    make_fixed_dialog(this);
    program->setFocus();
}

void confirm_window::sync()
{
    const auto& c = route_.state().ConfirmForm;
    for (std::size_t i = 0; i < sectors_.size(); ++i) {
        const QSignalBlocker block(sectors_[i]);
        sectors_[i]->setChecked(c.sector[i].value == 1);
        sectors_[i]->setEnabled(c.sector[i].enabled);
    }
    apply_window_state(this, c);
}

void confirm_window::closeEvent(QCloseEvent* event)
{
    event->ignore();
    if (isEnabled()) route_(programming::ConfirmForm_Unload);
}

}  // namespace fernwick::ui
