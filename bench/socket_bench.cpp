// Line socket throughput: reads a long multi-line reply from a loopback server through
// CLineSocket::ReadLine (both forms) and through a raw recv loop on the same data, then measures
// the reply rate against a server that writes each reply's status line and body separately.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <thread>

#include "net/Socket.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr size_t kDataBytes = 200u * 1000 * 1000;
constexpr int kRounds = 3;
const char kGreeting[] = "200 bench server ready\r\n";

double Seconds(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

struct Payload {
    std::string bytes;  // the reply body: lines then ".\r\n"
    size_t lines = 0;   // including the final ".\r\n"
};

// Random printable lines of 60 to 130 bytes each, CR LF included.
Payload MakePayload() {
    Payload p;
    p.bytes.reserve(kDataBytes + 256);
    std::uint64_t seed = 0x9e3779b97f4a7c15ull;
    auto next = [&seed] {
        seed ^= seed << 13;
        seed ^= seed >> 7;
        seed ^= seed << 17;
        return seed;
    };
    while (p.bytes.size() < kDataBytes) {
        size_t length = 60 + next() % 71;
        for (size_t i = 0; i + 2 < length; ++i) p.bytes += static_cast<char>(' ' + next() % 95);
        p.bytes += "\r\n";
        ++p.lines;
    }
    p.bytes += ".\r\n";
    ++p.lines;
    return p;
}

bool SendAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        ssize_t n = send(fd, data, size, MSG_NOSIGNAL);
        if (n <= 0) return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

// Reads one line byte by byte (a command, or the greeting); false when the peer has gone.
bool ReadCommand(int fd) {
    char c;
    for (;;) {
        ssize_t n = recv(fd, &c, 1, 0);
        if (n <= 0) return false;
        if (c == '\n') return true;
    }
}

// A loopback server that serves `connections` clients one after another with `session`.
class BenchServer {
public:
    BenchServer(int connections, std::function<void(int)> session) {
        listen_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof a;
        if (bind(listen_, reinterpret_cast<sockaddr*>(&a), length) != 0 || listen(listen_, 4) != 0)
            std::perror("bench server");
        getsockname(listen_, reinterpret_cast<sockaddr*>(&a), &length);
        port_ = ntohs(a.sin_port);
        thread_ = std::thread([this, connections, session] {
            for (int i = 0; i < connections; ++i) {
                int fd = accept(listen_, nullptr, nullptr);
                if (fd < 0) break;
                if (SendAll(fd, kGreeting, sizeof kGreeting - 1)) session(fd);
                close(fd);
            }
        });
    }
    ~BenchServer() {
        thread_.join();
        close(listen_);
    }
    int port() const { return port_; }

private:
    int listen_ = -1;
    int port_ = 0;
    std::thread thread_;
};

int RawConnect(int port) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) std::perror("connect");
    return fd;
}

// Receives until the stream ends with "\r\n.\r\n"; returns the bytes received.
size_t RawReceiveReply(int fd, char* buffer, size_t size) {
    size_t total = 0;
    char tail[5] = {};
    for (;;) {
        ssize_t n = recv(fd, buffer, size, 0);
        if (n <= 0) return total;
        total += static_cast<size_t>(n);
        size_t keep = std::min<size_t>(5, static_cast<size_t>(n));
        std::memmove(tail, tail + keep, 5 - keep);
        std::memcpy(tail + 5 - keep, buffer + n - keep, keep);
        if (total >= 5 && std::memcmp(tail, "\r\n.\r\n", 5) == 0) return total;
    }
}

struct Figures {
    double seconds = 0;
    size_t bytes = 0;
    size_t lines = 0;
};

Figures ReadRaw(int port, size_t lines) {
    int fd = RawConnect(port);
    std::string buffer(64 * 1024, '\0');
    ReadCommand(fd);  // the greeting line
    Clock::time_point start = Clock::now();
    SendAll(fd, "BIG\r\n", 5);
    Figures f;
    f.bytes = RawReceiveReply(fd, buffer.data(), buffer.size());
    f.seconds = Seconds(start);
    f.lines = lines;
    close(fd);
    return f;
}

Figures ReadWithSocket(int port, bool intoString) {
    qm::CLineSocket socket;
    if (socket.ConnectToServer("127.0.0.1", port) != 1) std::fprintf(stderr, "connect failed\n");
    Clock::time_point start = Clock::now();
    socket.SendLine("BIG\r\n");
    Figures f;
    std::string line;
    for (;;) {
        if (intoString) {
            if (!socket.ReadLine(line)) break;
        } else {
            line = socket.ReadLine();
            if (line.empty()) break;
        }
        f.bytes += line.size();
        ++f.lines;
        if (line == ".\r\n") break;
    }
    f.seconds = Seconds(start);
    return f;
}

