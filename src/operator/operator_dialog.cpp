#include "operator/operator_dialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QPushButton>

namespace fernwick::operator_window {

operator_dialog::operator_dialog(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("operator_dialog"));
    setWindowTitle(QStringLiteral("Fernwick station: operator and lot"));
    QFont big = font();
    big.setPointSize(16);
    setFont(big);
    auto* form = new QFormLayout(this);
    operator_ = new QLineEdit(this);
    operator_->setObjectName(QStringLiteral("operator"));
    lot_ = new QLineEdit(this);
    lot_->setObjectName(QStringLiteral("lot"));
    form->addRow(QStringLiteral("Operator"), operator_);
    form->addRow(QStringLiteral("Lot"), lot_);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    start_ = buttons->button(QDialogButtonBox::Ok);
    start_->setText(QStringLiteral("Start"));
    form->addRow(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(operator_, &QLineEdit::textChanged, this, [this] { check(); });
    connect(lot_, &QLineEdit::textChanged, this, [this] { check(); });
    setMinimumWidth(560);
    check();
}

// Both are in every record of the run: neither may be left blank.
void operator_dialog::check() { start_->setEnabled(!operator_name().empty() && !lot().empty()); }

std::string operator_dialog::operator_name() const { return operator_->text().trimmed().toStdString(); }
std::string operator_dialog::lot() const { return lot_->text().trimmed().toStdString(); }

}  // namespace fernwick::operator_window
