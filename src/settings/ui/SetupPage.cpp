#include "settings/ui/SetupPage.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpressionValidator>

#include "settings/SettingsKeys.h"

namespace qm {

CSetupPage::CSetupPage(SetupContext& context, QWidget* parent)
    : QWidget(parent), context_(context) {}

void CSetupPage::Enter() {
    if (!shown_) {
        shown_ = true;
        Load();
    }
    Shown();
}

QString CSetupPage::PageText(std::string_view key) const {
    return QString::fromStdString(ReadPageText(context_.profile, key));
}

bool CSetupPage::PageFlag(std::string_view key) const {
    return ProfileStore::ParseInt(ReadPageText(context_.profile, key)) != 0;
}

void CSetupPage::Put(std::vector<ProfileStore::Change>& changes, const char* key,
                     const QString& text) {
    changes.push_back({kMainSection, key, text.toStdString()});
}

void CSetupPage::PutFlag(std::vector<ProfileStore::Change>& changes, const char* key, bool on) {
    changes.push_back({kMainSection, key, on ? "1" : "0"});
}

bool CSetupPage::AskYesNo(const QString& question) {
    QMessageBox box(QMessageBox::Question, QStringLiteral("Quarrymoth"), question,
                    QMessageBox::Yes | QMessageBox::No, this);
    box.setDefaultButton(QMessageBox::No);
    box.setEscapeButton(QMessageBox::No);
    box.setTextFormat(Qt::PlainText);
    return box.exec() == QMessageBox::Yes;
}

void CSetupPage::Inform(const QString& text) {
    QMessageBox box(QMessageBox::Information, QStringLiteral("Quarrymoth"), text, QMessageBox::Ok,
                    this);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

void CSetupPage::Warn(const QString& text) {
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Quarrymoth"), text, QMessageBox::Ok,
                    this);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

QString CSetupPage::Spoken(const QString& caption) {
    QString name = caption;
    return name.remove(QLatin1Char('&'));
}

QCheckBox* CSetupPage::MakeCheckBox(const char* caption, const char* objectName, QWidget* parent) {
    auto* box = new QCheckBox(QString::fromUtf8(caption), parent);
    box->setObjectName(QString::fromLatin1(objectName));
    box->setAccessibleName(Spoken(box->text()));
    return box;
}

QPushButton* CSetupPage::MakeButton(const char* caption, const char* objectName, QWidget* parent) {
    auto* button = new QPushButton(QString::fromUtf8(caption), parent);
    button->setObjectName(QString::fromLatin1(objectName));
    button->setAccessibleName(Spoken(button->text()));
    button->setAutoDefault(false);
    return button;
}

QLineEdit* CSetupPage::MakeField(const char* objectName, const char* labelCaption, QWidget* parent,
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

QLabel* CSetupPage::MakeLabel(const char* caption, QWidget* buddy, QWidget* parent) {
    auto* label = new QLabel(QString::fromUtf8(caption), parent);
    if (buddy) label->setBuddy(buddy);
    return label;
}

void CSetupPage::SetWidthInChars(QLineEdit* field, int chars) {
    const int width = field->fontMetrics().horizontalAdvance(QString(chars, QLatin1Char('0')));
    field->setMaximumWidth(width + 16);
    field->setMinimumWidth(width + 16);
}

}  // namespace qm
