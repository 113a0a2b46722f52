#include "app/ui/FromExcludeEditDlg.h"

#include <QDialogButtonBox>
#include <QLineEdit>
#include <QVBoxLayout>

#include "ui/MessageBoxes.h"

namespace qm {

CFromExcludeEditDlg::CFromExcludeEditDlg(QWidget* parent)
    : QDialog(parent), edit_(new QLineEdit(this)) {
    setWindowTitle(QStringLiteral("Edit From Exclude"));
    edit_->setObjectName(QStringLiteral("fromExcludeEdit"));
    edit_->setAccessibleName(QStringLiteral("From Exclude"));
    edit_->setMinimumWidth(edit_->fontMetrics().averageCharWidth() * 48);
    auto* buttons = new QDialogButtonBox(
        QDialogButtonBox::Ok | QDialogButtonBox::Cancel | QDialogButtonBox::Help, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(buttons, &QDialogButtonBox::helpRequested, this, [this] {
        Inform(this,
               QStringLiteral("Articles whose From line contains this text (in any letter case) "
                              "are skipped. Shorten it to the part that names the sender."));
    });
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(edit_);
    layout->addWidget(buttons);
}

void CFromExcludeEditDlg::SetText(const QString& text) {
    edit_->setText(text);
    edit_->selectAll();
}

QString CFromExcludeEditDlg::Text() const {
    return edit_->text();
}

}  // namespace qm
