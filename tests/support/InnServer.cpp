#include "support/InnServer.h"

#include "support/LoopbackPort.h"
#include "support/RawNntpClient.h"
#include "support/Subprocess.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <thread>

#ifndef QM_SOURCE_DIR
#error "QM_SOURCE_DIR must name the source tree (it holds scripts/inn-server.sh)"
#endif

namespace qm::test {
namespace {

constexpr const char* kInnd = "/usr/lib/news/bin/innd";
constexpr const char* kScript = QM_SOURCE_DIR "/scripts/inn-server.sh";
constexpr int kStartAttempts = 3;  // a free port can be taken between probing and binding

std::string MakeStateDir() {
    char pattern[] = "/tmp/qm-inn-XXXXXX";
    return ::mkdtemp(pattern) ? std::string(pattern) : std::string();
}

}  // namespace

InnServer::~InnServer() {
    Stop();
}

bool InnServer::Available() {
    return ::access(kInnd, X_OK) == 0 && ::geteuid() == 0;
}

bool InnServer::RequiredByEnvironment() {
    const char* ci = std::getenv("CI");
    return ci != nullptr && std::string(ci) == "true";
}

bool InnServer::Start() {
    Stop();
    if (!Available()) {
        error_ = "INN is not installed (or not running as root); run scripts/install-deps.sh";
        return false;
    }
    for (int attempt = 0; attempt < kStartAttempts; ++attempt) {
        if (StartOnce()) return true;
    }
    return false;
}

bool InnServer::StartOnce() {
    int port = UnusedLoopbackPort();
    stateDir_ = MakeStateDir();
    if (port == 0 || stateDir_.empty()) {
        error_ = "cannot find a free port or make a state directory";
        return false;
    }
    port_ = port;  // from here on Stop() cleans up, whatever happens next
    // Passing our pid lets the script clean up should this process die without Stop().
    if (RunScript({"start", stateDir_, std::to_string(port), std::to_string(::getpid())}) &&
        WaitForGreeting(port, std::chrono::seconds(10))) {
        return true;
    }
    std::string reason = error_;
    Stop();
    error_ = reason;
    return false;
}

void InnServer::Stop() {
    if (stateDir_.empty()) return;
    if (port_ != 0) RunScript({"stop", stateDir_});
    std::error_code ignored;
    std::filesystem::remove_all(stateDir_, ignored);
    stateDir_.clear();
    port_ = 0;
}

bool InnServer::Restart(std::chrono::milliseconds down) {
    if (!running() || !RunScript({"stop", stateDir_})) return false;
    std::this_thread::sleep_for(down);
    return RunScript({"resume", stateDir_, std::to_string(port_)}) &&
           WaitForGreeting(port_, std::chrono::seconds(10));
}

bool InnServer::RunScript(const std::vector<std::string>& args) {
    std::vector<std::string> command{"/bin/bash", kScript};
    command.insert(command.end(), args.begin(), args.end());
    ProcessResult result = RunProcess(command);
    if (result.exitCode == 0) return true;
    error_ = "inn-server.sh " + args.front() + " failed (" + std::to_string(result.exitCode) +
             "): " + result.output + result.errors;
    return false;
}

bool InnServer::WaitForGreeting(int port, std::chrono::milliseconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    RawNntpClient client(std::chrono::seconds(2));
    do {
        if (client.Connect(port) && RawNntpClient::Code(client.greeting()) == 200) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    } while (std::chrono::steady_clock::now() < deadline);
    error_ = "no 200 greeting on port " + std::to_string(port) + " (last: \"" + client.greeting() +
             "\")";
    return false;
}

bool InnServer::CreateGroup(const std::string& name) {
    return running() && RunScript({"newgroup", stateDir_, name});
}

std::string InnServer::WireFormat(const std::string& article) {
    std::string wire;
    wire.reserve(article.size() + article.size() / 32 + 8);
    std::istringstream in(article);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty() && line.front() == '.') wire += '.';
        wire += line;
        wire += "\r\n";
    }
    return wire + ".\r\n";
}

bool InnServer::Post(const std::string& article) {
    return PostAll(std::vector<std::string>{article});
}

bool InnServer::PostAll(const std::vector<std::string>& articles) {
    RawNntpClient client;
    if (!running() || !client.Connect(port_)) {
        error_ = "cannot connect to post";
        return false;
    }
    for (const std::string& article : articles) {
        if (!PostOn(client, article)) return false;
    }
    client.Command("QUIT");
    return true;
}

