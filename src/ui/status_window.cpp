#include "ui/status_window.h"

#include <QCloseEvent>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "command/commands.h"

namespace fernwick::ui {

namespace {

constexpr std::array<const char*, 4> k_label_names{"Label1", "Label2", "Label3", "Label4"};
constexpr std::array<const char*, 4> k_box_names{"status_sector_0", "status_sector_1", "status_sector_2",
                                                 "status_sector_3"};
constexpr int k_box_chars = 8;

}  // namespace

status_window::status_window(input_route route) : route_(std::move(route))
{
    setObjectName(QStringLiteral("statusform"));
    setWindowTitle(QStringLiteral("Flash Status Register"));

    auto* content = new QWidget(this);
    auto* grid = new QGridLayout(content);
    for (int i = 0; i < 4; ++i) {
        grid->addWidget(make_label(content, k_label_names[i], QStringLiteral("Sector %1:").arg(i)), i, 0);
        auto* box = new QLineEdit(content);
        box->setObjectName(QString::fromLatin1(k_box_names[i]));
        box->setReadOnly(true);
        box->setMinimumWidth(box->fontMetrics().horizontalAdvance(QLatin1Char('0')) * k_box_chars);
        grid->addWidget(box, i, 1);
        sectors_[i] = box;
    }
    QPushButton* close = make_button(content, "status_cancel", QStringLiteral("Close"));
    connect(close, &QPushButton::clicked, this, [this] { route_(command::status_cancel_Click); });
    grid->addWidget(close, 4, 0, 1, 2, Qt::AlignHCenter);

    make_sizable(this);
    content->setMinimumWidth(title_room(this));
    pin_top_left(this, content);
    sectors_[0]->setFocus();
}

void status_window::sync()
{
    const auto& st = route_.state().statusform;
    for (std::size_t i = 0; i < sectors_.size(); ++i) {
        const QString text = QString::fromStdString(st.status_sector[i]);
        if (sectors_[i]->text() != text) sectors_[i]->setText(text);
    }
    apply_window_state(this, st);
}

void status_window::closeEvent(QCloseEvent* event)
{
    event->ignore();
    if (isEnabled()) route_(command::statusform_Unload);
}

}  // namespace fernwick::ui
