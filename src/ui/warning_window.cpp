#include "ui/warning_window.h"

#include <QCloseEvent>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>

#include "programming/flow.h"

namespace fernwick::ui {

namespace {

constexpr int k_text_width = 360;

QPushButton* warning_button(QWidget* parent, const char* name, const QString& caption)
{
    QPushButton* b = make_button(parent, name, caption);
    set_bold(b);
    set_button_colour(b, QColor(192, 192, 192));
    return b;
}

}  // namespace

warning_window::warning_window(input_route route) : route_(std::move(route))
{
    setObjectName(QStringLiteral("Warning"));
    setWindowTitle(QStringLiteral("! ! !     Warning     ! ! !"));
    set_background(this, QColor(192, 192, 0));

    auto* grid = new QGridLayout(this);
    QLabel* text = make_label(this, "Label1",
                              QStringLiteral("If you don't include the bootstrap loader code either in Sector 0 or "
                                             "Segment 2 you won't be able to reprogram the Flash memory again if no "
                                             "external bootstrap loader support exists"));
    set_bold(text);
    set_background(text, QColor(255, 255, 128));
    text->setWordWrap(true);
    text->setMargin(6);
    text->setFixedWidth(k_text_width);
    grid->addWidget(text, 0, 0, 1, 2);

    QPushButton* ok = warning_button(this, "Command1", QStringLiteral("OK"));
    QPushButton* cancel = warning_button(this, "Command2", QStringLiteral("Cancel"));
    connect(ok, &QPushButton::clicked, this, [this] { route_(programming::Warning_Command1_Click); });
    connect(cancel, &QPushButton::clicked, this, [this] { route_(programming::Warning_Command2_Click); });
    grid->addWidget(ok, 1, 0, Qt::AlignLeft);
    grid->addWidget(cancel, 1, 1, Qt::AlignRight);

    make_fixed_dialog(this);
    ok->setFocus();
}

void warning_window::sync() { apply_window_state(this, route_.state().Warning); }

void warning_window::closeEvent(QCloseEvent* event)
{
    event->ignore();
    if (isEnabled()) route_(programming::Warning_Unload);
}

}  // namespace fernwick::ui