bool InnServer::PostOn(RawNntpClient& client, const std::string& article) {
    std::string status = client.Command("POST");
    if (RawNntpClient::Code(status) != 340) {
        error_ = "POST refused: " + status;
        return false;
    }
    std::string result;
    if (!client.SendRaw(WireFormat(article)) || !client.ReadLine(result) ||
        RawNntpClient::Code(result) != 240) {
        error_ = "article not accepted: " + result;
        return false;
    }
    return true;
}

bool InnServer::WaitForArticles(const std::string& group, long count,
                                std::chrono::milliseconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    std::string status;
    do {
        RawNntpClient client;
        if (running() && client.Connect(port_)) {
            status = client.Command("GROUP " + group);
            long have = -1;
            std::istringstream fields(status.size() > 4 ? status.substr(4) : std::string());
            if (RawNntpClient::Code(status) == 211 && (fields >> have) && have >= count) {
                return true;
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    } while (std::chrono::steady_clock::now() < deadline);
    error_ = "group " + group + " did not reach " + std::to_string(count) + " articles (last: \"" +
             status + "\")";
    return false;
}

int InnServer::StartAuthReader(const std::string& user, const std::string& password) {
    if (!running()) return 0;
    for (int attempt = 0; attempt < kStartAttempts; ++attempt) {
        int port = UnusedLoopbackPort();
        if (port != 0 &&
            RunScript({"start-reader", stateDir_, std::to_string(port), user, password}) &&
            WaitForGreeting(port, std::chrono::seconds(10))) {
            return port;
        }
    }
    return 0;
}

bool InnServer::Openssl(const std::vector<std::string>& args) {
    std::vector<std::string> command{"/usr/bin/openssl"};
    command.insert(command.end(), args.begin(), args.end());
    ProcessResult result = RunProcess(command);
    if (result.exitCode == 0) return true;
    error_ = "openssl " + args.front() + " failed: " + result.errors;
    return false;
}

// Elliptic-curve keys: made in milliseconds, where RSA keys would slow every suite down.
std::string InnServer::TestCaFile() {
    const std::string dir = stateDir_ + "/certs";
    const std::string ca = dir + "/ca.pem";
    if (::access(ca.c_str(), R_OK) == 0) return ca;
    std::filesystem::create_directories(dir);
    if (!Openssl({"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                  "-nodes", "-keyout", dir + "/ca.key", "-out", ca, "-days", "30", "-subj",
                  "/CN=Quarrymoth test CA"})) {
        return {};
    }
    return ca;
}

InnServer::Certificate InnServer::MakeCertificate(const std::string& altNames, bool selfSigned) {
    const std::string ca = TestCaFile();
    if (ca.empty()) return {};
    const std::string stem = stateDir_ + "/certs/server" + std::to_string(++certificates_);
    Certificate made{stem + ".pem", stem + ".key"};
    const std::vector<std::string> key{"-newkey",
                                       "ec",
                                       "-pkeyopt",
                                       "ec_paramgen_curve:prime256v1",
                                       "-nodes",
                                       "-keyout",
                                       made.key,
                                       "-subj",
                                       "/CN=qm-test",
                                       "-addext",
                                       "subjectAltName=" + altNames};
    std::vector<std::string> args{"req"};
    if (selfSigned) {
        args.insert(args.end(), {"-x509", "-days", "30", "-out", made.cert});
        args.insert(args.end(), key.begin(), key.end());
        return Openssl(args) ? made : Certificate{};
    }
    args.insert(args.end(), {"-out", stem + ".csr"});
    args.insert(args.end(), key.begin(), key.end());
    if (!Openssl(args) || !Openssl({"x509", "-req", "-in", stem + ".csr", "-CA", ca, "-CAkey",
                                    stateDir_ + "/certs/ca.key", "-CAcreateserial", "-out",
                                    made.cert, "-days", "30", "-copy_extensions", "copy"})) {
        return {};
    }
    return made;
}

int InnServer::StartTlsReader(const Certificate& certificate) {
    if (!running() || certificate.cert.empty()) return 0;
    for (int attempt = 0; attempt < kStartAttempts; ++attempt) {
        int port = UnusedLoopbackPort();
        if (port != 0 && RunScript({"tls-reader", stateDir_, std::to_string(port), certificate.cert,
                                    certificate.key})) {
            return port;
        }
    }
    return 0;
}

bool InnServer::OfferStartTls(const Certificate& certificate) {
    return running() && !certificate.cert.empty() &&
           RunScript({"starttls", stateDir_, certificate.cert, certificate.key});
}

bool InnServer::StopReader(int port) {
    return running() && RunScript({"stop-reader", stateDir_, std::to_string(port)});
}

}  // namespace qm::test
