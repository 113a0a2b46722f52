#pragma once
// CFromExcludeEditDlg: lets the user edit a sender's text before it becomes a From exclude.

#include <QDialog>
#include <QString>

class QLineEdit;

namespace qm {

class CFromExcludeEditDlg : public QDialog {
    Q_OBJECT
public:
    explicit CFromExcludeEditDlg(QWidget* parent = nullptr);
    void SetText(const QString& text);
    QString Text() const;

private:
    QLineEdit* edit_;
};

}  // namespace qm