void Print(const char* name, const Figures& f, double rawMBps) {
    double mbps = f.bytes / 1e6 / f.seconds;
    std::printf("  %-24s %7.3f s  %9.0f lines/s  %8.1f MB/s", name, f.seconds, f.lines / f.seconds,
                mbps);
    if (rawMBps > 0) std::printf("  ratio to raw %.2f", mbps / rawMBps);
    std::printf("\n");
}

Figures Best(const Figures& a, const Figures& b) {
    return a.seconds <= b.seconds ? a : b;
}

void BulkReply() {
    Payload payload = MakePayload();
    std::printf("bulk reply: %.1f MB in %zu lines of 60-130 bytes, best of %d rounds\n",
                payload.bytes.size() / 1e6, payload.lines, kRounds);
    BenchServer server(3 * kRounds, [&payload](int fd) {
        if (ReadCommand(fd)) SendAll(fd, payload.bytes.data(), payload.bytes.size());
        ReadCommand(fd);  // wait for the client to close
    });
    Figures raw{1e9}, intoString{1e9}, returned{1e9};
    for (int round = 0; round < kRounds; ++round) {
        raw = Best(raw, ReadRaw(server.port(), payload.lines));
        intoString = Best(intoString, ReadWithSocket(server.port(), true));
        returned = Best(returned, ReadWithSocket(server.port(), false));
    }
    if (intoString.bytes != payload.bytes.size() || returned.bytes != payload.bytes.size())
        std::printf("  MISMATCH: socket delivered %zu / %zu of %zu bytes\n", intoString.bytes,
                    returned.bytes, payload.bytes.size());
    double rawMBps = raw.bytes / 1e6 / raw.seconds;
    Print("raw recv 64 KiB", raw, 0);
    Print("ReadLine(std::string&)", intoString, rawMBps);
    Print("ReadLine()", returned, rawMBps);
}

// Each command is answered like INN does: the status line in one write, the body in another,
// with Nagle's algorithm left on at the server.
void TwoWriteSession(int fd) {
    std::string body;
    for (int i = 0; i < 20; ++i) body += std::string(70, 'b') + "\r\n";
    body += ".\r\n";
    const std::string status = "222 0 <bench@example> body\r\n";
    while (ReadCommand(fd)) {
        if (!SendAll(fd, status.data(), status.size()) || !SendAll(fd, body.data(), body.size()))
            return;
    }
}

double RepliesWithSocket(int port, int replies) {
    qm::CLineSocket socket;
    socket.ConnectToServer("127.0.0.1", port);
    Clock::time_point start = Clock::now();
    std::string line;
    for (int i = 0; i < replies; ++i) {
        socket.SendLine("BODY " + std::to_string(i) + "\r\n");
        while (socket.ReadLine(line) && line != ".\r\n") {
        }
    }
    return replies / Seconds(start);
}

// The same conversation on a plain blocking socket without quick acknowledgements.
double RepliesPlain(int port, int replies) {
    int fd = RawConnect(port);
    std::string buffer(64 * 1024, '\0');
    ReadCommand(fd);  // the greeting line
    Clock::time_point start = Clock::now();
    for (int i = 0; i < replies; ++i) {
        std::string command = "BODY " + std::to_string(i) + "\r\n";
        SendAll(fd, command.data(), command.size());
        RawReceiveReply(fd, buffer.data(), buffer.size());
    }
    double rate = replies / Seconds(start);
    close(fd);
    return rate;
}

void TwoWriteReplies() {
    constexpr int kReplies = 5000;
    constexpr int kPlainReplies = 100;
    BenchServer server(2, TwoWriteSession);
    std::printf("two-write replies (status line, then body; Nagle on at the server)\n");
    std::printf("  CLineSocket:                     %8.0f replies/s (%d replies)\n",
                RepliesWithSocket(server.port(), kReplies), kReplies);
    std::printf("  plain socket, no quick ack:      %8.0f replies/s (%d replies)\n",
                RepliesPlain(server.port(), kPlainReplies), kPlainReplies);
}

}  // namespace

int main() {
    BulkReply();
    TwoWriteReplies();
    return 0;
}
