#include "ui/Controls.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>

namespace qm {
namespace {

template <typename Button>
Button* MakeCaptioned(const char* caption, const char* objectName, QWidget* parent) {
    auto* button = new Button(QString::fromUtf8(caption), parent);
    button->setObjectName(QString::fromLatin1(objectName));
    button->setAccessibleName(Spoken(button->text()));
    return button;
}

}  // namespace

QString Spoken(const QString& caption) {
    QString name = caption;
    return name.remove(QLatin1Char('&'));
}

QPushButton* MakeButton(const char* caption, const char* objectName, QWidget* parent) {
    auto* button = MakeCaptioned<QPushButton>(caption, objectName, parent);
    button->setAutoDefault(false);
    return button;
}

QCheckBox* MakeCheckBox(const char* caption, const char* objectName, QWidget* parent) {
    return MakeCaptioned<QCheckBox>(caption, objectName, parent);
}

QRadioButton* MakeRadioButton(const char* caption, const char* objectName, QWidget* parent) {
    return MakeCaptioned<QRadioButton>(caption, objectName, parent);
}

QLineEdit* MakeField(const char* objectName, const char* labelCaption, QWidget* parent,
                     bool digitsOnly) {
    auto* field = new QLineEdit(parent);
    field->setObjectName(QString::fromLatin1(objectName));
    field->setAccessibleName(Spoken(QString::fromUtf8(labelCaption)).trimmed());
    if (digitsOnly) {
        static const QRegularExpression kDigits(QStringLiteral("[0-9]*"));
        field->setValidator(new QRegularExpressionValidator(kDigits, field));
    }
    return field;
}

QLabel* MakeLabel(const char* caption, QWidget* buddy, QWidget* parent) {
    auto* label = new QLabel(QString::fromUtf8(caption), parent);
    if (buddy) label->setBuddy(buddy);
    return label;
}

void SetWidthInChars(QLineEdit* field, int chars) {
    const int width = field->fontMetrics().horizontalAdvance(QString(chars, QLatin1Char('0')));
    field->setMaximumWidth(width + 16);
    field->setMinimumWidth(width + 16);
}

QLabel* MakeValue(const char* objectName, const char* caption, const char* initial,
                  QWidget* parent) {
    return AsValue(new QLabel(parent), objectName, caption, initial);
}

QLabel* AsValue(QLabel* label, const char* objectName, const char* caption, const char* initial) {
    label->setText(QString::fromUtf8(initial));
    label->setObjectName(QString::fromLatin1(objectName));
    label->setAccessibleName(QString::fromUtf8(caption));
    label->setTextFormat(Qt::PlainText);
    label->setTextInteractionFlags(Qt::NoTextInteraction);
    label->setAccessibleDescription(label->text());
    return label;
}

void SetValue(QLabel* label, const QString& text) {
    label->setText(text);
    label->setAccessibleDescription(text);
}

}  // namespace qm
