// Every window, shown, has its controls inside it, apart from each other and
// large enough for their text. The pictures of the windows are left in the
// temporary folder for a look.

#include <QDir>
#include <QLabel>
#include <QPlainTextEdit>

#include "ui/support_ui.h"

namespace fernwick::test {
namespace {

using W = core::window_id;

const std::pair<W, const char*> k_windows[] = {
    {W::mainform, "mainform"},         {W::RESETFORM, "RESETFORM"},     {W::statusform, "statusform"},
    {W::LocationForm, "LocationForm"}, {W::ConfirmForm, "ConfirmForm"}, {W::Warning, "Warning"},
    {W::AboutForm, "AboutForm"},
};

// The controls the operator sees: direct children that are widgets of their own.
QList<QWidget*> shown_children(QWidget* parent)
{
    QList<QWidget*> out;
    for (QObject* o : parent->children()) {
        auto* w = qobject_cast<QWidget*>(o);
        // The size grip is the status bar's own and may reach into its corner.
        if (w != nullptr && !w->isWindow() && w->isVisible() && !w->inherits("QSizeGrip")) out << w;
    }
    return out;
}

void expect_laid_out(QWidget* parent)
{
    const QList<QWidget*> kids = shown_children(parent);
    for (QWidget* w : kids) {
        const QString name = w->objectName().isEmpty() ? w->metaObject()->className() : w->objectName();
        SCOPED_TRACE(name.toStdString());
        EXPECT_TRUE(parent->rect().contains(w->geometry()))
            << "cut off by " << parent->objectName().toStdString();
        if (qobject_cast<QLabel*>(w) != nullptr && !static_cast<QLabel*>(w)->wordWrap()) {
            EXPECT_GE(w->width(), w->sizeHint().width());
        }
        for (QWidget* other : kids) {
            if (other != w && !w->inherits("QScrollBar") && !other->inherits("QScrollBar")) {
                EXPECT_FALSE(w->geometry().intersects(other->geometry()))
                    << "overlaps " << other->objectName().toStdString();
            }
        }
        if (qobject_cast<QPlainTextEdit*>(w) == nullptr) expect_laid_out(w);
    }
}

TEST_F(ui_test, every_window_shows_its_controls_whole_and_apart)
{
    core::notice_block(s->log(), {"                             Please wait one moment !"});
    s->mainform.progress = {true, 1, 12, 512};
    s->statusform.status_sector = {"0000", "0000", "0000", "0000"};
    for (auto* v : {&s->mainform.visible, &s->statusform.visible, &s->LocationForm.visible,
                    &s->ConfirmForm.visible, &s->Warning.visible, &s->AboutForm.visible}) {
        *v = true;
    }
    windows->sync();
    const QDir pictures(QDir::temp().filePath(QStringLiteral("fernwick-ui")));
    QDir().mkpath(pictures.path());
    for (const auto& [id, name] : k_windows) {
        SCOPED_TRACE(name);
        QWidget* w = window(id);
        ASSERT_TRUE(w->isVisible());
        expect_laid_out(w);
        w->grab().save(pictures.filePath(QString::fromLatin1(name) + QStringLiteral(".png")));
    }
}

}  // namespace
}  // namespace fernwick::test
