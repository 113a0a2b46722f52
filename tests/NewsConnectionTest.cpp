// Opening the conversation with a server that should secure it but will not: nothing but
// STARTTLS may go out in the clear, and the run (or the group list) ends saying why.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "groups/GroupListWorker.h"
#include "session/NewsConnection.h"
#include "settings/SettingsKeys.h"
#include "support/EngineHarness.h"
#include "support/RecordingStatus.h"
#include "support/ScriptServer.h"
#include "support/TempDir.h"

namespace qm::test {
namespace {

using Lines = std::vector<std::string>;

TEST(NewsConnection, TlsFromTheFirstByteTakesItsOwnPortOnlyInPlaceOfTheUsualOne) {
    EXPECT_EQ(NewsServerPort(TlsMode::Tls, 119), 563);
    EXPECT_EQ(NewsServerPort(TlsMode::Tls, 8119), 8119);
    EXPECT_EQ(NewsServerPort(TlsMode::StartTls, 119), 119);
    EXPECT_EQ(NewsServerPort(TlsMode::None, 119), 119);
}

// The login is configured and forced: were the conversation to go on, the password would follow.
TEST(NewsConnection, StartTlsNotGrantedEndsTheRunBeforeAnyLogin) {
    struct Case {
        Reply reply;
        std::string status;
    };
    const std::string refused = "  TLS: 127.0.0.1 does not offer STARTTLS";
    for (const Case& c : std::vector<Case>{
             {Reply{.text = "502 no such command\r\n"}, refused},
             {Reply{.text = "580 can not initiate TLS negotiation\r\n"}, refused},
             // Lines sent in the clear after the 382 could be anyone's: they must not be read
             // as though they came over the encrypted connection.
             {Reply{.text = "382 go ahead\r\n281 injected\r\n"},
              "  TLS: handshake with 127.0.0.1 failed (unexpected data before the TLS "
              "handshake)"},
             {Reply{.text = "382 go ahead\r\n", .closeAfter = true},
              "  TLS: handshake with 127.0.0.1 failed (connection closed)"},
         }) {
        SCOPED_TRACE(c.reply.text);
        EngineHarness h;
        h.SetGroups({"alt.binaries.pictures"});
        h.SetServer(kUseTLS.Key(), "2");
        h.SetServer(kUserAuthentication.Key(), "1");
        h.SetServer(kForceAuthInfo.Key(), "1");
        h.SetServer(kUsername.Key(), "me");
        h.SetServer(kPassword.Key(), "secret");
        h.server.On("STARTTLS", c.reply);
        h.Run();
        EXPECT_EQ(h.Commands(), Lines{"STARTTLS"});
        EXPECT_EQ(h.FinalStatus(), c.status);
        EXPECT_EQ(h.status.Count("finished"), 1);
        EXPECT_TRUE(h.prompt.Questions().empty());
    }
}

TEST(NewsConnection, GroupListEndsLikewiseWithoutLogin) {
    ScriptServer server;
    server.On("STARTTLS", "502 no such command\r\n");
    TempDir dir;
    ProfileStore profile(dir / "p.ini");
    profile.WriteString(kMainSection, "NNTPHost", "127.0.0.1");
    profile.WriteString(kMainSection, "NNTPPort", std::to_string(server.port()));
    profile.WriteString("127.0.0.1", kUseTLS.Key(), "2");
    profile.WriteString("127.0.0.1", kForceAuthInfo.Key(), "1");
    profile.WriteString("127.0.0.1", kUsername.Key(), "me");
    ScriptedPrompt prompt;
    struct Sink : GroupListSink {
        Lines statuses;
        bool done = false;
        void ListStatus(std::string text) override { statuses.push_back(std::move(text)); }
        void ListCleared() override {}
        void ListGroup(std::string) override { ADD_FAILURE() << "a group arrived"; }
        void ListSelectFirst() override {}
        void ListDone() override { done = true; }
    } sink;
    GroupListWorker worker(profile, prompt, sink);
    ASSERT_TRUE(worker.Start({""}));
    worker.Join();
    EXPECT_EQ(server.Received(), Lines{"STARTTLS"});
    EXPECT_EQ(sink.statuses,
              (Lines{"  Connecting to 127.0.0.1", "  TLS: 127.0.0.1 does not offer STARTTLS"}));
    EXPECT_TRUE(sink.done);
}

}  // namespace
}  // namespace qm::test
