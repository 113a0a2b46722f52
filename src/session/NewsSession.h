#pragma once
// NewsSession: one conversation with the news server a profile names. It owns the line socket,
// connects (plain, TLS or STARTTLS, and the greeting), logs in when the settings force it or a
// command is answered 480, and selects a group. The engine and the group list worker both talk to
// the server through it, so the login rules and their messages exist once.

#include <functional>
#include <memory>
#include <string>

#include "net/Nntp.h"
#include "net/Socket.h"
#include "net/UserPrompt.h"
#include "session/CompressionChoice.h"
#include "session/KeyringPasswords.h"
#include "session/NewsConnection.h"
#include "settings/ProfileStore.h"

namespace qm {

// How a login exchange is judged. Lenient (a download run): only a refusal (481, 482, 502) fails,
// and a 502 to a repeated exchange means the connection is logged in already. Strict (the group
// list): only a 281 is success, and a server that asks again after an accepted login refuses us.
enum class LoginRule { Lenient, Strict };

class NewsSession {
public:
    // status shows the session's own status lines (TLS, a failed login); statusIndent goes in
    // front of those the caller does not word itself ("Authentication failed").
    NewsSession(ProfileStore& profile, UserPrompt& prompt, LoginRule rule, StatusLine status,
                std::string statusIndent = "");
    NewsSession(const NewsSession&) = delete;
    NewsSession& operator=(const NewsSession&) = delete;

    // Called on each new socket before it connects: hooks, timeouts, the stop check.
    void SetSocketSetup(std::function<void(CLineSocket&)> setup) { setup_ = std::move(setup); }
    // The run's choice whether connections are compressed (not owned). Without one, or with the
    // host's UseCompression off, a session never asks for compression.
    void SetCompressionChoice(CompressionChoice* choice) { compression_ = choice; }
    // The run's passwords from the keyring (not owned), for a host whose profile keeps its
    // password there. Without them the session asks the desktop keyring itself.
    void SetKeyring(KeyringPasswords* keyring) { keyring_ = keyring; }

    // A new connection to host (the old one, if any, is closed first): nothing of a login on an
    // earlier connection counts on it. Where compression is wanted, it is asked for once TLS
    // runs and, with credentials configured, after the login (a server refuses AUTHINFO once
    // it compresses). Anything but Connected leaves no socket.
    NewsConnectOutcome Connect(const std::string& host, int configuredPort);
    // The same over a descriptor that is already connected (one end of a socketpair), without a
    // greeting. False (no socket) when it cannot be taken over.
    bool Adopt(const std::string& host, int fd);
    // Drops the connection without a closing command.
    void Close() { socket_.reset(); }
    // Takes over other's connection with its login (the socket keeps the hooks it was set up
    // with); other is left without one.
    void TakeOver(NewsSession& other);
    // The server greeted the connection with a refusal (400, 502 and the like): it has no room.
    bool GreetedWithRefusal() const;

    bool Connected() const { return socket_ && socket_->IsConnected(); }
    bool UsesTls() const { return socket_ && socket_->UsesTls(); }
    // The connection is compressed (or was, until it failed).
    bool Compressed() const { return socket_ && socket_->UsesCompression(); }
    // The compressed connection failed because a reply did not come within the idle timeout.
    bool Stalled() const { return Compressed() && socket_->TimedOut(); }
    // The connection was given up because a stop was asked for while waiting.
    bool AbortedByStop() const { return socket_ && socket_->AbortedByStop(); }
    // The connection; only after a Connect or Adopt that succeeded.
    CLineSocket& Socket() { return *socket_; }
    const std::string& Host() const { return host_; }

    // The login the host's ForceAuthInfo asks for before each GROUP (or the LIST of the group
    // list). True when none is asked for or it passed; on a compressed connection it was made
    // before compressing, once.
    bool LogInIfForced();
    // Sends command (with its "\r\n") and reads the reply line. A 480 is answered as
    // AnswerLoginRequest says and, after a login, the command is sent once more and its reply
    // replaces the 480. tellUser: without credentials configured the user is told where to enter
    // them. False when the login failed (the reply is then the 480).
    bool Request(const std::string& command, std::string& reply, bool tellUser = false);
    // GROUP, after the forced login if any; the 480 is told to the user when it cannot be answered.
    bool SelectGroup(const std::string& group, std::string& reply);

    enum class LoginAnswer { LoggedIn, NotConfigured, Failed };
    // A command was answered 480: with UserAuthentication the login runs (LoggedIn or Failed),
    // without it nothing is sent (NotConfigured) and, when tellUser, the user is told. A
    // compressed connection cannot log in any more: Failed.
    LoginAnswer AnswerLoginRequest(bool tellUser);
    // Whether a 480 is answered with a login (the host's UserAuthentication).
    bool LogsInWhenAsked() const;
    // A login on this connection was refused; it stays so until the next connection. A login
    // cut short by a stop (AbortedByStop()) is not refused.
    bool LoginFailed() const { return loginFailed_; }
    // Tells the user, on the status line, that the login was refused, or why it could not be
    // made (the keyring that keeps the password could not give it).
    void ReportLoginFailure() const;

private:
    bool CompressionWanted() const;
    bool NegotiateCompression();
    bool LogIn();
    bool PasswordForLogin(std::string& password);
    KeyringPasswords& Keyring();
    bool Judge(const AuthResult& result) const;
    void TellCredentialsWanted() const;

    ProfileStore& profile_;
    UserPrompt& prompt_;
    const LoginRule rule_;
    StatusLine status_;
    const std::string statusIndent_;
    std::function<void(CLineSocket&)> setup_;
    CompressionChoice* compression_ = nullptr;
    KeyringPasswords* keyring_ = nullptr;
    std::unique_ptr<KeyringPasswords> ownKeyring_;  // when none was set
    std::unique_ptr<CLineSocket> socket_;
    std::string host_;
    bool authenticated_ = false;  // an exchange on this connection was accepted
    bool loginFailed_ = false;
};

}  // namespace qm
