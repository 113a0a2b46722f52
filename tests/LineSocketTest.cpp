#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <memory>

#include "net/Nntp.h"
#include "net/Socket.h"
#include "support/RawDeflate.h"
#include "support/ScriptServer.h"

namespace qm {
namespace {

using namespace std::chrono_literals;
using namespace std::string_literals;
using test::RawDeflate;
using test::Reply;
using test::ScriptServer;
using Clock = std::chrono::steady_clock;

CLineSocket::Timeouts ShortTimeouts() {
    return {.connect = 5000ms, .idle = 5000ms, .stopGrace = 300ms};
}

std::unique_ptr<CLineSocket> ConnectTo(const ScriptServer& server,
                                       CLineSocket::Timeouts timeouts = ShortTimeouts()) {
    auto socket = std::make_unique<CLineSocket>();
    socket->SetTimeouts(timeouts);
    EXPECT_EQ(socket->ConnectToServer("127.0.0.1", server.port()), 1);
    EXPECT_EQ(socket->state(), CLineSocket::Connected);
    return socket;
}

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

TEST(LineSocket, StateBeforeConnecting) {
    EXPECT_EQ(CLineSocket().state(), CLineSocket::Idle);
}

TEST(LineSocket, DiscardsGreetingEvenARefusalAndUsesTheGivenPort) {
    ScriptServer server;
    server.SetGreeting(Reply{.text = "502 you have no permission to talk\r\n"});
    server.On("DATE", "111 20240101000000\r\n");
    auto socket = ConnectTo(server);
    socket->SendLine("DATE\r\n");
    EXPECT_EQ(socket->ReadLine(), "111 20240101000000\r\n");
    EXPECT_EQ(server.Connections(), 1);
    EXPECT_EQ(server.Received(), std::vector<std::string>{"DATE"});
}

TEST(LineSocket, ReturnsLinesExactlyAsReceived) {
    // Several lines in one write, split at LF only: CR kept, bare LF and inner CR kept, dots and
    // zero bytes untouched.
    std::string withZero = "22\0 bytes\0\r\n"s;
    ScriptServer server;
    server.On("BODY", "222 body\r\n..two dots\r\nbare lf\ninner\rcr\r\n" + withZero + ".\r\n");
    auto socket = ConnectTo(server);
    socket->SendLine("BODY 1\r\n");
    EXPECT_EQ(socket->ReadLine(), "222 body\r\n");
    EXPECT_EQ(socket->ReadLine(), "..two dots\r\n");
    EXPECT_EQ(socket->ReadLine(), "bare lf\n");
    EXPECT_EQ(socket->ReadLine(), "inner\rcr\r\n");
    EXPECT_EQ(socket->ReadLine(), withZero);
    EXPECT_EQ(socket->ReadLine(), ".\r\n");
}

TEST(LineSocket, JoinsLinesArrivingInTinyChunks) {
    ScriptServer server;
    server.On(
        "HEAD",
        Reply{.text = "221 head\r\nSubject: a\0b\r\n.\r\n"s, .chunkSize = 2, .chunkDelayMs = 1});
    server.On("STAT", Reply{.text = "223 status\r\n", .splitFirstLine = true});
    auto socket = ConnectTo(server);
    socket->SendLine("HEAD\r\n");
    std::string line;
    ASSERT_TRUE(socket->ReadLine(line));
    EXPECT_EQ(line, "221 head\r\n");
    ASSERT_TRUE(socket->ReadLine(line));
    EXPECT_EQ(line, "Subject: a\0b\r\n"s);
    ASSERT_TRUE(socket->ReadLine(line));
    EXPECT_EQ(line, ".\r\n");
    socket->SendLine("STAT\r\n");
    EXPECT_EQ(socket->ReadLine(), "223 status\r\n");
}

TEST(LineSocket, LongLineAcrossManyReceivesComesWhole) {
    std::string big(3 * CLineSocket::kReceiveChunk + 17, 'x');
    ScriptServer server;
    server.On("BIG", "220 follows\r\n" + big + "\r\nafter\r\n");
    auto socket = ConnectTo(server);
    socket->SendLine("BIG\r\n");
    EXPECT_EQ(socket->ReadLine(), "220 follows\r\n");
    EXPECT_EQ(socket->ReadLine(), big + "\r\n");
    EXPECT_EQ(socket->ReadLine(), "after\r\n");
}

TEST(LineSocket, AfterPeerCloseQueuedLinesThenEmptyForeverAndNoPartialLine) {
    ScriptServer server;
    server.On("QUIT", Reply{.text = "205 one\r\n206 two\r\nunfinished", .closeAfter = true});
    auto socket = ConnectTo(server);
    socket->SendLine("QUIT\r\n");
    EXPECT_EQ(socket->ReadLine(), "205 one\r\n");
    EXPECT_EQ(socket->ReadLine(), "206 two\r\n");
    for (int i = 0; i < 3; ++i) {
        std::string line = "stale";
        EXPECT_FALSE(socket->ReadLine(line));
        EXPECT_EQ(line, "");
        EXPECT_EQ(socket->state(), CLineSocket::Idle);
    }
    socket->SendLine("ANOTHER\r\n");  // nothing to send on: no crash, state unchanged
    EXPECT_EQ(socket->state(), CLineSocket::Idle);
}

TEST(LineSocket, DropMidReplyLeavesTheCompleteLinesOnly) {
    ScriptServer server;
    server.On("ARTICLE",
              Reply{.text = "220 art\r\nline one\r\nline two\r\n.\r\n", .dropAfterBytes = 24});
    auto socket = ConnectTo(server);
    socket->SendLine("ARTICLE 5\r\n");
    EXPECT_EQ(socket->ReadLine(), "220 art\r\n");
    EXPECT_EQ(socket->ReadLine(), "line one\r\n");
    EXPECT_EQ(socket->ReadLine(), "");
    EXPECT_EQ(socket->state(), CLineSocket::Idle);
}

TEST(LineSocket, EmptySendLineSendsNothing) {
    ScriptServer server;
    server.On("MODE", "200 reader\r\n");
    auto socket = ConnectTo(server);
    socket->SendLine("");
    socket->SendLine("MODE READER\r\n");
    EXPECT_EQ(socket->ReadLine(), "200 reader\r\n");
    EXPECT_EQ(server.Received(), std::vector<std::string>{"MODE READER"});
}

TEST(LineSocket, LargeCommandIsSentWhole) {
    std::string command = "XHDR " + std::string(2 * 1024 * 1024, 'a');
    ScriptServer server;
    server.On("XHDR", "221 ok\r\n");
    auto socket = ConnectTo(server);
    socket->SendLine(command + "\r\n");
    EXPECT_EQ(socket->ReadLine(), "221 ok\r\n");
    EXPECT_EQ(server.Received(), std::vector<std::string>{command});
}

TEST(LineSocket, BeforeReadHookRunsAtEveryRead) {
    ScriptServer server;
    server.On("LIST", "215 list\r\n.\r\n");
    auto socket = ConnectTo(server);
    int calls = 0;
    socket->SetBeforeReadHook([&] { ++calls; });
    socket->SendLine("LIST\r\n");
    socket->ReadLine();
    std::string line;
    socket->ReadLine(line);
    EXPECT_EQ(calls, 2);
}

TEST(LineSocket, UnresolvableHostLeavesStateUnchanged) {
    CLineSocket socket;
    EXPECT_EQ(socket.ConnectToServer("no-such-host.invalid", 119), 0);
    EXPECT_EQ(socket.state(), CLineSocket::Idle);
    EXPECT_EQ(socket.ErrorText(), "");
}

TEST(LineSocket, RefusedPortFailsAtOnce) {
    // A bound socket that does not listen: connections to its port are refused, and the port
    // stays ours while the test runs.
    int holder = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(bind(holder, reinterpret_cast<sockaddr*>(&address), length), 0);
    ASSERT_EQ(getsockname(holder, reinterpret_cast<sockaddr*>(&address), &length), 0);

    CLineSocket socket;
    socket.SetTimeouts({.connect = 20000ms});
    Clock::time_point start = Clock::now();
    EXPECT_EQ(socket.ConnectToServer("127.0.0.1", ntohs(address.sin_port)), 0);
    EXPECT_LT(SecondsSince(start), 5.0);
    EXPECT_EQ(socket.state(), CLineSocket::Failed);
    EXPECT_EQ(socket.ReadLine(), "");
    close(holder);
}

TEST(LineSocket, SocketCreationFailureIsReported) {
    // With the descriptor limit below the descriptors already open, no socket can be made.
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
    rlimit tight = saved;
    tight.rlim_cur = 3;
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &tight), 0);
    CLineSocket socket;
    int result = socket.ConnectToServer("127.0.0.1", 119);
    setrlimit(RLIMIT_NOFILE, &saved);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(socket.state(), CLineSocket::Failed);
    EXPECT_EQ(socket.ErrorText(), "Unable to open a new socket.");
}

