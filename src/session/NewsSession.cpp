#include "session/NewsSession.h"

#include "keyring/SecretServiceKeyring.h"
#include "settings/SettingsKeys.h"

namespace qm {

NewsSession::NewsSession(ProfileStore& profile, UserPrompt& prompt, LoginRule rule,
                         StatusLine status, std::string statusIndent)
    : profile_(profile),
      prompt_(prompt),
      rule_(rule),
      status_(std::move(status)),
      statusIndent_(std::move(statusIndent)) {}

NewsConnectOutcome NewsSession::Connect(const std::string& host, int configuredPort) {
    host_ = host;
    authenticated_ = false;
    loginFailed_ = false;
    socket_ = std::make_unique<CLineSocket>();
    if (setup_) setup_(*socket_);
    NewsConnectOutcome outcome =
        ConnectToNewsServer(*socket_, profile_, host, configuredPort, prompt_, status_);
    if (outcome == NewsConnectOutcome::Connected && CompressionWanted() &&
        !NegotiateCompression()) {
        outcome = NewsConnectOutcome::NoConnection;
    }
    if (outcome != NewsConnectOutcome::Connected) socket_.reset();
    return outcome;
}

bool NewsSession::CompressionWanted() const {
    return compression_ && compression_->Wanted() && kUseCompression.IsOn(profile_, host_);
}

// False when the connection broke on the way. A refused login leaves the connection plain; it
// stands where the login is forced, and is forgotten where it was only offered: that server may
// not want one, and where it does it asks with 480 as before.
bool NewsSession::NegotiateCompression() {
    const bool forced = kForceAuthInfo.IsOn(profile_, host_);
    if ((forced || LogsInWhenAsked()) && !LogIn()) {
        if (!forced) loginFailed_ = false;
        return socket_->IsConnected();
    }
    NegotiateDeflate(*socket_);
    return socket_->IsConnected();
}

bool NewsSession::Adopt(const std::string& host, int fd) {
    host_ = host;
    authenticated_ = false;
    loginFailed_ = false;
    socket_ = std::make_unique<CLineSocket>();
    if (setup_) setup_(*socket_);
    if (socket_->Adopt(fd)) return true;
    socket_.reset();
    return false;
}

void NewsSession::TakeOver(NewsSession& other) {
    socket_ = std::move(other.socket_);
    host_ = other.host_;
    authenticated_ = other.authenticated_;
    loginFailed_ = other.loginFailed_;
}

bool NewsSession::GreetedWithRefusal() const {
    return socket_ && ReplyCode(socket_->Greeting()) >= 400;
}

bool NewsSession::LogInIfForced() {
    if (!kForceAuthInfo.IsOn(profile_, host_) || Compressed()) return true;
    if (loginFailed_) return false;  // refused on this connection already: not asked again
    return LogIn();
}

bool NewsSession::Request(const std::string& command, std::string& reply, bool tellUser) {
    socket_->SendLine(command);
    reply = socket_->ReadLine();
    if (ReplyCode(reply) != 480) return true;
    switch (AnswerLoginRequest(tellUser)) {
        case LoginAnswer::NotConfigured:
            return true;
        case LoginAnswer::Failed:
            return false;
        case LoginAnswer::LoggedIn:
            break;
    }
    socket_->SendLine(command);
    reply = socket_->ReadLine();
    // Strict: asked again right after an accepted login, the server will never be content.
    if (rule_ == LoginRule::Strict && ReplyCode(reply) == 480) {
        loginFailed_ = true;
        return false;
    }
    return true;
}

bool NewsSession::SelectGroup(const std::string& group, std::string& reply) {
    if (!LogInIfForced()) return false;
    return Request("GROUP " + group + "\r\n", reply, true);
}

NewsSession::LoginAnswer NewsSession::AnswerLoginRequest(bool tellUser) {
    if (!LogsInWhenAsked()) {
        if (tellUser) TellCredentialsWanted();
        return LoginAnswer::NotConfigured;
    }
    if (Compressed() || (rule_ == LoginRule::Strict && authenticated_)) {
        loginFailed_ = true;
        return LoginAnswer::Failed;
    }
    return LogIn() ? LoginAnswer::LoggedIn : LoginAnswer::Failed;
}

bool NewsSession::LogsInWhenAsked() const {
    return kUserAuthentication.IsOn(profile_, host_);
}

void NewsSession::ReportLoginFailure() const {
    if (!status_) return;
    // The connection that found no password may be another of the run's.
    const std::string why = keyring_      ? keyring_->NoPasswordReason()
                            : ownKeyring_ ? ownKeyring_->NoPasswordReason()
                                          : std::string();
    status_(statusIndent_ + (why.empty() ? "Authentication failed" : why));
}

KeyringPasswords& NewsSession::Keyring() {
    if (keyring_) return *keyring_;
    if (!ownKeyring_) ownKeyring_ = std::make_unique<KeyringPasswords>(DesktopKeyring());
    return *ownKeyring_;
}

// The password stored in the host's section, kept in the keyring or asked of the user; a prompt
// the user cancels sends an empty password. A password the keyring cannot give is asked of the
// user where someone is there to answer; otherwise nothing is sent (never an empty password in
// its place): false.
bool NewsSession::PasswordForLogin(std::string& password) {
    if (kPromptForPasswd.IsOn(profile_, host_)) {
        if (!prompt_.AskPassword(password)) password.clear();
        return true;
    }
    if (!kPasswordInKeyring.IsOn(profile_, host_)) {
        password = kPassword.Read(profile_, host_);
        return true;
    }
    const std::string user = kUsername.Read(profile_, host_);
    KeyringPasswords& keyring = Keyring();
    const KeyringAnswer answer = keyring.Lookup(host_, user);
    if (answer.IsDone()) {
        password = answer.password;
        return true;
    }
    const std::string why = KeyringFailureText(host_, user, answer);
    if (prompt_.AskPasswordInstead(why, password)) return true;
    keyring.NoteNoPassword(why);
    return false;
}

bool NewsSession::LogIn() {
    std::string password;
    if (!PasswordForLogin(password)) {
        loginFailed_ = true;
        return false;
    }
    const AuthResult result = SendAuthInfo(*socket_, kUsername.Read(profile_, host_), password);
    if (!Judge(result)) {
        // Given up for a stop, the exchange has no verdict: the server refused nothing.
        if (!AbortedByStop()) loginFailed_ = true;
        return false;
    }
    authenticated_ = true;
    return true;
}

bool NewsSession::Judge(const AuthResult& result) const {
    // A list fetched without an accepted login would be cut short again.
    if (rule_ == LoginRule::Strict) return ReplyCode(result.reply) == 281;
    return !result.Failed(authenticated_);
}

void NewsSession::TellCredentialsWanted() const {
    prompt_.ShowMessage(
        "The server has requested authentication.\n\n"
        "Please go to the Authentication tab in the Setup\n"
        "dialog and enter the required username and password\n"
        "for " +
        host_);
}

}  // namespace qm
