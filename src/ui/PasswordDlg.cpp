#include "ui/PasswordDlg.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "ui/Controls.h"
#include "ui/MessageBoxes.h"

namespace qm {

CPasswordDlg::CPasswordDlg(QWidget* parent)
    : QDialog(parent), edit_(MakeField("passwordEdit", "&Password:", this)) {
    setWindowTitle(QStringLiteral("Quarrymoth"));
    auto* label = MakeLabel("&Password:", edit_, this);
    edit_->setEchoMode(QLineEdit::Password);
    auto* buttons = new QDialogButtonBox(
        QDialogButtonBox::Ok | QDialogButtonBox::Cancel | QDialogButtonBox::Help, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(buttons, &QDialogButtonBox::helpRequested, this, [this] {
        Inform(this, QStringLiteral("The news server asks for your password. It is sent for this "
                                    "session only and not stored."));
    });
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(label);
    layout->addWidget(edit_);
    layout->addWidget(buttons);
}

std::string CPasswordDlg::Password() const {
    return edit_->text().toStdString();
}

}  // namespace qm
