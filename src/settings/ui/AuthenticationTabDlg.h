#pragma once
// CAuthenticationTabDlg: whether the current server wants a user name and password, and which.
// The values live in the server's own section of the profile; the password may instead be kept
// in the desktop keyring, which the page reads and asks off the window thread.

#include <string>

#include "settings/ui/SetupPage.h"

class QCheckBox;
class QLabel;
class QLineEdit;

namespace qm {

class OffThread;

class CAuthenticationTabDlg : public CSetupPage {
    Q_OBJECT
public:
    CAuthenticationTabDlg(SetupContext& context, QWidget* parent);
    bool SaveFiles(QString& error) override;
    void Save(std::vector<ProfileStore::Change>& changes) override;
    void Saved() override;

protected:
    void Load() override;
    void Shown() override;

private:
    void FollowRequiresBox();
    void FollowPromptBox();
    void FollowKeyringBox();
    void OnAlwaysSendClicked(bool checked);
    void ReadKeyring();
    // The password goes to the keyring on OK: the box counts, and the section can be written.
    bool KeepsInKeyring() const;
    std::string User() const;

    QCheckBox *requires_, *prompt_, *alwaysSend_, *keyring_;
    QLabel *userLabel_, *passwordLabel_, *note_;
    QLineEdit *user_, *password_;
    OffThread* offThread_;
    std::string host_;  // the server whose section the page shows ("" before one was named)
    bool keyringOffered_ = false;
    // As loaded for host_: the profile keeps the password in the keyring, for this user.
    bool inKeyring_ = false;
    std::string keyringUser_;
    bool keyringRead_ = false;    // the field holds the password read from the keyring
    bool passwordTyped_ = false;  // the user typed in the field since it was loaded
    std::string keyringProblem_;  // why the keyring could not give the password
};

}  // namespace qm
