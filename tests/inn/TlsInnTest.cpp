// Encrypted and compressed connections to the real INN server: its reader daemon speaking TLS
// from the first byte and its STARTTLS, with certificates made here by a test CA or self-signed;
// what is trusted, what the user is asked, what is stored, the line socket's limits over TLS,
// and COMPRESS DEFLATE over plain and TLS connections.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "groups/GroupListWorker.h"
#include "net/Nntp.h"
#include "net/Socket.h"
#include "session/NewsSession.h"
#include "settings/ProfileStore.h"
#include "settings/SettingsKeys.h"
#include "support/EngineHarness.h"
#include "support/InnServerSuite.h"
#include "support/NewsModel.h"
#include "support/RealEncoders.h"
#include "support/Subprocess.h"
#include "support/TempDir.h"
#include "util/TextFiles.h"

namespace qm::test {
namespace {

using namespace std::chrono_literals;
constexpr const char* kHost = EngineHarness::kHost;

// The fingerprint as the openssl command prints it, to hold ours against.
std::string OpensslFingerprint(const std::string& certFile) {
    ProcessResult r = RunProcess(
        {"/usr/bin/openssl", "x509", "-noout", "-fingerprint", "-sha256", "-in", certFile});
    const std::string prefix = "sha256 Fingerprint=";
    if (r.exitCode != 0 || r.output.find(prefix) != 0) return "openssl failed: " + r.errors;
    return std::string(WithoutLineEnd(r.output.substr(prefix.size())));
}

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// Certificates are checked against the test CA while a test runs, and against the system's
// store otherwise.
class TrustTestCa {
public:
    explicit TrustTestCa(const std::string& file) { ::setenv("SSL_CERT_FILE", file.c_str(), 1); }
    ~TrustTestCa() { ::unsetenv("SSL_CERT_FILE"); }
    TrustTestCa(const TrustTestCa&) = delete;
    TrustTestCa& operator=(const TrustTestCa&) = delete;
};

class TlsInn : public InnServerSuite {
protected:
    void SetUp() override {
        InnServerSuite::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        if (group_.empty()) {
            group_ = "alt.binaries.qm.tls";
            ASSERT_TRUE(server().CreateGroup(group_)) << server().error();
            std::string error;
            picture_ = RandomBytes(20000, 12);
            std::string body = GnuUuencode(picture_, "secret.jpg", error);
            ASSERT_FALSE(body.empty()) << error;
            ASSERT_TRUE(server().Post("From: p@example.com\nNewsgroups: " + group_ +
                                      "\nSubject: secret.jpg\n\n" + body))
                << server().error();
            ASSERT_TRUE(server().WaitForArticles(group_, 1)) << server().error();
        }
    }

    static void TearDownTestSuite() {
        group_.clear();
        InnServerSuite::TearDownTestSuite();
    }

    // A fresh run against the port with the given UseTLS; true when the picture arrived whole.
    static bool Harvest(EngineHarness& h, const std::string& useTls) {
        h.SetGroups({group_});
        h.SetServer(kUseTLS.Key(), useTls);
        h.Run();
        return h.SavedFiles() == std::vector<std::string>{"secret.jpg"} &&
               TempDir::ReadFile(h.DownloadDir() + "secret.jpg") == picture_;
    }

