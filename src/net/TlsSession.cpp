#include "net/TlsSession.h"

#include <arpa/inet.h>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>
#include <sys/socket.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstring>

namespace qm {
namespace {

bool Retryable(int error) {
    return error == EAGAIN || error == EWOULDBLOCK || error == EINTR;
}

int FdOf(BIO* bio) {
    return *static_cast<const int*>(BIO_get_data(bio));
}

// The socket BIO of OpenSSL writes with write(), which raises SIGPIPE on a connection the server
// has closed; a desktop program must not die of that. This one sends with MSG_NOSIGNAL.
int BioWrite(BIO* bio, const char* data, int size) {
    BIO_clear_retry_flags(bio);
    ssize_t n = send(FdOf(bio), data, static_cast<size_t>(size), MSG_NOSIGNAL);
    if (n < 0 && Retryable(errno)) BIO_set_retry_write(bio);
    return static_cast<int>(n);
}

int BioRead(BIO* bio, char* data, int size) {
    BIO_clear_retry_flags(bio);
    ssize_t n = recv(FdOf(bio), data, static_cast<size_t>(size), 0);
    if (n < 0 && Retryable(errno)) BIO_set_retry_read(bio);
    return static_cast<int>(n);
}

int BioPuts(BIO* bio, const char* text) {
    return BioWrite(bio, text, static_cast<int>(std::min<size_t>(strlen(text), INT_MAX)));
}

long BioControl(BIO* /*bio*/, int command, long /*number*/, void* /*pointer*/) {
    return command == BIO_CTRL_FLUSH ? 1 : 0;
}

int BioCreate(BIO* bio) {
    BIO_set_init(bio, 1);
    return 1;
}

const BIO_METHOD* SocketMethod() {
    static BIO_METHOD* method = [] {
        BIO_METHOD* m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "qm socket");
        if (m) {
            BIO_meth_set_write(m, BioWrite);
            BIO_meth_set_read(m, BioRead);
            BIO_meth_set_puts(m, BioPuts);
            BIO_meth_set_ctrl(m, BioControl);
            BIO_meth_set_create(m, BioCreate);
        }
        return m;
    }();
    return method;
}

std::string TakeOpenSslErrors() {
    std::string text;
    while (unsigned long code = ERR_get_error()) {
        char buffer[256];
        ERR_error_string_n(code, buffer, sizeof buffer);
        if (!text.empty()) text += "; ";
        text += buffer;
    }
    return text;
}

bool IsAddressLiteral(const std::string& host) {
    unsigned char address[16];
    return inet_pton(AF_INET, host.c_str(), address) == 1 ||
           inet_pton(AF_INET6, host.c_str(), address) == 1;
}

std::string BareHost(const std::string& host) {
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
        return host.substr(1, host.size() - 2);
    return host;
}

std::string Fingerprint(X509* certificate) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (X509_digest(certificate, EVP_sha256(), digest, &length) != 1) return {};
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string text;
    for (unsigned int i = 0; i < length; ++i) {
        if (i > 0) text += ':';
        text += kHex[digest[i] >> 4];
        text += kHex[digest[i] & 15];
    }
    return text;
}

}  // namespace

struct TlsSession::Handles {
    SSL_CTX* context = nullptr;
    SSL* ssl = nullptr;
    int fd = -1;  // the BIO's socket: it lives as long as the BIO does
    ~Handles() {
        SSL_free(ssl);  // frees the BIO with it
        SSL_CTX_free(context);
    }
};

TlsSession::TlsSession(std::unique_ptr<Handles> handles) : handles_(std::move(handles)) {}

TlsSession::~TlsSession() = default;