TEST(LineSocket, ConnectionWithoutGreetingIsNotConnected) {
    ScriptServer server;
    server.SetGreetings({Reply{.text = "", .closeAfter = true}, Reply{.silent = true}});
    CLineSocket closed;
    closed.SetTimeouts(ShortTimeouts());
    EXPECT_EQ(closed.ConnectToServer("127.0.0.1", server.port()), 0);
    EXPECT_EQ(closed.state(), CLineSocket::Idle);

    CLineSocket silent;
    silent.SetTimeouts({.idle = 300ms});
    EXPECT_EQ(silent.ConnectToServer("127.0.0.1", server.port()), 0);
    EXPECT_EQ(silent.state(), CLineSocket::Failed);
    EXPECT_FALSE(silent.AbortedByStop());
}

TEST(LineSocket, IdleTimeoutFailsAfterQueuedLines) {
    ScriptServer server;
    server.On("GROUP", "211 2 1 2 alt.test\r\n");
    server.On("XOVER", Reply{.text = "224 ov\r\n.\r\n", .silent = true});
    auto socket = ConnectTo(server, {.idle = 300ms});
    socket->SendLine("GROUP alt.test\r\nXOVER 1-2\r\n");  // pipelined: the first reply is queued
    EXPECT_EQ(socket->ReadLine(), "211 2 1 2 alt.test\r\n");
    Clock::time_point start = Clock::now();
    EXPECT_EQ(socket->ReadLine(), "");
    EXPECT_GE(SecondsSince(start), 0.25);
    EXPECT_EQ(socket->state(), CLineSocket::Failed);
    EXPECT_FALSE(socket->AbortedByStop());
    EXPECT_TRUE(socket->TimedOut());
    EXPECT_EQ(socket->ReadLine(), "");
}

