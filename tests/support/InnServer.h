#pragma once
// InnServer: a private instance of the real INN news server on 127.0.0.1, for integration tests
// and benchmarks. Each instance has its own state directory under /tmp and its own free port, and
// is always stopped (with everything it started) when the object goes away.

#include <chrono>
#include <string>
#include <vector>

namespace qm::test {

class RawNntpClient;

class InnServer {
public:
    InnServer() = default;
    ~InnServer();
    InnServer(const InnServer&) = delete;
    InnServer& operator=(const InnServer&) = delete;

    // True when INN is installed and this process may run it (it has to be root).
    static bool Available();
    // True under continuous integration (CI=true), where a missing INN is a failure, not a skip.
    static bool RequiredByEnvironment();

    // Starts the server and waits until it greets readers with 200. False (see error()) when it
    // could not be started.
    bool Start();
    // Stops the server and any reader daemons, and removes the state directory.
    void Stop();
    // Stops every daemon (readers lose their connections), waits for down, and starts the
    // server again on the same port over the same news.
    bool Restart(std::chrono::milliseconds down);

    bool running() const { return port_ != 0; }
    int port() const { return port_; }
    const std::string& stateDir() const { return stateDir_; }
    const std::string& error() const { return error_; }

    // Creates a newsgroup that allows posting.
    bool CreateGroup(const std::string& name);
    // Posts one complete article (headers, blank line, body; "\n" or "\r\n" line ends); the
    // dot-stuffing and the terminating line are added here. True when the server answers 240.
    bool Post(const std::string& article);
    // Posts several articles over one connection (much faster for many); stops at the first one
    // refused and returns false then.
    bool PostAll(const std::vector<std::string>& articles);
    // Polls GROUP until the group holds at least count articles. False after the timeout.
    bool WaitForArticles(const std::string& group, long count,
                         std::chrono::milliseconds timeout = std::chrono::seconds(10));

    // Starts a second, standalone reader daemon on its own port over the same news that requires
    // AUTHINFO USER/PASS with the given credentials before any group access. Returns its port,
    // 0 on failure.
    int StartAuthReader(const std::string& user, const std::string& password);

    // TLS. Certificates are made with the openssl command under the state directory.
    struct Certificate {
        std::string cert, key;  // PEM files
    };
    // The test CA's certificate: the file to trust (SSL_CERT_FILE) for certificates it signed.
    std::string TestCaFile();
    // A new certificate and key for the subjectAltName list altNames ("DNS:localhost,IP:..."),
    // signed by the test CA or self-signed. Empty paths (see error()) on failure.
    Certificate MakeCertificate(const std::string& altNames, bool selfSigned);
    // A reader daemon on its own port that speaks TLS from the first byte with this
    // certificate. Returns its port, 0 on failure.
    int StartTlsReader(const Certificate& certificate);
    // The main reader port offers STARTTLS with this certificate from the next connection on.
    bool OfferStartTls(const Certificate& certificate);
    // Stops a reader daemon started above.
    bool StopReader(int port);

    // The article as it goes over the wire: CR LF line ends, dot-stuffed, ended by ".\r\n".
    static std::string WireFormat(const std::string& article);

private:
    bool PostOn(RawNntpClient& client, const std::string& article);
    bool RunScript(const std::vector<std::string>& args);
    bool WaitForGreeting(int port, std::chrono::milliseconds timeout);
    bool StartOnce();
    bool Openssl(const std::vector<std::string>& args);

    std::string stateDir_;
    int port_ = 0;
    std::string error_;
    int certificates_ = 0;
};

}  // namespace qm::test