std::unique_ptr<TlsSession> TlsSession::Create(int fd, const TlsOptions& options,
                                               std::string& error) {
    ERR_clear_error();
    auto handles = std::make_unique<Handles>();
    handles->context = SSL_CTX_new(TLS_client_method());
    const BIO_METHOD* method = SocketMethod();
    if (!handles->context || !method ||
        SSL_CTX_set_min_proto_version(handles->context, TLS1_2_VERSION) != 1 ||
        SSL_CTX_set_default_verify_paths(handles->context) != 1) {
        error = "TLS setup failed: " + TakeOpenSslErrors();
        return nullptr;
    }
    // The verdict is taken after the handshake, so that an untrusted certificate can still be
    // shown to the user with its fingerprint; nothing is sent before it is accepted.
    SSL_CTX_set_verify(handles->context, SSL_VERIFY_NONE, nullptr);
    SSL_CTX_set_mode(handles->context, SSL_MODE_ENABLE_PARTIAL_WRITE);
    // A server that hangs up without a closing alert ends the connection as a plain one does;
    // replies carry their own end marks, so a cut-off reply still shows as one.
    SSL_CTX_set_options(handles->context, SSL_OP_IGNORE_UNEXPECTED_EOF);
    handles->ssl = SSL_new(handles->context);
    BIO* bio = handles->ssl ? BIO_new(method) : nullptr;
    if (!bio) {
        error = "TLS setup failed: " + TakeOpenSslErrors();
        return nullptr;
    }
    handles->fd = fd;
    BIO_set_data(bio, &handles->fd);
    SSL_set_bio(handles->ssl, bio, bio);

    const std::string host = BareHost(options.host);
    bool named = false;
    if (IsAddressLiteral(host)) {
        named = X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(handles->ssl), host.c_str()) == 1;
    } else {
        named = SSL_set_tlsext_host_name(handles->ssl, host.c_str()) == 1 &&
                SSL_set1_host(handles->ssl, host.c_str()) == 1;
    }
    if (!named) {
        error = "TLS setup failed: bad host name " + host;
        return nullptr;
    }
    SSL_set_connect_state(handles->ssl);
    return std::unique_ptr<TlsSession>(new TlsSession(std::move(handles)));
}

TlsSession::Io TlsSession::Outcome(int ret) {
    int error = SSL_get_error(handles_->ssl, ret);
    switch (error) {
        case SSL_ERROR_WANT_READ:
            return Io::WantRead;
        case SSL_ERROR_WANT_WRITE:
            return Io::WantWrite;
        case SSL_ERROR_ZERO_RETURN:
            return Io::Closed;
        case SSL_ERROR_SYSCALL:
            if (errno == EINTR) return Io::WantRead;
            errorText_ = ret == 0 || errno == 0 ? "connection closed" : strerror(errno);
            ERR_clear_error();
            return ret == 0 || errno == 0 ? Io::Closed : Io::Error;
        default:
            errorText_ = TakeOpenSslErrors();
            if (errorText_.empty()) errorText_ = "TLS error " + std::to_string(error);
            return Io::Error;
    }
}

TlsSession::Io TlsSession::Handshake() {
    ERR_clear_error();
    errno = 0;
    int ret = SSL_do_handshake(handles_->ssl);
    return ret == 1 ? Io::Done : Outcome(ret);
}

TlsResult TlsSession::Verdict(const TlsOptions& options) const {
    TlsResult result;
    result.handshakeDone = true;
    X509* certificate = SSL_get0_peer_certificate(handles_->ssl);
    if (!certificate) {
        result.reason = "no certificate";
        return result;
    }
    result.fingerprint = Fingerprint(certificate);
    long verify = SSL_get_verify_result(handles_->ssl);
    result.verified = verify == X509_V_OK;
    if (!result.verified) result.reason = VerifyReason(verify);
    if (!options.acceptedFingerprint.empty()) {
        result.accepted = SameFingerprint(result.fingerprint, options.acceptedFingerprint);
    } else {
        result.accepted = result.verified;
    }
    return result;
}

TlsSession::Io TlsSession::Read(char* buffer, size_t size, size_t& got) {
    got = 0;
    ERR_clear_error();
    errno = 0;
    int ret = SSL_read_ex(handles_->ssl, buffer, size, &got);
    return ret == 1 ? Io::Done : Outcome(ret);
}

TlsSession::Io TlsSession::Write(const char* data, size_t size, size_t& written) {
    written = 0;
    ERR_clear_error();
    errno = 0;
    int ret = SSL_write_ex(handles_->ssl, data, size, &written);
    return ret == 1 ? Io::Done : Outcome(ret);
}

std::string TlsSession::VerifyReason(long verifyResult) {
    switch (verifyResult) {
        case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
        case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
            return "self-signed";
        case X509_V_ERR_CERT_HAS_EXPIRED:
            return "expired";
        case X509_V_ERR_CERT_NOT_YET_VALID:
            return "not yet valid";
        case X509_V_ERR_HOSTNAME_MISMATCH:
        case X509_V_ERR_IP_ADDRESS_MISMATCH:
            return "host name mismatch";
        case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
        case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
        case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
            return "unknown issuer";
        case X509_V_ERR_CERT_REVOKED:
            return "revoked";
        default:
            return X509_verify_cert_error_string(verifyResult);
    }
}

// Fingerprints are compared as the digits they stand for: a stored value may differ in case.
bool TlsSession::SameFingerprint(const std::string& a, const std::string& b) {
    auto digits = [](const std::string& text) {
        std::string out;
        for (char c : text) {
            if (std::isxdigit(static_cast<unsigned char>(c)))
                out += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            else if (c != ':')
                return std::string();
        }
        return out;
    };
    std::string x = digits(a);
    return x.size() == 64 && x == digits(b);
}

}  // namespace qm
