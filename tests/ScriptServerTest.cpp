#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "net/Socket.h"
#include "support/NntpFixtures.h"
#include "support/ScriptServer.h"

namespace qm::test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Sends one command and returns the first reply line.
std::string Ask(CLineSocket& socket, const std::string& command) {
    socket.SendLine(command + "\r\n");
    return socket.ReadLine();
}

class ScriptServerTest : public ::testing::Test {
protected:
    void Connect() {
        socket_ = std::make_unique<CLineSocket>();
        socket_->SetTimeouts({.connect = 5000ms, .idle = 5000ms, .stopGrace = 300ms});
        ASSERT_EQ(socket_->ConnectToServer("127.0.0.1", server_.port()), 1);
    }

    ScriptServer server_;
    std::unique_ptr<CLineSocket> socket_;
};

TEST_F(ScriptServerTest, LongestPrefixWinsThenLatestRule) {
    server_.On("GROUP", "211 first\r\n");
    server_.On("GROUP alt.", "211 alt\r\n");
    server_.On("GROUP", "211 replaced\r\n");
    Connect();
    EXPECT_EQ(Ask(*socket_, "GROUP misc.test"), "211 replaced\r\n");
    EXPECT_EQ(Ask(*socket_, "GROUP alt.test"), "211 alt\r\n");
    EXPECT_EQ(Ask(*socket_, "group alt.test"), "500 unknown command\r\n");
    EXPECT_EQ(server_.Received(),
              (std::vector<std::string>{"GROUP misc.test", "GROUP alt.test", "group alt.test"}));
}

TEST_F(ScriptServerTest, SequencesRepeatTheirLastAndRespondersSeeTheCommand) {
    server_.OnSequence("NEXT", {"223 one\r\n", "223 two\r\n"});
    server_.On("ECHO", [](const std::string& command) { return "200 " + command + "\r\n"; });
    server_.On("BODY", [](const std::string&) { return Reply{.text = "222 b\r\n.\r\n"}; });
    Connect();
    EXPECT_EQ(Ask(*socket_, "NEXT"), "223 one\r\n");
    EXPECT_EQ(Ask(*socket_, "NEXT"), "223 two\r\n");
    EXPECT_EQ(Ask(*socket_, "NEXT"), "223 two\r\n");
    EXPECT_EQ(Ask(*socket_, "ECHO hi"), "200 ECHO hi\r\n");
    EXPECT_EQ(Ask(*socket_, "BODY"), "222 b\r\n");
    EXPECT_EQ(socket_->ReadLine(), ".\r\n");
}

TEST_F(ScriptServerTest, ServesSuccessiveConnections) {
    server_.On("DATE", "111 1\r\n");
    Connect();
    EXPECT_EQ(Ask(*socket_, "DATE"), "111 1\r\n");
    socket_.reset();
    Connect();
    EXPECT_EQ(Ask(*socket_, "DATE"), "111 1\r\n");
    EXPECT_EQ(server_.Connections(), 2);
}

TEST_F(ScriptServerTest, ReleaseLetsAHeldReplyOut) {
    server_.On("LIST", Reply{.text = "215 list\r\n", .silent = true});
    Connect();
    std::thread releaser([this] {
        std::this_thread::sleep_for(200ms);
        server_.Release();
    });
    EXPECT_EQ(Ask(*socket_, "LIST"), "215 list\r\n");
    releaser.join();
}

TEST_F(ScriptServerTest, StopIsPromptWhileSilent) {
    server_.On("ARTICLE", Reply{.silent = true});
    Connect();
    socket_->SendLine("ARTICLE 1\r\n");
    std::this_thread::sleep_for(50ms);
    Clock::time_point start = Clock::now();
    server_.Stop();
    EXPECT_LT(std::chrono::duration<double>(Clock::now() - start).count(), 1.0);
    EXPECT_EQ(socket_->ReadLine(), "");
    EXPECT_EQ(socket_->state(), CLineSocket::Idle);
}

TEST(NntpFixtures, MultiLineReplyStuffsDots) {
    EXPECT_EQ(MultiLineReply("224 ov", {".hidden", "plain"}),
              "224 ov\r\n..hidden\r\nplain\r\n.\r\n");
    EXPECT_EQ(OverviewLine(7, "s", "f", "d", 100, 3, "Xref: h g:7"),
              "7\ts\tf\td\t<7@test>\t\t100\t3\tXref: h g:7");
}

}  // namespace
}  // namespace qm::test
