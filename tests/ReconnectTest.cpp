// Reconnecting after a lost connection, keeping several ARTICLE commands in flight, fetching over
// several connections, logging in when the server asks in the middle of a group, and compressed
// connections (and the plain ones that replace them after a stall), against the scripted server:
// each picture saved once, read marks exact, the wire traffic in order.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <iterator>
#include <thread>

#include "support/EngineHarness.h"
#include "support/FakeKeyring.h"
#include "support/RawDeflate.h"
#include "support/RealEncoders.h"
#include "util/TextFiles.h"

namespace qm::test {
namespace {

std::string WireArticle(const NewsModel& model, long number) {
    std::string text =
        "220 " + std::to_string(number) + " <" + std::to_string(number) + "@test>\r\n";
    for (char c : model.ArticleText("alt.pics", number)) {
        if (c == '\n') text += '\r';
        text += c;
    }
    return text + ".\r\n";
}

// Four uuencoded pictures, p1.jpg to p4.jpg, in alt.pics.
void AddPictures(EngineHarness& h) {
    h.SetGroups({"alt.pics"});
    for (long n = 1; n <= 4; ++n) {
        ModelArticle a;
        a.subject = "p" + std::to_string(n) + ".jpg";
        a.body = UuencodeBody(RandomBytes(3000, n), "p" + std::to_string(n) + ".jpg");
        h.model.AddArticle("alt.pics", n, a);
    }
}

class Reconnect : public ::testing::Test {
protected:
    void SetUp() override { AddPictures(h); }
    bool SawStatus(const std::string& text) const {
        auto v = h.status.Values("status");
        return std::find(v.begin(), v.end(), text) != v.end();
    }
    const std::vector<std::string> kAll{"p1.jpg", "p2.jpg", "p3.jpg", "p4.jpg"};
    EngineHarness h;
};

TEST_F(Reconnect, DropsInTheScanAndInAnArticleAreMadeGoodOnNewConnections) {
    h.Set("Reconnect", "3");
    h.Set("PipelineDepth", "4");
    int scans = 0;
    h.server.On("XOVER ", ScriptServer::Responder([&](const std::string& command) {
                    const std::string text = h.model.Xover(command);
                    if (++scans > 1) return Reply{.text = text};
                    return Reply{.text = text,
                                 .dropAfterBytes = static_cast<long>(text.size() / 2)};
                }));
    h.server.OnSequence("ARTICLE 2", std::vector<Reply>{Reply{.text = WireArticle(h.model, 2),
                                                              .dropAfterBytes = 900},
                                                        Reply{.text = WireArticle(h.model, 2)}});
    h.Run();
    EXPECT_EQ(h.FinalStatus(), "Operation complete");
    EXPECT_TRUE(SawStatus("  Connection to 127.0.0.1 lost -- reconnecting (attempt 1 of 3)"));
    EXPECT_EQ(h.server.Connections(), 3);
    EXPECT_EQ(h.CountCommands("GROUP"), 3);      // selected again after each reconnect
    EXPECT_EQ(h.CountCommands("ARTICLE 2"), 2);  // asked for again, saved once
    EXPECT_EQ(h.SavedFiles(), kAll);
    EXPECT_EQ(TempDir::ReadFile("HistList"), "p1.jpg\np2.jpg\np3.jpg\np4.jpg\n");
    EXPECT_EQ(h.ReadMark("alt.pics"), 4);
}

TEST_F(Reconnect, AttemptsRunOutOrAStopComesAndTheRunEndsWithTheMarkRight) {
    h.Set("Reconnect", "2");
    h.server.On("ARTICLE 2", Reply{.closeAfter = true});
    h.server.SetGreetings({Reply{.text = "200 ready\r\n"}, Reply{.closeAfter = true}});
    h.Run();
    EXPECT_EQ(h.FinalStatus(), "Error--connection to 127.0.0.1 lost");
    EXPECT_TRUE(SawStatus("  Connection to 127.0.0.1 lost -- reconnecting (attempt 2 of 2)"));
    EXPECT_EQ(h.server.Connections(), 3);
    EXPECT_EQ(h.ReadMark("alt.pics"), 1);

    // A connection that breaks after the user's Stop is not made again.
    EngineHarness stopped;
    stopped.SetGroups({"alt.pics"});
    stopped.Set("Reconnect", "2");
    for (long n = 1; n <= 3; ++n) stopped.model.AddArticle("alt.pics", n, ModelArticle{});
    stopped.server.On("ARTICLE 2", ScriptServer::Responder([&](const std::string&) {
                          stopped.RequestStop();
                          return Reply{.closeAfter = true};
                      }));
    stopped.Run();
    EXPECT_EQ(stopped.server.Connections(), 1);
    EXPECT_EQ(stopped.FinalStatus(), "Error--connection to 127.0.0.1 lost");
}

TEST_F(Reconnect, PipelinedCommandsGoOutInTheOrderOfOneAtATime) {
    h.Run();
    const std::vector<std::string> oneAtATime = h.Commands();
    EXPECT_EQ(h.SavedFiles(), kAll);

    EngineHarness p;
    AddPictures(p);
    p.Set("PipelineDepth", "4");
    p.Run();
    EXPECT_EQ(p.Commands(), oneAtATime);
    EXPECT_EQ(p.SavedFiles(), kAll);
}

// A stop while later commands are in flight: the article being read may finish, nothing after
// it is kept, and the connection (out of step now) is given up.
TEST_F(Reconnect, StopWithCommandsInFlightKeepsOnlyTheArticleInProgress) {
    h.Set("PipelineDepth", "4");
    h.server.On("ARTICLE 3", ScriptServer::TextResponder([this](const std::string&) {
                    h.RequestStop();  // sent ahead while the first article is read
                    return WireArticle(h.model, 3);
                }));
    h.Run();
    // The fourth command went out too, though the server may not read it before the engine
    // gives the connection up.
    EXPECT_GE(h.CountCommands("ARTICLE"), 3);
    EXPECT_EQ(h.FinalStatus(), "Operation complete");
    EXPECT_LE(h.ReadMark("alt.pics"), 3);
    const std::vector<std::string> saved = h.SavedFiles();
    EXPECT_EQ(saved, std::vector<std::string>(kAll.begin(), kAll.begin() + h.ReadMark("alt.pics")));
}

// A server that answers the commands starting with prefix with 480 until a login is accepted (or
// for ever), and otherwise as its model does; the login is accepted unless passReply says no.
struct LoginWanted {
    LoginWanted(EngineHarness& h, const std::string& prefix, std::string passReply = "281 ok\r\n",
                bool forever = false) {
        h.SetServer("UserAuthentication", "1");
        h.SetServer("Username", "joe");
        h.SetServer("Password", "secret");
        h.server.On("AUTHINFO USER", "381 more\r\n");
        h.server.On("AUTHINFO PASS",
                    ScriptServer::TextResponder([this, passReply](const std::string&) {
                        loggedIn = passReply.starts_with("281");
                        return passReply;
                    }));
        h.server.On(prefix, ScriptServer::TextResponder([this, &h, forever](const std::string& c) {
                        if (!loggedIn || forever) return std::string("480 log in first\r\n");
                        if (c.starts_with("XOVER")) return h.model.Xover(c);
                        return WireArticle(h.model, std::stol(c.substr(8)));
                    }));
    }
    std::atomic<bool> loggedIn{false};
};

// The commands after the first one starting with prefix.
std::vector<std::string> From(const std::vector<std::string>& commands, const std::string& prefix) {
    auto first = std::find_if(commands.begin(), commands.end(),
                              [&](const std::string& c) { return c.starts_with(prefix); });
    return {first, commands.end()};
}

TEST_F(Reconnect, A480ToXoverIsAnsweredWithALoginAndTheScanAskedForAgain) {
    LoginWanted server(h, "XOVER ");
    h.Run();
    EXPECT_EQ(From(h.Commands(), "XOVER"),
              (std::vector<std::string>{"XOVER 1-4", "AUTHINFO USER joe", "AUTHINFO PASS secret",
                                        "XOVER 1-4", "ARTICLE 1", "ARTICLE 2", "ARTICLE 3",
                                        "ARTICLE 4"}));
    EXPECT_EQ(h.SavedFiles(), kAll);
    EXPECT_EQ(h.ReadMark("alt.pics"), 4);
    EXPECT_EQ(h.FinalStatus(), "Operation complete");
}

// With commands in flight the replies owed before the login are read and dropped, and every
// article still owed is asked for again: one at a time the traffic is that of a plain retry.
TEST_F(Reconnect, A480ToArticleIsAnsweredWithALoginAtEveryPipelineDepth) {
    const std::vector<std::string> again{"AUTHINFO USER joe", "AUTHINFO PASS secret",
                                         "ARTICLE 1",         "ARTICLE 2",
                                         "ARTICLE 3",         "ARTICLE 4"};
    for (const char* depth : {"1", "4"}) {
        SCOPED_TRACE(depth);
        EngineHarness p;
        AddPictures(p);
        p.Set("PipelineDepth", depth);
        LoginWanted server(p, "ARTICLE ");
        p.Run();
        std::vector<std::string> expected{"ARTICLE 1"};
        if (std::string(depth) == "4")
            expected = {"ARTICLE 1", "ARTICLE 2", "ARTICLE 3", "ARTICLE 4"};
        expected.insert(expected.end(), again.begin(), again.end());
        EXPECT_EQ(From(p.Commands(), "ARTICLE"), expected);
        EXPECT_EQ(p.SavedFiles(), kAll);
        EXPECT_EQ(TempDir::ReadFile("HistList"), "p1.jpg\np2.jpg\np3.jpg\np4.jpg\n");
        EXPECT_EQ(p.ReadMark("alt.pics"), 4);
        EXPECT_EQ(p.FinalStatus(), "Operation complete");
    }
}

TEST_F(Reconnect, ALoginRefusedInTheMiddleOfAGroupEndsTheRunWithTheMarkKept) {
    h.SetGroups({"alt.pics", "alt.next"});
    h.Set("PipelineDepth", "4");
    LoginWanted server(h, "ARTICLE ", "481 no\r\n");
    h.Run();
    EXPECT_EQ(h.FinalStatus(), "Authentication failed");
    EXPECT_EQ(h.CountCommands("AUTHINFO PASS"), 1);
    EXPECT_EQ(h.CountCommands("ARTICLE"), 4);  // nothing asked for after the refusal
    EXPECT_EQ(h.CountCommands("GROUP alt.next"), 0);
    EXPECT_TRUE(h.SavedFiles().empty());
    EXPECT_EQ(h.ReadMark("alt.pics"), 0);
    EXPECT_EQ(h.status.Count("finished"), 1);

    EngineHarness scan;  // refused at the scan: no article is asked for, no mark written
    AddPictures(scan);
    LoginWanted scanServer(scan, "XOVER ", "482 no\r\n");
    scan.Run();
    EXPECT_EQ(scan.FinalStatus(), "Authentication failed");
    EXPECT_EQ(scan.CountCommands("XOVER"), 1);
    EXPECT_EQ(scan.CountCommands("ARTICLE"), 0);
    EXPECT_EQ(scan.profile.GetString(EngineHarness::kHost, "alt.pics", "none"), "none");
}

TEST_F(Reconnect, A480ThatALoginDoesNotSatisfyIsNoLoop) {
    // Asked again right after an accepted login: the article is passed over, the run goes on.
    LoginWanted server(h, "ARTICLE ", "281 ok\r\n", true);
    h.Run();
    EXPECT_EQ(h.CountCommands("ARTICLE 1"), 2);
    EXPECT_EQ(h.CountCommands("ARTICLE"), 8);
    EXPECT_EQ(h.FinalStatus(), "Operation complete");

    // Without credentials nothing is sent and nothing is asked: as before, the article is refused.
    EngineHarness bare;
    AddPictures(bare);
    bare.server.On("ARTICLE ", "480 log in first\r\n");
    bare.Run();
    EXPECT_EQ(bare.CountCommands("AUTHINFO"), 0);
    EXPECT_TRUE(bare.prompt.Messages().empty());
    EXPECT_EQ(bare.CountCommands("ARTICLE"), 4);
    EXPECT_EQ(bare.FinalStatus(), "Operation complete");
}

// The scripted server serves one connection after another here, so a further connection is never
// greeted while the first is open: the run does its work over the first and ends without waiting.
TEST_F(Reconnect, AFurtherConnectionTheServerNeverGreetsHoldsUpNothing) {
    h.SetServer("Connections", "2");
    const auto start = std::chrono::steady_clock::now();
    h.Run();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));  // no hang
    EXPECT_EQ(h.FinalStatus(), "Operation complete");
    EXPECT_EQ(h.SavedFiles(), kAll);
    EXPECT_EQ(h.ReadMark("alt.pics"), 4);
    EXPECT_TRUE(SawStatus("  Using 1 of 2 connections to 127.0.0.1"));
}

