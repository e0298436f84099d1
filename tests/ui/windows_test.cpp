// Every window builds and shows: each control whole and apart, readable when
// its window is disabled, text boxes only showing, the dialogs opened centred
// on the main window, and the sector boxes the rules lock telling why.

#include <QLabel>
#include <QPlainTextEdit>

#include "ui/support_ui.h"

namespace fernwick::test {
namespace {

using W = core::window_id;

// The dialogs are kept above the main window (as dialogs of it, for the
// window manager) and opened centred on it.
const std::pair<W, bool> k_windows[] = {
    {W::mainform, false},   {W::RESETFORM, false}, {W::statusform, true}, {W::LocationForm, true},
    {W::ConfirmForm, true}, {W::Warning, true},    {W::AboutForm, true},
};

// Each control the operator sees lies inside its parent and apart from its
// siblings, and a label that does not wrap is wide enough for its text.
void expect_laid_out(QWidget* parent)
{
    QList<QWidget*> kids;
    for (QWidget* w : parent->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        // The size grip is the status bar's own and may reach into its corner.
        if (!w->isWindow() && w->isVisible() && !w->inherits("QSizeGrip")) kids << w;
    }
    for (QWidget* w : kids) {
        SCOPED_TRACE(w->metaObject()->className() + (" " + w->objectName().toStdString()));
        EXPECT_TRUE(parent->rect().contains(w->geometry())) << "cut off by " << parent->objectName().toStdString();
        const auto* label = qobject_cast<QLabel*>(w);
        EXPECT_TRUE(label == nullptr || label->wordWrap() || w->width() >= w->sizeHint().width()) << "too narrow";
        for (QWidget* other : kids) {
            if (other != w && !w->inherits("QScrollBar") && !other->inherits("QScrollBar")) {
                EXPECT_FALSE(w->geometry().intersects(other->geometry()))
                    << "overlaps " << other->objectName().toStdString();
            }
        }
        if (qobject_cast<QPlainTextEdit*>(w) == nullptr) expect_laid_out(w);
    }
}

TEST_F(ui_test, every_window_shows_its_controls_whole_apart_and_readable_and_the_dialogs_centred)
{
    core::notice_block(s->log(), {"                             Please wait one moment !"});
    s->mainform.progress = {true, 1, 12, 512};
    s->statusform.status_sector = {"0000", "0000", "0000", "0000"};
    s->ConfirmForm.sector = {{{1, false}, {0, false}, {1, true}, {0, true}}};  // sectors 0 and 1 locked
    const auto show_all = [this](bool shown) {
        for (const auto& [id, dialog] : k_windows) state_of(*s, id).visible = shown;
        windows->sync();
    };
    QWidget* main = window(W::mainform);
    // The main window moves between two showings; each showing opens the dialogs on it.
    for (const QPoint main_at : {QPoint(20, 300), QPoint(10, 40)}) {
        show_all(false);
        main->move(main_at);
        show_all(true);
        // The second click of a double click on an OK that opens the sector window does not land on the erase.
        const auto on_screen = [](QWidget* b) { return QRect(b->mapToGlobal(QPoint()), b->size()); };
        const QRect erase = on_screen(control(W::ConfirmForm, "program_button"));
        for (W before : {W::Warning, W::LocationForm})
            EXPECT_FALSE(erase.intersects(on_screen(control(before, "Command1"))));
        for (const auto& [id, dialog] : k_windows) {
            QWidget* w = window(id);
            SCOPED_TRACE(w->objectName().toStdString());
            ASSERT_TRUE(w->isVisible());
            expect_laid_out(w);
            if (dialog) {
                EXPECT_EQ(w->frameGeometry().center(), main->frameGeometry().center());
                EXPECT_EQ(w->windowType(), Qt::Dialog);
            }
            for (QWidget* c : w->findChildren<QWidget*>()) {
                if (c->objectName().isEmpty() || c->inherits("QMenu")) continue;  // Qt's own parts, pop-up menus
                SCOPED_TRACE(c->objectName().toStdString());
                // A window disabled behind another takes no input but reads as before.
                const QPalette::ColorRole text = c->foregroundRole();
                EXPECT_EQ(c->palette().color(QPalette::Disabled, text), c->palette().color(QPalette::Active, text));
                // The log and the status boxes only show.
                EXPECT_NE(c->property("readOnly"), QVariant(false));
            }
        }
    }
    // A locked sector box says why, and so does its caption; ticked, it reads apart from a free one.
    const char* const why[] = {"kept on by the bootstrap-code rules", "the file has no data for this sector", "", ""};
    const auto captions = window(W::ConfirmForm)->findChildren<QLabel*>("Label2");  // sector 3 on top
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(control(W::ConfirmForm, ("sector" + std::to_string(i)).c_str())->toolTip().toStdString(), why[i]);
        EXPECT_EQ(captions[3 - i]->toolTip().toStdString(), why[i]);
    }
    const auto grey = [this](const char* box) {
        const QImage look = control(W::ConfirmForm, box)->grab().toImage();
        return qGray(look.scaled(1, 1, Qt::IgnoreAspectRatio, Qt::SmoothTransformation).pixel(0, 0));
    };
    EXPECT_GT(grey("sector2") - grey("sector0"), 25);  // a tenth of the way from black to white
}

}  // namespace
}  // namespace fernwick::test
