#pragma once
// The builders every window uses for its controls: objectName says the control's role, and the
// spoken (accessible) name is its caption without the mnemonic marker "&".

#include <QString>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QWidget;

namespace qm {

// A caption as a screen reader says it: without "&".
QString Spoken(const QString& caption);

// A push button that never becomes the default by taking the focus.
QPushButton* MakeButton(const char* caption, const char* objectName, QWidget* parent);
QCheckBox* MakeCheckBox(const char* caption, const char* objectName, QWidget* parent);
QRadioButton* MakeRadioButton(const char* caption, const char* objectName, QWidget* parent);
// A field spoken as its label's caption; digitsOnly refuses anything but the digits 0-9.
QLineEdit* MakeField(const char* objectName, const char* labelCaption, QWidget* parent,
                     bool digitsOnly = false);
// A label; with a buddy its mnemonic moves the focus to the buddy.
QLabel* MakeLabel(const char* caption, QWidget* buddy, QWidget* parent);
// A field for a number, about chars digits wide.
void SetWidthInChars(QLineEdit* field, int chars);

// A value shown as plain text, spoken as its caption. Screen readers get the value as the
// description: a label named after its caption would otherwise tell them only the caption.
QLabel* MakeValue(const char* objectName, const char* caption, const char* initial,
                  QWidget* parent);
// Gives a label made elsewhere (an ElidedLabel, say) the names and looks of MakeValue's.
QLabel* AsValue(QLabel* label, const char* objectName, const char* caption, const char* initial);
void SetValue(QLabel* label, const QString& text);

}  // namespace qm