// The scripted server serves connections side by side, and the run asks for three.
class SeveralConnections : public Reconnect {
protected:
    void SetUp() override {
        Reconnect::SetUp();
        h.server.ServeConcurrently();
        h.SetServer("Connections", "3");
        h.Set("PipelineDepth", "2");
    }
    static bool WaitFor(const std::function<bool()>& done) {
        for (int i = 0; i < 1000 && !done(); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return done();
    }
    // One article at a time per connection, each slow enough for every connection to join in.
    void SlowArticles() {
        h.Set("PipelineDepth", "1");
        for (long n = 1; n <= 4; ++n) {
            h.server.On("ARTICLE " + std::to_string(n),
                        Reply{.text = WireArticle(h.model, n), .delayMs = 150});
        }
    }
    static std::vector<std::string> SortedLines(const std::string& text) {
        std::vector<std::string> lines;
        for (size_t start = 0; start < text.size();) {
            const size_t end = text.find('\n', start);
            lines.push_back(text.substr(start, end - start));
            start = end + 1;
        }
        std::sort(lines.begin(), lines.end());
        return lines;
    }
};

// A refused further connection is no error, and a connection lost with Reconnect 0 hands its
// articles to the one left: every picture once, the mark at the end, no reconnect.
TEST_F(SeveralConnections, ARefusedOneIsNoErrorAndALostOneHandsItsArticlesOn) {
    h.server.SetGreetings({Reply{.text = "200 ready\r\n"}, Reply{.text = "200 ready\r\n"},
                           Reply{.text = "502 too many connections\r\n", .closeAfter = true}});
    h.server.OnSequence("ARTICLE 3", std::vector<Reply>{Reply{.text = WireArticle(h.model, 3),
                                                              .dropAfterBytes = 900},
                                                        Reply{.text = WireArticle(h.model, 3)}});
    h.Run();
    EXPECT_EQ(h.FinalStatus(), "Operation complete");
    EXPECT_TRUE(SawStatus("  Using 2 of 3 connections to 127.0.0.1"));
    EXPECT_EQ(h.server.Connections(), 3);
    EXPECT_EQ(h.CountCommands("ARTICLE 3"), 2);
    EXPECT_EQ(h.SavedFiles(), kAll);
    EXPECT_EQ(SortedLines(TempDir::ReadFile("HistList")), kAll);
    EXPECT_EQ(h.ReadMark("alt.pics"), 4);
}

// Pictures after an article still on its way are decoded but not named, and the mark stays
// before it: a kill now leaves nothing the next run would fetch twice. Pause holds every
// connection.
TEST_F(SeveralConnections, TheMarkAndTheNamesWaitForAnArticleStillOnItsWay) {
    h.Set("PipelineDepth", "1");
    h.server.On("ARTICLE 2", Reply{.text = WireArticle(h.model, 2), .silent = true});
    h.Start();
    ASSERT_TRUE(WaitFor([&] { return h.CountCommands("ARTICLE 4") == 1; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const std::vector<std::string> waiting = h.SavedFiles();  // p1.jpg and two partial pictures
    EXPECT_EQ(h.ReadMark("alt.pics"), 1);
    ASSERT_EQ(waiting.size(), 3u);
    EXPECT_EQ(waiting[2], "p1.jpg");
    EXPECT_TRUE(waiting[0].starts_with(".qm-partial-") && waiting[1].starts_with(".qm-partial-"));
    h.Pause();
    h.server.Release();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(h.SavedFiles(), waiting);  // paused: nothing read
    h.Resume();
    h.Wait();
    EXPECT_EQ(h.ReadMark("alt.pics"), 4);
    EXPECT_EQ(h.SavedFiles(), kAll);
    EXPECT_EQ(h.CountCommands("ARTICLE"), 4);
}

// A Stop lets the article on its way on each connection finish within the grace, and asks for
// nothing more.
TEST_F(SeveralConnections, StopFinishesWhatArrivesWithinTheGraceOnEveryConnection) {
    h.SetServer("Connections", "2");
    h.Set("PipelineDepth", "1");
    h.server.On("ARTICLE 1", Reply{.text = WireArticle(h.model, 1), .delayMs = 400});
    h.server.On("ARTICLE 2", Reply{.text = WireArticle(h.model, 2), .delayMs = 400});
    h.Start();
    ASSERT_TRUE(WaitFor([&] { return h.CountCommands("ARTICLE 2") == 1; }));
    ASSERT_EQ(h.CountCommands("ARTICLE 1"), 1);
    h.RequestStop();
    h.Wait();
    EXPECT_EQ(h.SavedFiles(), (std::vector<std::string>{"p1.jpg", "p2.jpg"}));
    EXPECT_EQ(h.ReadMark("alt.pics"), 2);
    EXPECT_EQ(h.CountCommands("ARTICLE"), 2);
}

// The password asked for once per group, not once per connection.
TEST_F(SeveralConnections, ThePasswordIsAskedOncePerGroup) {
    h.SetServer("UserAuthentication", "1");
    h.SetServer("ForceAuthInfo", "1");
    h.SetServer("PromptForPasswd", "1");
    h.SetServer("Username", "joe");
    h.prompt.password = "typed";
    h.server.On("AUTHINFO USER", "381 more\r\n");
    h.server.On("AUTHINFO PASS typed", "281 ok\r\n");
    SlowArticles();
    h.Run();
    EXPECT_EQ(h.prompt.PasswordPrompts(), 1);
    EXPECT_EQ(h.server.Connections(), 3);
    EXPECT_EQ(h.CountCommands("AUTHINFO PASS typed"), 3);
    EXPECT_EQ(h.SavedFiles(), kAll);
    EXPECT_EQ(h.FinalStatus(), "Operation complete");
}

// The keyring is asked once per run, however many connections log in.
TEST_F(SeveralConnections, TheKeyringIsAskedOncePerRun) {
    FakeKeyring keyring;
    keyring.Put(EngineHarness::kHost, "joe", "kept");
    h.keyring = &keyring;
    h.SetServer("UserAuthentication", "1");
    h.SetServer("ForceAuthInfo", "1");
    h.SetServer("PasswordInKeyring", "1");
    h.SetServer("Username", "joe");
    h.server.On("AUTHINFO USER", "381 more\r\n");
    h.server.On("AUTHINFO PASS kept", "281 ok\r\n");
    SlowArticles();
    h.Run();
    EXPECT_EQ(keyring.Lookups(), 1);
    EXPECT_EQ(h.server.Connections(), 3);
    EXPECT_EQ(h.CountCommands("AUTHINFO PASS kept"), 3);
    EXPECT_EQ(h.SavedFiles(), kAll);
    EXPECT_EQ(h.FinalStatus(), "Operation complete");
}

// A server that offers COMPRESS DEFLATE (among other algorithms) and starts it on request.
void OfferCompression(EngineHarness& h) {
    h.SetServer("UseCompression", "1");
    h.server.On("CAPABILITIES",
                "101 capabilities\r\nVERSION 2\r\nREADER\r\ncompress gzip Deflate\r\n.\r\n");
    h.server.On("COMPRESS DEFLATE", Reply{.text = "206 compressing\r\n", .compressAfter = true});
}

// The login comes before compression and only there: a compressed connection cannot log in
// again, so a forced login is not repeated before each GROUP, and a 480 is a refused login.
TEST_F(Reconnect, CompressedConnectionLogsInOnlyBeforeCompressing) {
    h.SetGroups({"alt.pics", "alt.empty"});
    h.SetServer("ForceAuthInfo", "1");
    LoginWanted server(h, "ARTICLE ");
    OfferCompression(h);
    h.Run();
    const std::vector<std::string> commands = h.Commands();
    ASSERT_GE(commands.size(), 6u);
    EXPECT_EQ(
        std::vector<std::string>(commands.begin(), commands.begin() + 6),
        (std::vector<std::string>{"AUTHINFO USER joe", "AUTHINFO PASS secret", "CAPABILITIES",
                                  "COMPRESS DEFLATE", "GROUP alt.pics", "LIST OVERVIEW.FMT"}));
    EXPECT_EQ(h.CountCommands("AUTHINFO USER"), 1);
    EXPECT_EQ(h.CountCommands("GROUP alt.empty"), 1);
    EXPECT_EQ(h.SavedFiles(), kAll);
    EXPECT_EQ(h.ReadMark("alt.pics"), 4);
    EXPECT_EQ(h.FinalStatus(), "Operation complete");

    EngineHarness asked;  // no login configured up front; the server asks in the middle
    AddPictures(asked);
    OfferCompression(asked);
    asked.server.On("ARTICLE 3", "480 log in first\r\n");
    asked.SetServer("UserAuthentication", "1");
    asked.server.On("AUTHINFO USER", "481 not now\r\n");
    asked.Run();
    EXPECT_EQ(asked.CountCommands("COMPRESS DEFLATE"), 0);  // refused login: stays plain
    EXPECT_EQ(asked.CountCommands("AUTHINFO USER"), 2);

    EngineHarness compressed;
    AddPictures(compressed);
    OfferCompression(compressed);
    compressed.server.On("ARTICLE 3", "480 log in first\r\n");
    compressed.SetServer("UserAuthentication", "1");
    compressed.server.On("AUTHINFO USER", "281 welcome\r\n");
    compressed.Run();
    EXPECT_EQ(compressed.CountCommands("AUTHINFO USER"), 1);
    EXPECT_EQ(compressed.FinalStatus(), "Authentication failed");
    EXPECT_EQ(compressed.SavedFiles(), (std::vector<std::string>{"p1.jpg", "p2.jpg"}));
    EXPECT_EQ(compressed.ReadMark("alt.pics"), 2);
}

// Not listed, refused, or not wanted: the connection stays as it was and the run is the plain one.
TEST_F(Reconnect, CompressionNotOfferedRefusedOrOffLeavesThePlainConversation) {
    h.Run();
    const std::vector<std::string> plain = h.Commands();
    EXPECT_EQ(h.CountCommands("CAPABILITIES"), 0);
    struct Case {
        const char* name;
        std::string capabilities, compress, use;
        int compressCommands;
    };
    const std::vector<Case> cases{
        {"not listed", "101 caps\r\nVERSION 2\r\nCOMPRESS GZIP\r\n.\r\n", "", "1", 0},
        {"refused", "101 caps\r\nCOMPRESS DEFLATE\r\n.\r\n", "403 not now\r\n", "1", 1},
        {"no capabilities", "500 what?\r\n", "", "1", 0},
        {"off", "101 caps\r\nCOMPRESS DEFLATE\r\n.\r\n", "", "0", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EngineHarness p;
        AddPictures(p);
        p.SetServer("UseCompression", c.use);
        p.server.On("CAPABILITIES", c.capabilities);
        if (!c.compress.empty()) p.server.On("COMPRESS", c.compress);
        p.Run();
        std::vector<std::string> commands = p.Commands();
        const auto group = std::find(commands.begin(), commands.end(), "GROUP alt.pics");
        EXPECT_EQ(std::count(commands.begin(), group, "COMPRESS DEFLATE"), c.compressCommands);
        EXPECT_EQ(std::vector<std::string>(group, commands.end()), plain);
        EXPECT_EQ(p.SavedFiles(), kAll);
        EXPECT_EQ(p.FinalStatus(), "Operation complete");
    }
}

// A small reply that inflates to a quarter of a gigabyte without a line end: the run ends as
// with any broken connection, and nothing of the group is marked read.
TEST_F(Reconnect, DeflateBombEndsTheRunLikeABrokenConnection) {
    OfferCompression(h);
    h.server.On("XOVER ", Reply{.text = RawDeflate::Bomb(size_t{256} << 20, 'o'), .raw = true});
    h.Run();
    EXPECT_EQ(h.FinalStatus(), "Error--connection to 127.0.0.1 lost");
    EXPECT_TRUE(h.SavedFiles().empty());
    EXPECT_EQ(h.profile.GetString(EngineHarness::kHost, "alt.pics", "none"), "none");
}

// A compressed connection whose reply does not come within the idle timeout is made again
// without compression, once a run and even with Reconnect 0, and the group goes on.
TEST_F(Reconnect, StalledCompressedConnectionFallsBackToPlainOnceForTheRun) {
    using namespace std::chrono_literals;
    for (const std::string stallAt : {"XOVER ", "ARTICLE 2"}) {
        SCOPED_TRACE(stallAt);
        EngineHarness p;
        AddPictures(p);
        OfferCompression(p);
        p.socketTimeouts = {.connect = 5000ms, .idle = 400ms, .stopGrace = 300ms};
        std::atomic<int> asked{0};
        p.server.On(stallAt, ScriptServer::Responder([&](const std::string& command) {
                        const std::string text = command.starts_with("XOVER")
                                                     ? p.model.Xover(command)
                                                     : WireArticle(p.model, 2);
                        return Reply{.text = text, .silent = ++asked == 1};
                    }));
        const auto start = std::chrono::steady_clock::now();
        p.Run();
        EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
        EXPECT_EQ(p.FinalStatus(), "Operation complete");
        auto statuses = p.status.Values("status");
        EXPECT_EQ(std::count(statuses.begin(), statuses.end(),
                             "  Connection to 127.0.0.1 stalled -- reconnecting without "
                             "compression"),
                  1);
        EXPECT_EQ(p.server.Connections(), 2);
        EXPECT_EQ(p.CountCommands("COMPRESS DEFLATE"), 1);  // the second connection stays plain
        EXPECT_EQ(p.CountCommands("GROUP alt.pics"), 2);
        EXPECT_EQ(p.SavedFiles(), kAll);
        EXPECT_EQ(TempDir::ReadFile("HistList"), "p1.jpg\np2.jpg\np3.jpg\np4.jpg\n");
        EXPECT_EQ(p.ReadMark("alt.pics"), 4);
    }
}

}  // namespace
}  // namespace qm::test
