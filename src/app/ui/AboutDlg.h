#pragma once
// CAboutDlg: the program's icon, name and version.

#include <QDialog>

namespace qm {

inline constexpr const char* kVersionText = "V2.7c2";

class CAboutDlg : public QDialog {
    Q_OBJECT
public:
    explicit CAboutDlg(QWidget* parent = nullptr);
};

}  // namespace qm
