#pragma once
// CLoggingTabDlg: the download log and the description file written beside saved pictures.

#include "settings/ui/SetupPage.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace qm {

class CLoggingTabDlg : public CSetupPage {
    Q_OBJECT
public:
    CLoggingTabDlg(SetupContext& context, QWidget* parent);
    void Save(std::vector<ProfileStore::Change>& changes) override;
    void OnClearContents();

protected:
    void Load() override;

private:
    void FollowLoggingBox();

    QCheckBox *description_, *logging_;
    QLabel* logFileLabel_;
    QLineEdit* logFile_;
    QPushButton* clear_;
};

}  // namespace qm
