#pragma once
// CPasswordDlg: asks for the news server's password when the profile says to ask each time.

#include <QDialog>
#include <string>

class QLineEdit;

namespace qm {

class CPasswordDlg : public QDialog {
    Q_OBJECT
public:
    explicit CPasswordDlg(QWidget* parent = nullptr);
    std::string Password() const;

private:
    QLineEdit* edit_;
};

}  // namespace qm
