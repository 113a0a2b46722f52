#include "session/NewsConnection.h"

#include "net/Nntp.h"
#include "settings/SettingsKeys.h"

namespace qm {
namespace {

constexpr int kPlainPort = 119;
constexpr int kTlsPort = 563;

std::string TrustQuestion(const std::string& host, const std::string& trusted,
                          const TlsResult& result) {
    std::string question;
    if (trusted.empty()) {
        question = "The certificate of " + host + " is not trusted (" + result.reason + ").";
    } else {
        question = "The certificate of " + host + " has changed since you trusted it" +
                   (result.verified ? "." : " (" + result.reason + ").") +
                   "\n\nTrusted SHA-256 fingerprint:\n" + trusted;
    }
    return question + "\n\nSHA-256 fingerprint:\n" + result.fingerprint +
           "\n\nTrust this certificate for " + host + " from now on?";
}

// Up to the point where TLS is running (or, plain, where the greeting has been read).
NewsConnectOutcome Open(CLineSocket& socket, TlsMode mode, const std::string& host, int port,
                        const StatusLine& status) {
    if (mode == TlsMode::None) {
        return socket.ConnectToServer(host, port) == 1 ? NewsConnectOutcome::Connected
                                                       : NewsConnectOutcome::NoConnection;
    }
    if (socket.Connect(host, port) != 1) return NewsConnectOutcome::NoConnection;
    if (mode == TlsMode::StartTls) {
        std::string reply;
        if (!socket.ReadGreeting()) return NewsConnectOutcome::NoConnection;
        socket.SendLine("STARTTLS\r\n");
        if (!socket.ReadLine(reply)) return NewsConnectOutcome::NoConnection;
        if (ReplyCode(reply) != 382) {
            // The login would follow in the clear: the conversation ends here instead.
            socket.Disconnect();
            status("  TLS: " + host + " does not offer STARTTLS");
            return NewsConnectOutcome::TlsRefused;
        }
    }
    return NewsConnectOutcome::Connected;
}

}  // namespace

TlsMode ConfiguredTlsMode(const ProfileStore& profile, const std::string& host) {
    long value = kUseTLS.Read(profile, host);
    if (value == 1) return TlsMode::Tls;
    if (value == 2) return TlsMode::StartTls;
    return TlsMode::None;
}

int NewsServerPort(TlsMode mode, int configuredPort) {
    return mode == TlsMode::Tls && configuredPort == kPlainPort ? kTlsPort : configuredPort;
}

NewsConnectOutcome ConnectToNewsServer(CLineSocket& socket, ProfileStore& profile,
                                       const std::string& host, int configuredPort,
                                       UserPrompt& prompt, const StatusLine& status) {
    const TlsMode mode = ConfiguredTlsMode(profile, host);
    const int port = NewsServerPort(mode, configuredPort);
    TlsOptions options{.host = host, .acceptedFingerprint = kTLSFingerprint.Read(profile, host)};
    bool asked = false;
    for (;;) {
        NewsConnectOutcome opened = Open(socket, mode, host, port, status);
        if (opened != NewsConnectOutcome::Connected || mode == TlsMode::None) return opened;

        TlsResult result = socket.StartTls(options);
        if (result.accepted) break;
        if (!result.handshakeDone) {
            if (socket.AbortedByStop()) return NewsConnectOutcome::NoConnection;
            status("  TLS: handshake with " + host + " failed (" + result.error + ")");
            return NewsConnectOutcome::TlsRefused;
        }
        const bool changed = !options.acceptedFingerprint.empty();
        status("  TLS: certificate for " + host + " not trusted (" +
               (changed ? std::string("changed") : result.reason) + ")");
        // One question per connection: a server that shows yet another certificate right after
        // the user trusted one is not asked about in a loop.
        if (asked || !prompt.AskYesNo(TrustQuestion(host, options.acceptedFingerprint, result))) {
            return NewsConnectOutcome::TlsRefused;
        }
        asked = true;
        kTLSFingerprint.Write(profile, host, result.fingerprint);
        profile.Flush();
        options.acceptedFingerprint = result.fingerprint;
    }
    if (mode == TlsMode::Tls && !socket.ReadGreeting()) return NewsConnectOutcome::NoConnection;
    return NewsConnectOutcome::Connected;
}

}  // namespace qm
