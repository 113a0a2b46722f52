#pragma once
// CAuthenticationTabDlg: whether the current server wants a user name and password, and which.
// The values live in the server's own section of the profile.

#include <string>

#include "settings/ui/SetupPage.h"

class QCheckBox;
class QLabel;
class QLineEdit;

namespace qm {

class CAuthenticationTabDlg : public CSetupPage {
    Q_OBJECT
public:
    CAuthenticationTabDlg(SetupContext& context, QWidget* parent);
    void Save(std::vector<ProfileStore::Change>& changes) override;

protected:
    void Load() override {}
    void Shown() override;

private:
    void FollowRequiresBox();
    void FollowPromptBox();
    void OnAlwaysSendClicked(bool checked);

    QCheckBox *requires_, *prompt_, *alwaysSend_;
    QLabel *userLabel_, *passwordLabel_;
    QLineEdit *user_, *password_;
    std::string host_;  // the server whose section the page shows ("" before one was named)
};

}  // namespace qm
