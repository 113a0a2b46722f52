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
#include "ui/OffThread.h"

namespace qm {

namespace {

const char kInProfile[] = "The password is kept in the profile file, readable by this user only.";
const char kInKeyring[] = "The password is kept in the desktop keyring.";

}  // namespace

CAuthenticationTabDlg::CAuthenticationTabDlg(SetupContext& context, QWidget* parent)
    : CSetupPage(context, parent) {
    setObjectName(QStringLiteral("authenticationPage"));
    requires_ = MakeCheckBox("Ser&ver requires password", "userAuthenticationCheck", this);
    user_ = MakeField("usernameEdit", "&Username:", this);
    password_ = MakeField("passwordEdit", "Pass&word:", this);
    password_->setEchoMode(QLineEdit::Password);
    userLabel_ = MakeLabel("&Username:", user_, this);
    passwordLabel_ = MakeLabel("Pass&word:", password_, this);
    note_ = new QLabel(QString::fromLatin1(kInProfile), this);
    note_->setObjectName(QStringLiteral("passwordNote"));
    note_->setWordWrap(true);
    password_->setAccessibleDescription(note_->text());
    keyring_ = MakeCheckBox("Keep the password in the desktop &keyring", "keyringCheck", this);
    offThread_ = new OffThread(this);
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
    grid->addWidget(keyring_, 2, 2);
    grid->addWidget(note_, 3, 2);
    grid->addWidget(prompt_, 4, 1, 1, 2);
    grid->addWidget(alwaysSend_, 5, 1, 1, 2);
    grid->setColumnStretch(2, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(requires_);
    layout->addLayout(grid);
    layout->addStretch(1);

    connect(requires_, &QCheckBox::clicked, this, &CAuthenticationTabDlg::FollowRequiresBox);
    connect(prompt_, &QCheckBox::clicked, this, &CAuthenticationTabDlg::FollowPromptBox);
    connect(alwaysSend_, &QCheckBox::clicked, this, &CAuthenticationTabDlg::OnAlwaysSendClicked);
    connect(keyring_, &QCheckBox::clicked, this, &CAuthenticationTabDlg::FollowKeyringBox);
    connect(password_, &QLineEdit::textEdited, this, [this] { passwordTyped_ = true; });
    FollowRequiresBox();
}

// Whether the session offers a keyring is asked once, off the window thread: the box stays
// disabled until the answer is yes.
void CAuthenticationTabDlg::Load() {
    PasswordKeyring& keyring = context_.keyring;
    offThread_->Run<KeyringAnswer>([&keyring] { return keyring.Offered(); },
                                   [this](const KeyringAnswer& answer) {
                                       keyringOffered_ = answer.IsDone();
                                       FollowRequiresBox();
                                   });
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
    inKeyring_ = kPasswordInKeyring.IsOn(profile, host);
    keyringUser_ = kUsername.Read(profile, host);
    keyringRead_ = false;
    passwordTyped_ = false;
    keyringProblem_.clear();
    keyring_->setChecked(inKeyring_);
    if (inKeyring_) ReadKeyring();
    FollowRequiresBox();
}

// The password kept in the keyring, shown (masked) once it comes, unless the user has typed one
// meanwhile or the page shows another server by then.
void CAuthenticationTabDlg::ReadKeyring() {
    PasswordKeyring& keyring = context_.keyring;
    const std::string host = host_;
    const std::string user = keyringUser_;
    offThread_->Run<KeyringAnswer>(
        [&keyring, host, user] { return keyring.Lookup(host, user); },
        [this, host, user](const KeyringAnswer& answer) {
            if (host != host_ || passwordTyped_) return;
            if (answer.IsDone()) {
                password_->setText(QString::fromStdString(answer.password));
                keyringRead_ = true;
            } else {
                keyringProblem_ = answer.outcome == KeyringAnswer::Outcome::NotFound
                                      ? "it holds none for " + user
                                      : answer.reason;
            }
            FollowKeyringBox();
        });
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
    FollowKeyringBox();
}

void CAuthenticationTabDlg::FollowPromptBox() {
    passwordLabel_->setEnabled(!prompt_->isChecked());
    password_->setEnabled(!prompt_->isChecked());
    FollowKeyringBox();
}

// The box means something only where a password is typed here and a keyring is offered; the
// line below the field says where the password is kept.
void CAuthenticationTabDlg::FollowKeyringBox() {
    keyring_->setEnabled(keyringOffered_ && requires_->isChecked() && !prompt_->isChecked());
    QString note = QString::fromLatin1(keyring_->isChecked() ? kInKeyring : kInProfile);
    if (keyring_->isChecked() && !keyringProblem_.empty()) {
        note = QStringLiteral(
                   "The password is kept in the desktop keyring, which cannot be "
                   "reached: ") +
               QString::fromStdString(keyringProblem_);
    }
    note_->setText(note);
    password_->setAccessibleDescription(note);
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

bool CAuthenticationTabDlg::KeepsInKeyring() const {
    return !host_.empty() && ProfileStore::StorableSection(host_) && requires_->isChecked() &&
           !prompt_->isChecked() && keyring_->isChecked();
}

std::string CAuthenticationTabDlg::User() const {
    return StoredText(user_->text(), kUsername.Read(context_.profile, host_));
}

// The password reaches the keyring before the profile says it is there. A password that could
// not be read from the keyring and was not typed again stays there as it is.
bool CAuthenticationTabDlg::SaveFiles(QString& error) {
    if (!KeepsInKeyring()) return true;
    if (inKeyring_ && !keyringRead_ && !passwordTyped_ && User() == keyringUser_) return true;
    const KeyringAnswer answer =
        context_.keyring.Store(host_, User(), password_->text().toStdString());
    if (answer.IsDone()) return true;
    error = QStringLiteral("The password could not be kept in the desktop keyring: ") +
            QString::fromStdString(answer.outcome == KeyringAnswer::Outcome::Unreachable
                                       ? answer.reason
                                       : std::string("it did not take it"));
    return false;
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
    changes.push_back(kUsername.Change(host_, User()));
    if (prompt_->isChecked()) {
        changes.push_back(kPassword.Change(host_, std::string()));
    } else if (keyring_->isChecked()) {
        changes.push_back(kPassword.Change(host_, std::string()));
        changes.push_back(kPasswordInKeyring.ChangeFlag(host_, true));
    } else {
        changes.push_back(
            kPassword.Change(host_, StoredText(password_->text(), kPassword.Read(profile, host_))));
        // Moved back: the profile says so (a profile that never used the keyring gets no key).
        if (inKeyring_) changes.push_back(kPasswordInKeyring.ChangeFlag(host_, false));
    }
}

// Once the profile holds the password again (or the keyring holds it under a new user name),
// the entry it no longer needs goes; an empty password moved back leaves the entry alone.
void CAuthenticationTabDlg::Saved() {
    if (!inKeyring_ || host_.empty() || !requires_->isChecked() || prompt_->isChecked()) return;
    const bool stale =
        keyring_->isChecked() ? User() != keyringUser_ : !password_->text().isEmpty();
    if (stale) context_.keyring.Remove(host_, keyringUser_);
}

}  // namespace qm
