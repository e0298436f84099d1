#include "operator/details_window.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QPlainTextEdit>
#include <QVBoxLayout>

namespace fernwick::operator_window {

QString details_text(const station::fixture_picture& f)
{
    QString text = QStringLiteral("Port: %1\n").arg(QString::fromStdString(f.port));
    if (!f.end.reason.empty()) text += QStringLiteral("Failed: %1\n").arg(QString::fromStdString(f.end.reason));
    if (!f.end.advice.empty()) text += QStringLiteral("What to do: %1\n").arg(QString::fromStdString(f.end.advice));
    text += QStringLiteral("\nThe board's log:\n");
    for (const auto& line : f.log) text += QString::fromStdString(line) + QLatin1Char('\n');
    return text;
}

QWidget* show_details_window(QWidget* parent, const station::fixture_picture& f)
{
    auto* window = new QDialog(parent);
    window->setObjectName(QStringLiteral("details_window"));
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->setWindowTitle(QStringLiteral("Details: %1").arg(QString::fromStdString(f.port)));
    auto* layout = new QVBoxLayout(window);
    auto* text = new QPlainTextEdit(window);
    text->setObjectName(QStringLiteral("details_text"));
    text->setReadOnly(true);
    text->setLineWrapMode(QPlainTextEdit::NoWrap);
    QFont mono(QStringLiteral("monospace"));
    mono.setStyleHint(QFont::Monospace);
    mono.setPointSize(12);
    text->setFont(mono);
    text->setPlainText(details_text(f));
    layout->addWidget(text);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, window);
    QObject::connect(buttons, &QDialogButtonBox::rejected, window, &QDialog::close);
    layout->addWidget(buttons);
    window->resize(900, 600);
    window->show();
    return window;
}

}  // namespace fernwick::operator_window
