#include "ui/confirm_window.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QFontDatabase>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalBlocker>

#include "programming/flow.h"
#include "programming/programming_run.h"

namespace fernwick::ui {

namespace {

constexpr std::array<const char*, 4> k_box_names{"sector0", "sector1", "sector2", "sector3"};
// The notice's lines are up to about 100 characters; more rows scroll.
constexpr int k_unplaced_columns = 104;
constexpr int k_unplaced_rows = 9;
constexpr int k_log_margin = 5;

// A locked box reads apart from a free one by its grey fill; its tick keeps
// the window's text colour, so it reads as well as a free one's.
const QColor k_locked_fill(176, 176, 176);

// Why the rules keep a box as it is, from the box's state: ticked, it keeps
// the bootstrap code in flash; not ticked, nothing could be programmed.
QString lock_reason(const core::check_box_state& box)
{
    if (box.enabled) return {};
    return box.value == 1 ? QStringLiteral("kept on by the bootstrap-code rules")
                          : QStringLiteral("the file has no data for this sector");
}

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
        QPalette fill = box->palette();
        fill.setColor(QPalette::Disabled, QPalette::Base, k_locked_fill);
        box->setPalette(fill);
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
        captions_[sector] = label;
    }

    QPushButton* program = make_button(this, "program_button", QStringLiteral("Program Flash"));
    QPushButton* cancel = make_button(this, "Command2", QStringLiteral("Cancel"));
    QPushButton* back = make_button(this, "Command1", QStringLiteral("Back"));
    connect(program, &QPushButton::clicked, this, [this] { route_(programming::program_button_Click); });
    connect(cancel, &QPushButton::clicked, this, [this] { route_(programming::ConfirmForm_Command2_Click); });
    connect(back, &QPushButton::clicked, this, [this] { route_(programming::ConfirmForm_Command1_Click); });
    // Not where the Warning's OK lies, centred on the same main window: the
    // second click of a double click on OK must not start the erase.
    grid->addWidget(program, 5, 1);
    grid->addWidget(cancel, 6, 0);
    grid->addWidget(back, 6, 1);

    // The notice of the bytes that will not be programmed, here as in the
    // log: the window may lie over the log's notice.
    unplaced_ = new QPlainTextEdit(this);
    unplaced_->setObjectName(QStringLiteral("unplaced"));
    unplaced_->setReadOnly(true);
    unplaced_->setLineWrapMode(QPlainTextEdit::NoWrap);
    unplaced_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    unplaced_->setFixedSize(unplaced_->fontMetrics().horizontalAdvance(QLatin1Char('0')) * k_unplaced_columns,
                            unplaced_->fontMetrics().lineSpacing() * k_unplaced_rows);
    unplaced_->setVisible(false);
    grid->addWidget(unplaced_, 7, 0, 1, 2);

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
        sectors_[i]->setToolTip(lock_reason(c.sector[i]));
        captions_[i]->setToolTip(lock_reason(c.sector[i]));
    }
    // Without the log's left margin; the ranges stay indented under their heading.
    QStringList unplaced;
    for (const auto& line : c.unplaced) unplaced << QString::fromStdString(line).mid(k_log_margin);
    const QString text = unplaced.join(QLatin1Char('\n'));
    if (unplaced_->toPlainText() != text) unplaced_->setPlainText(text);
    unplaced_->setVisible(!c.unplaced.empty());
    apply_window_state(this, c);
}

void confirm_window::closeEvent(QCloseEvent* event)
{
    event->ignore();
    if (isEnabled()) route_(programming::ConfirmForm_Unload);
}

}  // namespace fernwick::ui
