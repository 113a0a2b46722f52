#include "settings/ui/AuthenticationTabDlg.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

#include "settings/SettingsKeys.h"
#include "ui/Controls.h"
#include "ui/DisplayText.h"
#include "ui/MessageBoxes.h"

namespace qm {

CAuthenticationTabDlg::CAuthenticationTabDlg(SetupContext& context, QWidget* parent)
    : CSetupPage(context, parent) {
    setObjectName(QStringLiteral("authenticationPage"));
    requires_ = MakeCheckBox("Ser&ver requires password", "userAuthenticationCheck", this);
    user_ = MakeField("usernameEdit", "&Username:", this);
    password_ = MakeField("passwordEdit", "Pass&word:", this);
    password_->setEchoMode(QLineEdit::Password);
    userLabel_ = MakeLabel("&Username:", user_, this);
    passwordLabel_ = MakeLabel("Pass&word:", password_, this);
    auto* note = new QLabel(
        QStringLiteral("The password is kept in the profile file, readable by this user only."),
        this);
    note->setObjectName(QStringLiteral("passwordNote"));
    note->setWordWrap(true);
    password_->setAccessibleDescription(note->text());
    prompt_ = MakeCheckBox("Promp&t for password for each session", "promptForPasswdCheck", this);
    alwaysSend_ =
        MakeCheckBox("Always send Authentication Information", "forceAuthInfoCheck", this);

    auto* grid = new QGridLayout;
    const int indent = fontMetrics().averageCharWidth() * 3;
    grid->setColumnMinimumWidth(0, indent);
    grid->addWidget(userLabel_, 0, 1);
    grid->addWidget(user_, 0, 2);
    grid->addWidget(passwordLabel_, 1, 1);
    grid->addWidget(password_, 1, 2);
    grid->addWidget(note, 2, 2);
    grid->addWidget(prompt_, 3, 1, 1, 2);
    grid->addWidget(alwaysSend_, 4, 1, 1, 2);
    grid->setColumnStretch(2, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(requires_);
    layout->addLayout(grid);
    layout->addStretch(1);

    connect(requires_, &QCheckBox::clicked, this, &CAuthenticationTabDlg::FollowRequiresBox);
    connect(prompt_, &QCheckBox::clicked, this, &CAuthenticationTabDlg::FollowPromptBox);
    connect(alwaysSend_, &QCheckBox::clicked, this, &CAuthenticationTabDlg::OnAlwaysSendClicked);
    FollowRequiresBox();
}

// Loaded whenever the page is shown for another server than the one it shows: the General page
// may have named a new one since. Coming back for the same server keeps what was typed.
void CAuthenticationTabDlg::Shown() {
    const std::string& host = context_.currentHost;
    if (host.empty() || host == host_) return;
    host_ = host;
    const ProfileStore& profile = context_.profile;
    requires_->setChecked(kUserAuthentication.IsOn(profile, host));
    prompt_->setChecked(kPromptForPasswd.IsOn(profile, host));
    alwaysSend_->setChecked(kForceAuthInfo.IsOn(profile, host));
    user_->setText(DisplayText(kUsername.Read(profile, host)));
    password_->setText(DisplayText(kPassword.Read(profile, host)));
    FollowRequiresBox();
}

// The user name, the password and both boxes below mean something only for a server that asks;
// the password field also not while the password is asked for at each session.
void CAuthenticationTabDlg::FollowRequiresBox() {
    const bool on = requires_->isChecked();
    for (QWidget* control : std::initializer_list<QWidget*>{userLabel_, user_, passwordLabel_,
                                                            password_, prompt_, alwaysSend_}) {
        control->setEnabled(on);
    }
    if (on) FollowPromptBox();
}

void CAuthenticationTabDlg::FollowPromptBox() {
    passwordLabel_->setEnabled(!prompt_->isChecked());
    password_->setEnabled(!prompt_->isChecked());
}

void CAuthenticationTabDlg::OnAlwaysSendClicked(bool checked) {
    if (!checked) return;
    Inform(
        this,
        QStringLiteral(
            "This option is only intended for use on news\nservers that don't properly request "
            "authentication.\n\nIt is STRONGLY recommended that you try letting the\nserver "
            "request "
            "the authentication information first\nby leaving this box unchecked, and use this "
            "option only\nif required.\n\nSelecting this option on a server that does not\nrequire "
            "authentication information may cause the server\nto reject your connection."));
}

// Written to the section the page showed: the values came from there. With no server named (or
// a name no section can have) there is no section to write to.
void CAuthenticationTabDlg::Save(std::vector<ProfileStore::Change>& changes) {
    if (host_.empty() || !ProfileStore::StorableSection(host_)) return;
    changes.push_back(kUserAuthentication.ChangeFlag(host_, requires_->isChecked()));
    changes.push_back(kPromptForPasswd.ChangeFlag(host_, prompt_->isChecked()));
    changes.push_back(kForceAuthInfo.ChangeFlag(host_, alwaysSend_->isChecked()));
    if (!requires_->isChecked()) return;
    const ProfileStore& profile = context_.profile;
    changes.push_back(
        kUsername.Change(host_, StoredText(user_->text(), kUsername.Read(profile, host_))));
    changes.push_back(kPassword.Change(
        host_, prompt_->isChecked()
                   ? std::string()
                   : StoredText(password_->text(), kPassword.Read(profile, host_))));
}

}  // namespace qm
