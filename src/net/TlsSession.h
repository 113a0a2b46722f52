#pragma once
// TlsSession: one TLS client session over a connected, non-blocking socket (OpenSSL 3). It never
// waits: every step says what the socket must become ready for, and the line socket does the
// waiting with its own timeouts and stop check.

#include <cstddef>
#include <memory>
#include <string>

namespace qm {

struct TlsOptions {
    // The server's name as the user gave it: sent for SNI and checked against the certificate
    // (an IP literal is checked against the certificate's addresses).
    std::string host;
    // When not empty, the connection is accepted exactly when the peer certificate has this
    // SHA-256 fingerprint, whether or not it verifies; any other certificate is refused.
    std::string acceptedFingerprint;
};

struct TlsResult {
    bool handshakeDone = false;  // a TLS session was established (accepted or not)
    bool verified = false;       // the certificate chain and the name verified
    bool accepted = false;       // the connection goes on
    std::string reason;          // why it did not verify: "self-signed", "expired", ...
    std::string fingerprint;     // SHA-256 of the peer certificate, "AB:CD:..." upper case
    std::string error;           // why there is no session (handshake failed, timed out)
};

class TlsSession {
public:
    enum class Io { Done, WantRead, WantWrite, Closed, Error };

    // A session over fd (not owned) with the system's trusted certificates (SSL_CERT_FILE and
    // SSL_CERT_DIR are honoured), TLS 1.2 or newer. Null, with error set, when OpenSSL cannot
    // make one.
    static std::unique_ptr<TlsSession> Create(int fd, const TlsOptions& options,
                                              std::string& error);
    ~TlsSession();
    TlsSession(const TlsSession&) = delete;
    TlsSession& operator=(const TlsSession&) = delete;

    Io Handshake();
    // After a finished handshake: what the peer showed, and whether the options accept it.
    TlsResult Verdict(const TlsOptions& options) const;

    Io Read(char* buffer, size_t size, size_t& got);
    Io Write(const char* data, size_t size, size_t& written);
    // OpenSSL's account of the last failure, for the status text.
    const std::string& ErrorText() const { return errorText_; }

    // "self-signed", "expired", "host name mismatch", "unknown issuer", or OpenSSL's own words.
    static std::string VerifyReason(long verifyResult);
    static bool SameFingerprint(const std::string& a, const std::string& b);

private:
    struct Handles;
    explicit TlsSession(std::unique_ptr<Handles> handles);
    Io Outcome(int ret);

    std::unique_ptr<Handles> handles_;
    std::string errorText_;
};

}  // namespace qm