    static std::string group_;
    static std::string picture_;
};

std::string TlsInn::group_;
std::string TlsInn::picture_;

TEST_F(TlsInn, CertificateOfTheTrustedCaHarvestsOverTlsAndStartTls) {
    InnServer::Certificate cert = server().MakeCertificate("DNS:localhost,IP:127.0.0.1", false);
    ASSERT_FALSE(cert.cert.empty()) << server().error();
    const int tlsPort = server().StartTlsReader(cert);
    ASSERT_NE(tlsPort, 0) << server().error();
    ASSERT_TRUE(server().OfferStartTls(cert)) << server().error();
    TrustTestCa trust(server().TestCaFile());

    {
        EngineHarness h(tlsPort);
        EXPECT_TRUE(Harvest(h, "1"));
        EXPECT_EQ(h.FinalStatus(), "Operation complete");
        EXPECT_TRUE(h.status.Saw("status", "Connected to 127.0.0.1 (TLS)"));
        EXPECT_TRUE(h.prompt.Questions().empty());
        EXPECT_EQ(h.profile.GetString(kHost, kTLSFingerprint.Key(), "none"), "none");
    }
    {
        EngineHarness h(server().port());
        EXPECT_TRUE(Harvest(h, "2"));
        EXPECT_EQ(h.FinalStatus(), "Operation complete");
        EXPECT_TRUE(h.prompt.Questions().empty());
    }
    EXPECT_TRUE(server().StopReader(tlsPort)) << server().error();
}

TEST_F(TlsInn, CertificateForAnotherNameIsRefused) {
    InnServer::Certificate cert = server().MakeCertificate("DNS:news.example.org", false);
    ASSERT_FALSE(cert.cert.empty()) << server().error();
    const int port = server().StartTlsReader(cert);
    ASSERT_NE(port, 0) << server().error();
    TrustTestCa trust(server().TestCaFile());

    EngineHarness h(port);
    EXPECT_FALSE(Harvest(h, "1"));
    EXPECT_EQ(h.FinalStatus(), "  TLS: certificate for 127.0.0.1 not trusted (host name mismatch)");
    ASSERT_EQ(h.prompt.Questions().size(), 1u);
    EXPECT_TRUE(Contains(h.prompt.Questions()[0], OpensslFingerprint(cert.cert)));
    EXPECT_TRUE(h.SavedFiles().empty());
    EXPECT_TRUE(server().StopReader(port)) << server().error();
}

// A self-signed certificate: refused and asked about; a Yes trusts exactly that certificate
// from then on, also without asking; a new certificate is refused and asked about again.
TEST_F(TlsInn, SelfSignedCertificateIsTrustedOnlyByTheUsersYesAndOnlyThatOne) {
    InnServer::Certificate first = server().MakeCertificate("DNS:localhost,IP:127.0.0.1", true);
    InnServer::Certificate second = server().MakeCertificate("DNS:localhost,IP:127.0.0.1", true);
    ASSERT_FALSE(first.cert.empty() || second.cert.empty()) << server().error();
    const std::string firstPrint = OpensslFingerprint(first.cert);
    const int port = server().StartTlsReader(first);
    ASSERT_NE(port, 0) << server().error();
    // What the last run left in its profile file: the next program start would find it there.
    std::string stored;
    auto run = [&](int runPort, bool yes) {
        auto h = std::make_unique<EngineHarness>(runPort);
        if (!stored.empty()) h->SetServer(kTLSFingerprint.Key(), stored);
        h->prompt.yes = yes;
        Harvest(*h, "1");
        stored = ProfileStore(h->profile.Path()).GetString(kHost, kTLSFingerprint.Key(), "");
        return h;
    };

    {
        auto h = run(port, false);
        EXPECT_EQ(h->FinalStatus(), "  TLS: certificate for 127.0.0.1 not trusted (self-signed)");
        ASSERT_EQ(h->prompt.Questions().size(), 1u);
        EXPECT_EQ(h->prompt.Questions()[0],
                  "The certificate of 127.0.0.1 is not trusted (self-signed).\n\nSHA-256 "
                  "fingerprint:\n" +
                      firstPrint + "\n\nTrust this certificate for 127.0.0.1 from now on?");
        EXPECT_TRUE(h->SavedFiles().empty());
        EXPECT_EQ(stored, "");
    }
    {
        auto h = run(port, true);
        EXPECT_EQ(h->prompt.Questions().size(), 1u);
        EXPECT_EQ(h->SavedFiles(), std::vector<std::string>{"secret.jpg"});
        EXPECT_EQ(h->FinalStatus(), "Operation complete");
        EXPECT_EQ(stored, firstPrint);
    }
    {
        auto h = run(port, false);
        EXPECT_TRUE(h->prompt.Questions().empty());
        EXPECT_EQ(h->SavedFiles(), std::vector<std::string>{"secret.jpg"});
    }
    EXPECT_TRUE(server().StopReader(port)) << server().error();
    const int changedPort = server().StartTlsReader(second);
    ASSERT_NE(changedPort, 0) << server().error();
    {
        auto h = run(changedPort, false);
        EXPECT_EQ(h->FinalStatus(), "  TLS: certificate for 127.0.0.1 not trusted (changed)");
        ASSERT_EQ(h->prompt.Questions().size(), 1u);
        const std::string q = h->prompt.Questions()[0];
        EXPECT_TRUE(Contains(q, "has changed since you trusted it (self-signed)")) << q;
        EXPECT_TRUE(Contains(q, OpensslFingerprint(second.cert))) << q;
        EXPECT_TRUE(h->SavedFiles().empty());
        EXPECT_EQ(stored, firstPrint);
    }
    EXPECT_TRUE(server().StopReader(changedPort)) << server().error();
}

// The group list worker reaches the server the same way, here by its name.
TEST_F(TlsInn, GroupListComesOverTlsByHostName) {
    InnServer::Certificate cert = server().MakeCertificate("DNS:localhost", false);
    ASSERT_FALSE(cert.cert.empty()) << server().error();
    const int port = server().StartTlsReader(cert);
    ASSERT_NE(port, 0) << server().error();
    TrustTestCa trust(server().TestCaFile());

    TempDir dir;
    ProfileStore profile(dir / "p.ini");
    profile.WriteString(kMainSection, "NNTPHost", "localhost");
    profile.WriteString(kMainSection, "NNTPPort", std::to_string(port));
    profile.WriteString("localhost", kUseTLS.Key(), "1");
    ScriptedPrompt prompt;
    struct Sink : GroupListSink {
        GroupListWorker* worker = nullptr;
        std::vector<std::string> names, statuses;
        void ListStatus(std::string text) override { statuses.push_back(std::move(text)); }
        void ListCleared() override {}
        void ListGroup(std::string name) override {
            names.push_back(std::move(name));
            worker->Acknowledge();
        }
        void ListSelectFirst() override {}
        void ListDone() override {}
    } sink;
    GroupListWorker worker(profile, prompt, sink);
    sink.worker = &worker;
    ASSERT_TRUE(worker.Start({"qm.tls"}));
    worker.Join();
    EXPECT_EQ(sink.names, std::vector<std::string>{group_});
    ASSERT_FALSE(sink.statuses.empty());
    EXPECT_TRUE(Contains(sink.statuses.back(), "Operation complete")) << sink.statuses.back();
    EXPECT_TRUE(prompt.Questions().empty());
    EXPECT_TRUE(server().StopReader(port)) << server().error();
}

// The idle timeout and a stop end a wait over TLS just as over a plain connection.
TEST_F(TlsInn, IdleTimeoutAndStopHoldOverTls) {
    InnServer::Certificate cert = server().MakeCertificate("IP:127.0.0.1", false);
    ASSERT_FALSE(cert.cert.empty()) << server().error();
    const int port = server().StartTlsReader(cert);
    ASSERT_NE(port, 0) << server().error();
    TrustTestCa trust(server().TestCaFile());

    for (bool stop : {false, true}) {
        SCOPED_TRACE(stop ? "stop" : "idle");
        CLineSocket socket;
        socket.SetTimeouts({.connect = 5000ms, .idle = stop ? 20000ms : 400ms, .stopGrace = 200ms});
        bool stopping = false;
        socket.SetStopCheck([&] { return stopping; });
        ASSERT_EQ(socket.Connect(kHost, port), 1);
        TlsResult result = socket.StartTls({.host = kHost, .acceptedFingerprint = ""});
        ASSERT_TRUE(result.accepted) << result.error << result.reason;
        ASSERT_TRUE(socket.ReadGreeting());
        socket.SendLine("DATE\r\n");
        EXPECT_EQ(socket.ReadLine().substr(0, 4), "111 ");
        stopping = stop;
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(socket.ReadLine(), "");  // the server waits for a command
        const auto took = std::chrono::steady_clock::now() - start;
        EXPECT_EQ(socket.state(), CLineSocket::Failed);
        EXPECT_EQ(socket.AbortedByStop(), stop);
        EXPECT_GE(took, stop ? 200ms : 400ms);
        EXPECT_LT(took, 3s);
    }
    EXPECT_TRUE(server().StopReader(port)) << server().error();
}

// INN lists COMPRESS DEFLATE. A session asks for it over plain and over TLS and reads the group's
// overview through it; a run harvests whether its connection keeps compressing or stalls and is
// made again without (this INN is known to stall some compressed plain sessions).
TEST_F(TlsInn, CompressionOverPlainAndTls) {
    InnServer::Certificate cert = server().MakeCertificate("IP:127.0.0.1", false);
    ASSERT_FALSE(cert.cert.empty()) << server().error();
    const int tlsPort = server().StartTlsReader(cert);
    ASSERT_NE(tlsPort, 0) << server().error();
    TrustTestCa trust(server().TestCaFile());
    const CLineSocket::Timeouts shortIdle{.connect = 5000ms, .idle = 3000ms, .stopGrace = 200ms};

    CLineSocket probe;
    ASSERT_EQ(probe.ConnectToServer(kHost, server().port()), 1);
    probe.SendLine("CAPABILITIES\r\n");
    ASSERT_EQ(ReplyCode(probe.ReadLine()), 101);
    bool listed = false;
    for (std::string line = probe.ReadLine(); !line.empty() && line != ".\r\n";
         line = probe.ReadLine()) {
        listed = listed || ListsCompressDeflate(line);
    }
    ASSERT_TRUE(listed);

    for (const bool tls : {false, true}) {
        SCOPED_TRACE(tls ? "TLS" : "plain");
        const int port = tls ? tlsPort : server().port();
        TempDir dir;
        ProfileStore profile(dir / "p.ini");
        profile.WriteString(kHost, kUseTLS.Key(), tls ? "1" : "0");
        ScriptedPrompt prompt;
        CompressionChoice choice;
        NewsSession session(profile, prompt, LoginRule::Lenient, [](const std::string&) {});
        session.SetCompressionChoice(&choice);
        session.SetSocketSetup([&](CLineSocket& socket) { socket.SetTimeouts(shortIdle); });
        ASSERT_EQ(session.Connect(kHost, port), NewsConnectOutcome::Connected);
        EXPECT_TRUE(session.Compressed());
        EXPECT_EQ(session.UsesTls(), tls);
        std::string reply;
        ASSERT_TRUE(session.SelectGroup(group_, reply));
        EXPECT_EQ(ReplyCode(reply), 211) << reply;

        EngineHarness h(port);
        h.socketTimeouts = shortIdle;
        EXPECT_TRUE(Harvest(h, tls ? "1" : "0"));
        EXPECT_EQ(h.FinalStatus(), "Operation complete");
    }
    EXPECT_TRUE(server().StopReader(tlsPort)) << server().error();
}

}  // namespace
}  // namespace qm::test
