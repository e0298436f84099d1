#include "ui/about_window.h"

#include <QCloseEvent>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "shell/main_menu.h"

namespace fernwick::ui {

namespace {

constexpr int k_version_extra_points = 6;
constexpr int k_spacing = 12;

}  // namespace

about_window::about_window(input_route route) : route_(std::move(route))
{
    setObjectName(QStringLiteral("AboutForm"));
    setWindowTitle(QStringLiteral("About KORVANE Fernwick Mirel"));
    set_background(this, QColor(128, 255, 128));

    auto* column = new QVBoxLayout(this);
    column->setSpacing(k_spacing);
    QLabel* version = make_label(this, "Label1", QStringLiteral("Version 2.1"));
    set_bold(version, k_version_extra_points);
    QLabel* date = make_label(this, "Label3", QStringLiteral("last modification:  February 1998"));
    set_bold(date);
    date->setMinimumWidth(title_room(this));
    date->setAlignment(Qt::AlignCenter);
    QPushButton* close = make_button(this, "Command1", QStringLiteral("Close"));
    set_bold(close);
    set_button_colour(close, QColor(0, 255, 0));
    connect(close, &QPushButton::clicked, this, [this] { route_(shell::AboutForm_Command1_Click); });
    column->addWidget(version, 0, Qt::AlignHCenter);
    column->addWidget(date, 0, Qt::AlignHCenter);
    column->addWidget(close, 0, Qt::AlignHCenter);

    make_fixed_dialog(this);
    close->setFocus();
}

void about_window::sync() { apply_window_state(this, route_.state().AboutForm); }

// The close box hides the window as Close does.
void about_window::closeEvent(QCloseEvent* event)
{
    event->ignore();
    if (isEnabled()) route_(shell::AboutForm_Command1_Click);
}

}  // namespace fernwick::ui
