// The conversation that opens each group and scans its headers, against the scripted server:
// authentication, GROUP, the scan range, NEWNEWS narrowing, the overview format and XOVER.

#include <gtest/gtest.h>

#include "engine/GroupSelection.h"
#include "engine/HeaderScan.h"
#include "support/EngineHarness.h"
#include "support/FakeKeyring.h"
#include "support/NntpFixtures.h"

namespace qm::test {
namespace {

TEST(GroupReplyParse, TakesFourNumbersAndZeroForGarbage) {
    GroupReply r = ParseGroupReply("211 25 100 124 alt.pics\r\n");
    EXPECT_EQ(r.code, 211);
    EXPECT_EQ(r.count, 25);
    EXPECT_EQ(r.first, 100);
    EXPECT_EQ(r.last, 124);
    GroupReply g = ParseGroupReply("211 lots of stuff\r\n");
    EXPECT_EQ(g.count, 0);
    EXPECT_EQ(g.first, 0);
    EXPECT_EQ(ParseGroupReply("").code, 0);
}

TEST(Authentication, WithoutCredentialsA480ShowsTheMessageForEveryGroup) {
    EngineHarness h;
    h.SetGroups({"alt.one", "alt.two"});
    h.server.On("GROUP ", "480 authentication required\r\n");
    h.Run();
    ASSERT_EQ(h.prompt.Messages().size(), 2u);
    EXPECT_EQ(h.prompt.Messages()[0],
              "The server has requested authentication.\n\nPlease go to the Authentication tab "
              "in the Setup\ndialog and enter the required username and password\nfor 127.0.0.1");
    EXPECT_EQ(h.CountCommands("AUTHINFO"), 0);
    EXPECT_EQ(h.ReadMark("alt.one"), 1);
    EXPECT_EQ(h.FinalStatus(), "Operation complete");
}

TEST(Authentication, A480IsAnsweredWithUserAndPasswordThenGroupAgain) {
    EngineHarness h;
    h.SetGroups({"alt.one"});
    h.SetServer("UserAuthentication", "1");
    h.SetServer("Username", "joe");
    h.SetServer("Password", "secret");
    h.server.OnSequence("GROUP ",
                        std::vector<std::string>{"480 auth\r\n", "211 0 0 0 alt.one\r\n"});
    h.server.On("AUTHINFO USER", "381 more\r\n");
    h.server.On("AUTHINFO PASS", "281 ok\r\n");
    h.Run();
    EXPECT_EQ(h.Commands(), (std::vector<std::string>{"GROUP alt.one", "AUTHINFO USER joe",
                                                      "AUTHINFO PASS secret", "GROUP alt.one"}));
    EXPECT_EQ(h.FinalStatus(), "Operation complete");
}

TEST(Authentication, A281ToUserSendsNoPassword) {
    EngineHarness h;
    h.SetGroups({"alt.one"});
    h.SetServer("UserAuthentication", "1");
    h.SetServer("Username", "joe");
    h.server.OnSequence("GROUP ",
                        std::vector<std::string>{"480 auth\r\n", "211 0 0 0 alt.one\r\n"});
    h.server.On("AUTHINFO USER", "281 welcome\r\n");
    h.Run();
    EXPECT_EQ(h.CountCommands("AUTHINFO PASS"), 0);
    EXPECT_EQ(h.CountCommands("GROUP"), 2);
}

TEST(Authentication, ForcedExchangeIsRepeatedForEveryGroupOfEveryPass) {
    EngineHarness h;
    h.SetGroups({"alt.one", "alt.two"});
    h.SetServer("ForceAuthInfo", "1");
    h.SetServer("Username", "joe");
    h.SetServer("PromptForPasswd", "1");
    h.prompt.passwordOk = false;  // the user cancels: an empty password goes out
    h.server.On("AUTHINFO USER", "381 more\r\n");
    h.server.On("AUTHINFO PASS", "281 ok\r\n");
    h.Run();
    EXPECT_EQ(h.Commands(),
              (std::vector<std::string>{"AUTHINFO USER joe", "AUTHINFO PASS ", "GROUP alt.one",
                                        "AUTHINFO USER joe", "AUTHINFO PASS ", "GROUP alt.two"}));
    EXPECT_EQ(h.prompt.PasswordPrompts(), 2);
}

TEST(Authentication, A502ToARepeatedExchangeMeansAlreadyAuthenticated) {
    EngineHarness h;
    h.SetGroups({"alt.one", "alt.two"});
    h.SetServer("ForceAuthInfo", "1");
    h.SetServer("Username", "joe");
    h.server.OnSequence("AUTHINFO USER",
                        std::vector<std::string>{"381 more\r\n", "502 already\r\n"});
    h.server.On("AUTHINFO PASS", "281 ok\r\n");
    h.Run();
    EXPECT_EQ(h.CountCommands("GROUP"), 2);
    EXPECT_EQ(h.FinalStatus(), "Operation complete");

    EngineHarness first;  // a 502 before any success is a refusal
    first.SetGroups({"alt.one"});
    first.SetServer("ForceAuthInfo", "1");
    first.server.On("AUTHINFO USER", "502 not for you\r\n");
    first.Run();
    EXPECT_EQ(first.FinalStatus(), "Authentication failed");
    EXPECT_EQ(first.CountCommands("GROUP"), 0);
}

// The login a 480 asks for is not GROUP's alone: the scan's commands get it too, and each is
// sent again after it.
TEST(Authentication, A480ToNewnewsOrHeadIsAnsweredWithALoginAndTheCommandAgain) {
    EngineHarness h;
    h.SetGroups({"alt.pics"});
    h.Set("UseMaxDays", "1");
    h.Set("MaxDays", "2");
    h.Set("SubjectIncl", "nothing-matches");
    h.SetServer("UserAuthentication", "1");
    h.SetServer("Username", "joe");
    for (long n = 1; n <= 20; ++n) h.model.AddArticle("alt.pics", n, Picture("x"));
    h.server.OnSequence(
        "NEWNEWS ", std::vector<std::string>{"480 auth\r\n", MultiLineReply("230 ids", {"<b@x>"})});
    h.server.OnSequence(
        "HEAD <b@x>",
        std::vector<std::string>{"480 auth again\r\n",
                                 MultiLineReply("221 0 <b@x>", {"Xref: host alt.pics:17"})});
    h.server.On("AUTHINFO USER", "281 welcome\r\n");
    h.Run();
    EXPECT_EQ(h.CountCommands("NEWNEWS"), 2);
    EXPECT_EQ(h.CountCommands("HEAD <b@x>"), 2);
    EXPECT_EQ(h.CountCommands("AUTHINFO USER joe"), 2);
    EXPECT_EQ(h.CountCommands("XOVER 17-20"), 1);
    EXPECT_EQ(h.FinalStatus(), "Operation complete");
}

TEST(Authentication, RefusalEndsTheRunButKeepsTheHistory) {
    for (const char* refusal : {"481 bad\r\n", "482 bad\r\n", "502 denied\r\n"}) {
        EngineHarness h;
        h.SetGroups({"alt.one", "alt.two"});
        h.SetServer("UserAuthentication", "1");
        h.server.On("GROUP ", "480 auth\r\n");
        h.server.On("AUTHINFO USER", "381 more\r\n");
        h.server.On("AUTHINFO PASS", refusal);
        TempDir::WriteFile("HistList", "remembered.jpg\n");
        h.Run();
        auto statuses = h.status.Values("status");
        EXPECT_EQ(statuses.back(), "Authentication failed") << refusal;
        EXPECT_EQ(h.CountCommands("GROUP alt.two"), 0);
        EXPECT_EQ(TempDir::ReadFile("HistList"), "remembered.jpg\n");
        EXPECT_EQ(h.status.Count("finished"), 1);
    }
}

// A server section whose password is kept in the keyring, on a server that asks for a login at
// the first GROUP.
void KeepPasswordInKeyring(EngineHarness& h, FakeKeyring& keyring) {
    h.keyring = &keyring;
    h.SetServer("UserAuthentication", "1");
    h.SetServer("Username", "joe");
    h.SetServer("Password", "");
    h.SetServer("PasswordInKeyring", "1");
    h.server.OnSequence("GROUP ",
                        std::vector<std::string>{"480 auth\r\n", "211 0 0 0 alt.one\r\n"});
    h.server.On("AUTHINFO USER", "381 more\r\n");
    h.server.On("AUTHINFO PASS", "281 ok\r\n");
}

const char kKeyringLocked[] =
    "Error--the password for 127.0.0.1 is in the desktop keyring, which cannot be reached: the "
    "keyring is locked";

TEST(Authentication, APasswordKeptInTheKeyringIsReadWhenALoginIsNeeded) {
    {
        EngineHarness h;
        FakeKeyring keyring;
        KeepPasswordInKeyring(h, keyring);
        h.SetGroups({"alt.one"});
        h.SetServer("Password", "stale");  // written by hand: the keyring's holds
        keyring.Put(EngineHarness::kHost, "joe", "kept secret");
        h.Run();
        EXPECT_EQ(h.Commands(),
                  (std::vector<std::string>{"GROUP alt.one", "AUTHINFO USER joe",
                                            "AUTHINFO PASS kept secret", "GROUP alt.one"}));
        EXPECT_EQ(h.FinalStatus(), "Operation complete");
        EXPECT_EQ(keyring.Lookups(), 1);
    }
    {  // A server that never asks: the keyring is not asked either, out of reach or not.
        EngineHarness h;
        FakeKeyring keyring;
        KeepPasswordInKeyring(h, keyring);
        h.SetGroups({"alt.one"});
        h.server.On("GROUP ", "211 0 0 0 alt.one\r\n");
        keyring.MakeUnreachable("the keyring is locked");
        h.Run();
        EXPECT_EQ(keyring.Lookups(), 0);
        EXPECT_EQ(h.CountCommands("AUTHINFO"), 0);
        EXPECT_FALSE(h.status.Saw("status", kKeyringLocked));
        EXPECT_EQ(h.FinalStatus(), "Operation complete");
    }
}

// Without anyone to ask (the runner), the run ends at once and no password goes out, not even
// an empty one; the window shows the same text and asks for the password instead.
TEST(Authentication, APasswordTheKeyringCannotGiveEndsTheRunOrIsAskedFor) {
    {
        EngineHarness h;
        FakeKeyring keyring;
        KeepPasswordInKeyring(h, keyring);
        h.SetServer("ForceAuthInfo", "1");
        h.SetGroups({"alt.one", "alt.two"});
        keyring.MakeUnreachable("the keyring is locked");
        TempDir::WriteFile("HistList", "remembered.jpg\n");
        h.Run();
        EXPECT_TRUE(h.Commands().empty());
        EXPECT_EQ(h.FinalStatus(), kKeyringLocked);
        EXPECT_EQ(h.status.Count("finished"), 1);
        EXPECT_EQ(h.prompt.PasswordPrompts(), 0);
        EXPECT_TRUE(h.prompt.Messages().empty());
        EXPECT_EQ(TempDir::ReadFile("HistList"), "remembered.jpg\n");
    }
    {  // Reached, but holding nothing for the user: said as such.
        EngineHarness h;
        FakeKeyring keyring;
        KeepPasswordInKeyring(h, keyring);
        h.SetGroups({"alt.one"});
        keyring.Put(EngineHarness::kHost, "ann", "not joe's");
        h.Run();
        EXPECT_EQ(h.Commands(), std::vector<std::string>{"GROUP alt.one"});
        EXPECT_EQ(h.FinalStatus(),
                  "Error--the desktop keyring holds no password for joe at "
                  "127.0.0.1");
    }
    {  // The window: the reason, then the prompt; the typed password logs in.
        EngineHarness h;
        FakeKeyring keyring;
        KeepPasswordInKeyring(h, keyring);
        h.SetGroups({"alt.one"});
        keyring.MakeUnreachable("the keyring is locked");
        h.prompt.offersPasswordInstead = true;
        h.prompt.password = "typed";
        h.Run();
        EXPECT_EQ(h.prompt.Messages(), std::vector<std::string>{kKeyringLocked});
        EXPECT_EQ(h.prompt.PasswordPrompts(), 1);
        EXPECT_EQ(h.CountCommands("AUTHINFO PASS typed"), 1);
        EXPECT_EQ(h.FinalStatus(), "Operation complete");
    }
    {  // The prompt cancelled: still no empty password.
        EngineHarness h;
        FakeKeyring keyring;
        KeepPasswordInKeyring(h, keyring);
        h.SetGroups({"alt.one"});
        keyring.MakeUnreachable("the keyring is locked");
        h.prompt.offersPasswordInstead = true;
        h.prompt.passwordOk = false;
        h.Run();
        EXPECT_EQ(h.CountCommands("AUTHINFO"), 0);
        EXPECT_EQ(h.FinalStatus(), kKeyringLocked);
    }
}

TEST(GroupSelection, EmptyOrUnparsableGroupsAreSkippedSilently) {
    EngineHarness h;
    h.SetGroups({"alt.empty", "alt.garbage", "alt.missing"});
    h.server.On("GROUP alt.empty", "211 0 0 0 alt.empty\r\n");
    h.server.On("GROUP alt.garbage", "211 x y z\r\n");
    h.Run();
    EXPECT_EQ(h.CountCommands("XOVER"), 0);
    EXPECT_TRUE(h.prompt.Messages().empty());
    EXPECT_EQ(h.profile.GetString(EngineHarness::kHost, "alt.empty", "none"), "none");
    EXPECT_EQ(h.FinalStatus(), "Operation complete");
}

TEST(HeaderScan, NeverProcessedGroupStartsAtItsFirstArticle) {
    EngineHarness h;
    h.SetGroups({"alt.pics"});
    h.Set("SubjectIncl", "jpg");
    for (long n = 100; n < 110; ++n)
        h.model.AddArticle("alt.pics", n, Picture("p" + std::to_string(n) + ".txt"));
    h.Run();
    EXPECT_EQ(h.CountCommands("XOVER 100-109"), 1);
    EXPECT_EQ(h.ReadMark("alt.pics"), 109);
    EXPECT_TRUE(h.status.Saw("status", "Retrieving up to 10 headers in alt.pics"));
    EXPECT_TRUE(h.status.Saw("status", "No articles found in alt.pics"));
    EXPECT_EQ(h.status.Last("scanned"), "10");

    h.Run();  // mark at the last article: nothing to scan, mark untouched
    EXPECT_EQ(h.CountCommands("XOVER"), 1);
    EXPECT_EQ(h.ReadMark("alt.pics"), 109);
}

TEST(HeaderScan, AGroupReadUpToArticleOneIsNotScannedAgain) {
    EngineHarness h;
    h.SetGroups({"alt.pics"});
    h.Set("LoopOnList", "1");
    h.model.AddArticle("alt.pics", 1, Picture("only.txt"));
    h.Set("SubjectIncl", "jpg");
    h.Run();
    EXPECT_EQ(h.CountCommands("XOVER 1-1"), 1);
    EXPECT_EQ(h.ReadMark("alt.pics"), 1);
    h.Run();  // one pass, nothing scanned
    EXPECT_EQ(h.CountCommands("XOVER"), 1);
    EXPECT_EQ(h.CountCommands("GROUP"), 3);
}

TEST(HeaderScan, FiltersDecideHowManyFilesAreRetrieved) {
    EngineHarness h;
    h.SetGroups({"alt.pics"});
    h.Set("SubjectIncl", "jpg:gif");
    h.Set("SubjectIncl2", "1/1:01/01");
    h.Set("SubjectExcl", "ugly");
    h.Set("MinLines", "100");
    h.Set("MaxLines", "2000");
    h.model.AddArticle("alt.pics", 1, Picture("Sunset.jpg (1/1)"));
    h.model.AddArticle("alt.pics", 2, Picture("Sunset.JPG (1/2)"));  // part of a series
    h.model.AddArticle("alt.pics", 3, Picture("tiny.jpg", 50));      // too short
    h.model.AddArticle("alt.pics", 4, Picture("ugly.gif"));          // excluded: other skipped
    h.model.AddArticle("alt.pics", 5, Picture("notes.txt"));         // not included
    h.model.AddArticle("alt.pics", 6, Picture("beach.gif", 2000));   // limit is inclusive
    h.server.On("ARTICLE ", "430 gone\r\n");
    h.Run();
    EXPECT_TRUE(h.status.Saw("status", "Retrieving 2 files from alt.pics"));
    EXPECT_EQ(h.status.Last("otherSkipped"), "1");
    EXPECT_EQ(h.CountCommands("ARTICLE 1"), 1);
    EXPECT_EQ(h.CountCommands("ARTICLE 6"), 1);
    EXPECT_EQ(h.CountCommands("ARTICLE"), 2);
}

TEST(HeaderScan, XoverRefusedLeavesTheMarkAndOverviewFormatDrivesCrossposts) {
    EngineHarness h;
    h.SetGroups({"alt.pics"});
    h.model.AddArticle("alt.pics", 7, Picture("a.jpg"));
    h.server.On("XOVER ", "502 no overview\r\n");
    h.Run();
    EXPECT_EQ(h.profile.GetString(EngineHarness::kHost, "alt.pics", "none"), "none");

    EngineHarness x;
    x.SetGroups({"alt.pics"});
    x.Set("LimitCrossposts", "1");
    x.Set("CrosspostLimit", "1");
    x.Set("ShowXP", "1");
    ModelArticle three = Picture("three.jpg");
    three.xref = "Xref: host alt.pics:7 alt.b:3 alt.c:9";  // three groups: 2 crossposts
    ModelArticle two = Picture("two.jpg");
    two.xref = "Xref: host alt.pics:8 alt.b:4";
    x.model.AddArticle("alt.pics", 7, three);
    x.model.AddArticle("alt.pics", 8, two);
    x.server.On("ARTICLE ", "430 gone\r\n");
    x.Run();
    EXPECT_EQ(x.CountCommands("ARTICLE"), 1);
    EXPECT_EQ(x.CountCommands("ARTICLE 8"), 1);
    EXPECT_EQ(x.status.Last("from"), "poster@example.com");

    // Without the format the Xref field is not trusted: nothing is counted or skipped.
    EngineHarness n;
    n.SetGroups({"alt.pics"});
    n.Set("LimitCrossposts", "1");
    n.Set("CrosspostLimit", "1");
    n.model.AddArticle("alt.pics", 7, three);
    n.server.On("LIST OVERVIEW.FMT", "503 no\r\n");
    n.server.On("ARTICLE ", "430 gone\r\n");
    n.Run();
    EXPECT_EQ(n.CountCommands("ARTICLE 7"), 1);
}

TEST(HeaderScan, HeaderCountLimitsNarrowTheRange) {
    EngineHarness h;
    h.SetGroups({"alt.pics"});
    h.Set("SubjectIncl", "nothing-matches");
    for (long n = 1; n <= 50; ++n) h.model.AddArticle("alt.pics", n, Picture("x"));
    h.profile.WriteInt(EngineHarness::kHost, "alt.pics", 10);
    h.Set("UseMaxHeaderCount", "1");
    h.Set("MaxHeaderCount", "5");
    h.Set("UseFirstHeaderCount", "1");  // ignored while the other limit is on
    h.Set("FirstHeaderCount", "3");
    h.Run();
    EXPECT_EQ(h.CountCommands("XOVER 46-50"), 1);
    EXPECT_EQ(h.ReadMark("alt.pics"), 50);

    h.profile.WriteInt(EngineHarness::kHost, "alt.pics", 10);
    h.Set("UseMaxHeaderCount", "0");
    h.Run();
    EXPECT_EQ(h.CountCommands("XOVER 11-13"), 1);
    EXPECT_EQ(h.ReadMark("alt.pics"), 13);
}

TEST(HeaderScan, NewnewsAndHeadNarrowTheRangeWithXrefNumbers) {
    EngineHarness h;
    h.SetGroups({"alt.pics"});
    h.Set("UseMaxDays", "1");
    h.Set("MaxDays", "2");
    h.Set("SubjectIncl", "nothing-matches");
    for (long n = 1; n <= 20; ++n) h.model.AddArticle("alt.pics", n, Picture("x"));
    h.server.On("NEWNEWS ",
                MultiLineReply("230 list follows", {"<a@x>", "<b@x>", "<c@x>", "<d@x>"}));
    h.server.On("HEAD <a@x>", "430 no such article\r\n");
    h.server.On("HEAD <b@x>", MultiLineReply("221 0 <b@x>",
                                             {"Subject: x", "Xref: host alt.other:3 alt.pics:17"}));
    h.Run();
    auto commands = h.Commands();
    auto newnews = std::find_if(commands.begin(), commands.end(),
                                [](const std::string& c) { return c.rfind("NEWNEWS", 0) == 0; });
    ASSERT_NE(newnews, commands.end());
    EXPECT_EQ(newnews->substr(newnews->size() - 4), " GMT");
    EXPECT_EQ(newnews->size(), std::string("NEWNEWS alt.pics 261205 101010 GMT").size());
    EXPECT_EQ(h.CountCommands("HEAD"), 2);  // stops at the first number found
    EXPECT_EQ(h.CountCommands("XOVER 17-20"), 1);

    EXPECT_EQ(HeaderScan::ArticleNumberFromXref("Xref: h alt.pics.x:5 alt.pics:9\r\n", "alt.pics"),
              9);
    EXPECT_EQ(HeaderScan::ArticleNumberFromXref("Xref: h alt.other:5\r\n", "alt.pics"), 0);

    EngineHarness r;  // NEWNEWS refused: the range stays
    r.SetGroups({"alt.pics"});
    r.Set("UseMaxDays", "1");
    r.Set("MaxDays", "2");
    r.Set("SubjectIncl", "nothing-matches");
    for (long n = 1; n <= 20; ++n) r.model.AddArticle("alt.pics", n, Picture("x"));
    r.server.On("NEWNEWS ", "502 not allowed\r\n");
    r.Run();
    EXPECT_EQ(r.CountCommands("XOVER 1-20"), 1);
}

// The age limit only narrows the range: what an earlier run handled is not fetched again, which
// would save a picture twice when its name is not in its subject.
TEST(HeaderScan, TheAgeLimitNeverStartsBelowTheReadMark) {
    EngineHarness h;
    h.SetGroups({"alt.pics"});
    h.Set("UseMaxDays", "1");
    h.Set("MaxDays", "30");
    for (long n = 1; n <= 8; ++n)
        h.model.AddArticle("alt.pics", n, Picture("p" + std::to_string(n)));
    h.server.On("NEWNEWS ", MultiLineReply("230 list follows", {"<4@x>", "<5@x>"}));
    h.server.On("HEAD <4@x>", MultiLineReply("221 4 <4@x>", {"Subject: p4"}));
    h.Run();
    EXPECT_EQ(h.CountCommands("XOVER 4-8"), 1);
    EXPECT_EQ(h.CountCommands("ARTICLE"), 5);
    EXPECT_EQ(h.ReadMark("alt.pics"), 8);

    h.model.AddArticle("alt.pics", 9, Picture("p9"));
    h.Run();  // NEWNEWS still names article 4, now below the mark
    EXPECT_EQ(h.CountCommands("HEAD"), 2);
    EXPECT_EQ(h.CountCommands("XOVER 9-9"), 1);
    EXPECT_EQ(h.CountCommands("ARTICLE"), 6);
    EXPECT_EQ(h.CountCommands("ARTICLE 9"), 1);
    EXPECT_EQ(h.ReadMark("alt.pics"), 9);
}

TEST(HeaderScan, ConnectionLostInMidScanKeepsTheStartMark) {
    EngineHarness h;
    h.SetGroups({"alt.pics", "alt.next"});
    std::string reply = "224 overview\r\n";
    for (long n = 1; n <= 30; ++n)
        reply += OverviewLine(n, "a" + std::to_string(n) + ".jpg", "f", "d", 10, 1000) + "\r\n";
    h.server.On("GROUP alt.pics", "211 30 1 30 alt.pics\r\n");
    h.server.On("XOVER ", Reply{.text = reply + ".\r\n",
                                .dropAfterBytes = static_cast<long>(reply.size() / 2)});
    h.profile.WriteInt(EngineHarness::kHost, "alt.pics", 0);
    h.Run();
    EXPECT_EQ(h.FinalStatus(), "Error--connection to 127.0.0.1 lost");
    EXPECT_EQ(h.CountCommands("ARTICLE"), 0);
    EXPECT_EQ(h.ReadMark("alt.pics"), 0);
    EXPECT_EQ(h.CountCommands("GROUP alt.next"), 0);
}

TEST(HeaderScan, CountLimitKeepsTheNewestAcceptedArticles) {
    EngineHarness h;
    h.SetGroups({"alt.pics"});
    h.Set("UseMaxCount", "1");
    h.Set("MaxCount", "10");
    for (long n = 1; n <= 25; ++n)
        h.model.AddArticle("alt.pics", n, Picture("p" + std::to_string(n) + ".jpg"));
    h.server.On("ARTICLE ", "430 gone\r\n");
    h.Run();
    EXPECT_EQ(h.CountCommands("ARTICLE"), 10);
    EXPECT_EQ(h.CountCommands("ARTICLE 16"), 1);
    EXPECT_EQ(h.CountCommands("ARTICLE 15"), 0);
}

}  // namespace
}  // namespace qm::test