TEST(LineSocket, StopCheckEndsAWaitOnASilentServerWithinTheGrace) {
    ScriptServer server;
    server.On("ARTICLE", Reply{.text = "220 art\r\n", .silent = true});
    auto socket = ConnectTo(server, {.idle = 60000ms, .stopGrace = 300ms});
    socket->SetStopCheck([] { return true; });
    socket->SendLine("ARTICLE 1\r\n");
    Clock::time_point start = Clock::now();
    EXPECT_EQ(socket->ReadLine(), "");
    EXPECT_LT(SecondsSince(start), 3.0);
    EXPECT_EQ(socket->state(), CLineSocket::Failed);
    EXPECT_TRUE(socket->AbortedByStop());
    EXPECT_FALSE(socket->TimedOut());
}

TEST(LineSocket, StopGraceLetsAReplyInProgressFinish) {
    ScriptServer server;
    server.On("ARTICLE", Reply{.text = "220 art\r\n.\r\n", .delayMs = 300});
    auto socket = ConnectTo(server, {.stopGrace = 3000ms});
    socket->SetStopCheck([] { return true; });
    socket->SendLine("ARTICLE 1\r\n");
    EXPECT_EQ(socket->ReadLine(), "220 art\r\n");
    EXPECT_EQ(socket->ReadLine(), ".\r\n");
    EXPECT_EQ(socket->state(), CLineSocket::Connected);
    EXPECT_FALSE(socket->AbortedByStop());
}

