#include "ui/MessageBoxes.h"

namespace qm {

bool AskYesNo(QWidget* parent, const QString& question, bool yesIsDefault) {
    QMessageBox box(QMessageBox::Question, QStringLiteral("Quarrymoth"), question,
                    QMessageBox::Yes | QMessageBox::No, parent);
    box.setDefaultButton(yesIsDefault ? QMessageBox::Yes : QMessageBox::No);
    box.setEscapeButton(QMessageBox::No);
    box.setTextFormat(Qt::PlainText);
    return box.exec() == QMessageBox::Yes;
}

void ShowBox(QWidget* parent, QMessageBox::Icon icon, const QString& text) {
    QMessageBox box(icon, QStringLiteral("Quarrymoth"), text, QMessageBox::Ok, parent);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

}  // namespace qm