namespace qm::test {
namespace {

// Every command the engine sent is one line of printable bytes (the server saw it without CR LF).
void ExpectCleanCommands(const EngineHarness& h) {
    for (const std::string& c : h.Commands()) {
        EXPECT_FALSE(c.empty());
        EXPECT_TRUE(std::all_of(c.begin(), c.end(), [](char ch) { return ch >= ' ' && ch <= '~'; }))
            << c;
    }
}

TEST(HostileServer, OverviewLinesOutsideTheRangeOrWithoutTabsAreNeverFetched) {
    EngineHarness h;
    h.SetGroups({"alt.pics", "alt.next"});
    h.server.On("GROUP alt.pics", "211 3 1 3 alt.pics\r\n");
    std::vector<std::string> lines{OverviewLine(1, "a.jpg", "f", "d", 10, 1000),
                                   "2",  // no tab: its number must not drag CR LF into a command
                                   OverviewLine(1, "again.jpg", "f", "d", 10, 1000),
                                   OverviewLine(3, "c.jpg", "f", "d", 10, 1000)};
    for (long n = 4; n < 2000; ++n) lines.push_back(OverviewLine(n, "x.jpg", "f", "d", 10, 1000));
    lines.push_back("99999999999999999999" +
                    OverviewLine(1, "huge.jpg", "f", "d", 10, 1000).substr(1));
    h.server.On("XOVER ", MultiLineReply("224 overview", lines));
    h.server.On("ARTICLE ", "430 gone\r\n");
    h.Run();
    std::vector<std::string> articles;
    for (const std::string& c : h.Commands()) {
        if (c.rfind("ARTICLE", 0) == 0) articles.push_back(c);
    }
    EXPECT_EQ(articles, (std::vector<std::string>{"ARTICLE 1", "ARTICLE 2", "ARTICLE 3"}));
    EXPECT_EQ(h.CountCommands("GROUP alt.next"), 1);  // still in step with the server
    EXPECT_EQ(h.ReadMark("alt.pics"), 3);
    ExpectCleanCommands(h);
}

TEST(HostileServer, NumbersPastSixtyFourBitsSkipTheGroupAndMarksPastTheEndComeBack) {
    EngineHarness h;
    h.SetGroups({"alt.huge", "alt.renumbered"});
    h.server.On("GROUP alt.huge", "211 5 1 99999999999999999999 alt.huge\r\n");
    h.server.On("GROUP alt.renumbered", "211 5 1 5 alt.renumbered\r\n");
    h.profile.WriteInt(EngineHarness::kHost, "alt.renumbered", 9000000000000000000);
    h.Set("UseMaxDays", "1");
    h.Set("MaxDays", "999999999999999999");
    h.Run();
    EXPECT_TRUE(h.status.Saw(
        "status", "Skipped group alt.huge: the server's article numbers are out of range"));
    EXPECT_EQ(h.profile.GetString(EngineHarness::kHost, "alt.huge", "none"), "none");
    // A mark beyond the last article: nothing found now, but the next pass starts at the end.
    EXPECT_EQ(h.ReadMark("alt.renumbered"), 5);
    EXPECT_EQ(h.CountCommands("XOVER"), 0);
    EXPECT_EQ(h.FinalStatus(), "Operation complete");

    h.profile.WriteInt(EngineHarness::kHost, "alt.renumbered", 0);
    h.Run();  // an age limit before the epoch asks for everything since then
    EXPECT_EQ(h.CountCommands("NEWNEWS alt.renumbered 700101 000000 GMT"), 1);
}

TEST(HostileServer, NewnewsKeepsOnlyValidIdsAndNoMoreThanTheGroupHolds) {
    EngineHarness h;
    h.SetGroups({"alt.pics"});
    h.Set("UseMaxDays", "1");
    h.Set("MaxDays", "2");
    h.server.On("GROUP alt.pics", "211 3 1 3 alt.pics\r\n");
    std::vector<std::string> ids{"<a@b>\rQUIT", "no-brackets", "<sp ace@b>",
                                 "<" + std::string(300, 'x') + "@b>"};
    for (int i = 0; i < 5000; ++i) ids.push_back("<" + std::to_string(i) + "@x>");
    h.server.On("NEWNEWS ", MultiLineReply("230 list follows", ids));
    h.server.On("HEAD ", "430 no\r\n");
    h.Run();
    EXPECT_EQ(h.CountCommands("HEAD"), 3);  // the group holds 3 articles
    EXPECT_EQ(h.CountCommands("HEAD <0@x>"), 1);
    ExpectCleanCommands(h);
}

}  // namespace
}  // namespace qm::test