TEST(LineSocket, OverlongLineFailsTheConnection) {
    std::string longest(CLineSocket::kMaxLineLength - 2, 'y');
    ScriptServer server;
    server.On("OK", "220 fits\r\n" + longest + "\r\n");
    server.On("TOO", "220 too long\r\n" + longest + "z\r\nnext\r\n");
    auto socket = ConnectTo(server);
    socket->SendLine("OK\r\n");
    EXPECT_EQ(socket->ReadLine(), "220 fits\r\n");
    EXPECT_EQ(socket->ReadLine().size(), CLineSocket::kMaxLineLength);
    socket->SendLine("TOO\r\n");
    EXPECT_EQ(socket->ReadLine(), "220 too long\r\n");
    EXPECT_EQ(socket->ReadLine(), "");
    EXPECT_EQ(socket->state(), CLineSocket::Failed);
}

TEST(LineSocket, ResolvesLocalhostAndIpv6Loopback) {
    ScriptServer v4;
    CLineSocket byName;
    EXPECT_EQ(byName.ConnectToServer("localhost", v4.port()), 1);

    ScriptServer v6(true);
    if (!v6.Listening()) GTEST_SKIP() << "no IPv6 loopback here";
    for (const char* host : {"::1", "[::1]"}) {
        CLineSocket socket;
        socket.SetTimeouts(ShortTimeouts());
        EXPECT_EQ(socket.ConnectToServer(host, v6.port()), 1) << host;
        socket.SendLine("HELP\r\n");
        EXPECT_EQ(socket.ReadLine(), "500 unknown command\r\n");
    }
}

// After a 206 the connection runs through raw deflate both ways.
std::unique_ptr<CLineSocket> CompressedTo(ScriptServer& server,
                                          CLineSocket::Timeouts timeouts = ShortTimeouts()) {
    server.On("COMPRESS DEFLATE", Reply{.text = "206 compressing\r\n", .compressAfter = true});
    auto socket = ConnectTo(server, timeouts);
    socket->SendLine("COMPRESS DEFLATE\r\n");
    EXPECT_EQ(socket->ReadLine(), "206 compressing\r\n");
    EXPECT_TRUE(socket->StartCompression());
    EXPECT_TRUE(socket->UsesCompression());
    return socket;
}

long PeakResidentKb() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

TEST(LineSocket, CompressedConnectionCarriesLinesAndCommandsWhole) {
    const std::string big(3 * CLineSocket::kReceiveChunk + 17, 'x');
    const std::string command = "XHDR " + std::string(2 * 1024 * 1024, 'a');
    ScriptServer server;
    // Each tiny chunk is a flushed deflate block of its own; the big line spans many receives.
    server.On(
        "HEAD",
        Reply{.text = "221 head\r\nSubject: a\0b\r\n.\r\n"s, .chunkSize = 3, .chunkDelayMs = 1});
    server.On("BIG", "220 follows\r\n" + big + "\r\nafter\r\n");
    server.On("XHDR", "221 ok\r\n");
    auto socket = CompressedTo(server);
    socket->SendLine("HEAD 1\r\n");
    EXPECT_EQ(socket->ReadLine(), "221 head\r\n");
    EXPECT_EQ(socket->ReadLine(), "Subject: a\0b\r\n"s);
    EXPECT_EQ(socket->ReadLine(), ".\r\n");
    socket->SendLine("BIG\r\n");
    EXPECT_EQ(socket->ReadLine(), "220 follows\r\n");
    EXPECT_EQ(socket->ReadLine(), big + "\r\n");
    EXPECT_EQ(socket->ReadLine(), "after\r\n");
    socket->SendLine(command + "\r\n");
    EXPECT_EQ(socket->ReadLine(), "221 ok\r\n");
    EXPECT_EQ(server.Received(),
              (std::vector<std::string>{"COMPRESS DEFLATE", "HEAD 1", "BIG", command}));
    EXPECT_EQ(socket->state(), CLineSocket::Connected);
}

