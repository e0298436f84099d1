#include "ui/bench_settings.h"

#include <QGuiApplication>
#include <QMessageBox>
#include <QSettings>

namespace fernwick::ui {

void show_problem_window(const std::string& text)
{
    // Offscreen nobody could read or close it.
    const QString platform = QGuiApplication::platformName();
    if (platform == QLatin1String("offscreen") || platform == QLatin1String("minimal")) return;
    QMessageBox box(QMessageBox::Critical, QStringLiteral("KORVANE - Fernwick Mirel"), QString::fromStdString(text),
                    QMessageBox::Ok);
    box.setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    box.exec();
}

std::string settings_file()
{
    return QSettings(QSettings::IniFormat, QSettings::UserScope, "fernwick", "fernwick").fileName().toStdString();
}

bool read_bench_settings(const std::string& file, core::bench_setup& bench, std::ostream& err,
                         const std::function<void(const std::string&)>& show)
{
    const QSettings settings(QString::fromStdString(file), QSettings::IniFormat);
    for (const bool is_exit : {false, true}) {
        const char* const key = is_exit ? "exit" : "entry";
        auto& sequence = is_exit ? bench.exit : bench.entry;
        // Commas make a list of an unquoted value.
        const auto text = settings.value(key).toStringList().join(',').toStdString();
        if (!sequence.empty() || text.empty()) continue;
        std::string why;
        if (auto read = core::parse_modem_sequence(text, is_exit, why)) {
            sequence = std::move(*read);
            sequence.given_in = file;
            continue;
        }
        err << "fernwick: " << file << ": " << key << ": " << why << "\n";
        std::string message = "The key ";
        message.append(key).append(" of the settings file ").append(file).append(" is wrong:\n").append(why);
        show(message.append("\n\nCorrect or remove it there, then start Fernwick again."));
        return false;
    }
    return true;
}

}  // namespace fernwick::ui
