#pragma once
// The windows' message boxes: captioned "Quarrymoth", modal to their parent, and showing their
// text as it is (a server's text with "<" in it must never be read as markup).

#include <QMessageBox>
#include <QString>

class QWidget;

namespace qm {

// Yes or No; Escape and the close box answer No.
bool AskYesNo(QWidget* parent, const QString& question, bool yesIsDefault = false);
// A box with an OK button and the icon given.
void ShowBox(QWidget* parent, QMessageBox::Icon icon, const QString& text);

inline void Inform(QWidget* parent, const QString& text) {
    ShowBox(parent, QMessageBox::Information, text);
}
inline void Warn(QWidget* parent, const QString& text) {
    ShowBox(parent, QMessageBox::Warning, text);
}
inline void ShowError(QWidget* parent, const QString& text) {
    ShowBox(parent, QMessageBox::Critical, text);
}

}  // namespace qm