// A few hundred KB that inflate to half a gigabyte without a line end: the line cap ends the
// connection after a megabyte, and memory never holds more than a plain connection's buffer.
// Bytes that do not inflate break the connection too.
TEST(LineSocket, HostileCompressedStreamsBreakTheConnectionWithinTheLimits) {
    const std::string bomb = RawDeflate::Bomb(size_t{512} << 20, 'z');
    ASSERT_LT(bomb.size(), size_t{1} << 20);
    ScriptServer server;
    server.On("XOVER", Reply{.text = bomb, .raw = true});
    auto socket = CompressedTo(server);
    const long peakBefore = PeakResidentKb();
    socket->SendLine("XOVER 1-9\r\n");
    EXPECT_EQ(socket->ReadLine(), "");
    EXPECT_EQ(socket->state(), CLineSocket::Failed);
    EXPECT_FALSE(socket->TimedOut());
    EXPECT_LT(PeakResidentKb() - peakBefore, 64 * 1024);

    ScriptServer corrupt;
    corrupt.On("GROUP", Reply{.text = "\xff\xfe not deflate at all\r\n", .raw = true});
    auto broken = CompressedTo(corrupt);
    broken->SendLine("GROUP a.b\r\n");
    EXPECT_EQ(broken->ReadLine(), "");
    EXPECT_EQ(broken->state(), CLineSocket::Failed);
    EXPECT_EQ(broken->ErrorText(), "The server sent data that does not inflate.");
}

TEST(LineSocket, IdleTimeoutAndStopHoldOnACompressedConnection) {
    for (bool stop : {false, true}) {
        SCOPED_TRACE(stop ? "stop" : "idle");
        ScriptServer server;
        server.On("GROUP", "211 2 1 2 alt.test\r\n");
        server.On("XOVER", Reply{.text = "224 ov\r\n.\r\n", .silent = true});
        auto socket = CompressedTo(
            server, {.connect = 5000ms, .idle = stop ? 60000ms : 300ms, .stopGrace = 300ms});
        socket->SetStopCheck([stop] { return stop; });
        socket->SendLine("GROUP alt.test\r\n");
        socket->SendLine("XOVER 1-2\r\n");
        EXPECT_EQ(socket->ReadLine(), "211 2 1 2 alt.test\r\n");
        const Clock::time_point start = Clock::now();
        EXPECT_EQ(socket->ReadLine(), "");
        EXPECT_GE(SecondsSince(start), 0.25);
        EXPECT_LT(SecondsSince(start), 3.0);
        EXPECT_EQ(socket->state(), CLineSocket::Failed);
        EXPECT_EQ(socket->AbortedByStop(), stop);
        EXPECT_EQ(socket->TimedOut(), !stop);
        EXPECT_TRUE(socket->UsesCompression());  // still known after the failure
    }
}

// The capability line may list several algorithms, in any case; only DEFLATE is ours.
TEST(LineSocket, CompressDeflateIsFoundInTheCapabilityList) {
    for (const char* yes :
         {"COMPRESS DEFLATE\r\n", "compress gzip  Deflate\r\n", "COMPRESS\tDEFLATE SHRINK"}) {
        EXPECT_TRUE(ListsCompressDeflate(yes)) << yes;
    }
    for (const char* no : {"COMPRESS GZIP\r\n", "COMPRESSION DEFLATE\r\n", "COMPRESS\r\n",
                           "COMPRESS DEFLATEX\r\n", "XCOMPRESS DEFLATE\r\n", "DEFLATE\r\n"}) {
        EXPECT_FALSE(ListsCompressDeflate(no)) << no;
    }
}

}  // namespace
}  // namespace qm
