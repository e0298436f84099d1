#include "ui/hex_file_dialog.h"

#include <QFile>
#include <QFileDialog>
#include <QStringList>

namespace fernwick::ui {

QString qt_filter(std::string_view pairs)
{
    const QStringList parts =
        QString::fromUtf8(pairs.data(), static_cast<qsizetype>(pairs.size())).split(QLatin1Char('|'));
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        const QString& description = parts[i];
        const QString named = QLatin1Char('(') + parts[i + 1] + QLatin1Char(')');
        filters << (description.endsWith(named) ? description : description + QLatin1Char(' ') + named);
    }
    return filters.join(QStringLiteral(";;"));
}

std::optional<std::string> ask_hex_file(QWidget* parent)
{
    const QString chosen = QFileDialog::getOpenFileName(parent, QString(), QString(), qt_filter(k_hex_filter), nullptr,
                                                        QFileDialog::DontUseNativeDialog);
    if (chosen.isEmpty()) return std::nullopt;
    return QFile::encodeName(chosen).toStdString();
}

}  // namespace fernwick::ui
