// The download engine against a real INN server: the walk over the active groups and its passes,
// login, the header scan with its filters, the age limit through NEWNEWS and HEAD, crosspost
// counts from Xref, read marks, pictures made and encoded by real tools (yEnc by our own encoder)
// arriving byte for byte, hostile names, and the command-line runner from end to end.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <ctime>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "settings/ProfileStore.h"
#include "settings/SettingsKeys.h"
#include "support/DelayProxy.h"
#include "support/EngineHarness.h"
#include "support/InnServerSuite.h"
#include "support/LoopbackPort.h"
#include "support/RawNntpClient.h"
#include "support/RealEncoders.h"
#include "support/Subprocess.h"

namespace qm::test {
namespace {

constexpr const char* kPoster = "poster@example.com";

bool Contains(const std::vector<std::string>& values, const std::string& value) {
    return std::find(values.begin(), values.end(), value) != values.end();
}

// The values recorded from position from on: what one run of several added.
std::vector<std::string> From(const std::vector<std::string>& values, size_t from) {
    return std::vector<std::string>(values.begin() + static_cast<std::ptrdiff_t>(from),
                                    values.end());
}

long CountLines(const std::string& text) {
    return static_cast<long>(std::count(text.begin(), text.end(), '\n'));
}

// The group progress a run reports for passes over two groups.
std::vector<std::string> TwoGroupPasses(int passes) {
    std::vector<std::string> values{"reset"};
    for (int i = 0; i < passes; ++i) {
        values.insert(values.end(), {"1/2", "reset", "2/2", "reset"});
    }
    return values;
}

class EngineInn : public InnServerSuite {
protected:
    void SetUp() override {
        InnServerSuite::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        if (!RealEncodersAvailable()) {
            if (InnServer::RequiredByEnvironment()) {
                FAIL() << "cjpeg, uuencode or base64 missing; run scripts/install-deps.sh";
            }
            GTEST_SKIP() << "cjpeg, uuencode or base64 missing (scripts/install-deps.sh)";
        }
    }

    // A group no other test uses: its articles are numbered from 1.
    std::string NewGroup(const std::string& stem) {
        static int counter = 0;
        std::string name = "alt.binaries.qm.t" + std::to_string(++counter) + "." + stem;
        EXPECT_TRUE(server().CreateGroup(name)) << server().error();
        return name;
    }

    // Posts the articles in order and waits until each group holds its count.
    ::testing::AssertionResult PostAll(const std::vector<std::string>& articles,
                                       const std::map<std::string, long>& counts) {
        if (!server().PostAll(articles)) return ::testing::AssertionFailure() << server().error();
        for (const auto& [group, count] : counts) {
            if (!server().WaitForArticles(group, count)) {
                return ::testing::AssertionFailure() << server().error();
            }
        }
        return ::testing::AssertionSuccess();
    }

    static std::string Article(const std::string& newsgroups, const std::string& subject,
                               const std::string& body, const std::string& headers = "") {
        return std::string("From: ") + kPoster + "\nNewsgroups: " + newsgroups +
               "\nSubject: " + subject + "\n" + headers + "\n" + body;
    }

    // An article carrying data uuencoded by GNU uuencode under name. With lines > 0 the body is
    // padded with text in front to exactly that many lines (the overview's line count).
    static std::string UuArticle(const std::string& newsgroups, const std::string& subject,
                                 const std::string& data, const std::string& name, long lines = 0) {
        std::string error;
        std::string encoded = GnuUuencode(data, name, error);
        if (encoded.empty()) ADD_FAILURE() << error;
        std::string body = "Here is a picture.\n\n" + encoded;
        if (lines > 0) {
            body = encoded;
            EXPECT_LE(CountLines(body), lines) << subject;
            while (CountLines(body) < lines) body = "some words about the picture\n" + body;
        }
        return Article(newsgroups, subject, body);
    }

    static std::string Base64(const std::string& data) {
        std::string error;
        std::string text = CoreutilsBase64(data, error);
        if (text.empty()) ADD_FAILURE() << error;
        return text;
    }

    static std::string Jpeg(int width, int height, unsigned seed, int quality = 85) {
        std::string error;
        std::string jpeg = CjpegEncode(PpmImage(width, height, seed), quality, error);
        if (jpeg.empty()) ADD_FAILURE() << error;
        return jpeg;
    }

    // Runs the engine to its end. A run still going after the limit is stopped and reported:
    // a run that never ends must fail the test, not hang the suite.
    static ::testing::AssertionResult RunToEnd(
        EngineHarness& h, std::chrono::seconds limit = std::chrono::seconds(30)) {
        const int before = h.status.Count("finished");
        const auto deadline = std::chrono::steady_clock::now() + limit;
        h.Start();
        while (h.status.Count("finished") == before &&
               std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        const bool ended = h.status.Count("finished") > before;
        if (!ended) h.RequestStop();
        h.Wait();
        if (ended) return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure()
               << "the run was still going after " << limit.count() << " s; stopped it";
    }

    static std::string Saved(EngineHarness& h, const std::string& name) {
        return TempDir::ReadFile(h.DownloadDir() + name);
    }

    // Whether the saved file holds exactly the expected bytes; tells where it differs if not.
    static ::testing::AssertionResult SavedAs(EngineHarness& h, const std::string& name,
                                              const std::string& expected) {
        const std::string saved = Saved(h, name);
        if (saved == expected) return ::testing::AssertionSuccess();
        auto diff = std::mismatch(saved.begin(), saved.end(), expected.begin(), expected.end());
        return ::testing::AssertionFailure()
               << name << ": " << saved.size() << " bytes saved, " << expected.size()
               << " expected, first difference at offset " << (diff.first - saved.begin());
    }
};

TEST_F(EngineInn, WalksBothGroupsAndLoopsOnlyWhileAPassFindsNewHeaders) {
    const std::string one = NewGroup("one"), two = NewGroup("two");
    const std::string a1 = RandomBytes(2000, 1), a2 = RandomBytes(3100, 2);
    const std::string b1 = RandomBytes(77, 3), b2 = RandomBytes(46, 4);
    ASSERT_TRUE(PostAll(
        {UuArticle(one, "a1.jpg (1/1)", a1, "a1.jpg"), UuArticle(one, "a2.jpg (1/1)", a2, "a2.jpg"),
         UuArticle(two, "b1.jpg (1/1)", b1, "b1.jpg"),
         Article(two, "just talk", "no picture here\n"),
         UuArticle(two, "b2.jpg (1/1)", b2, "b2.jpg")},
        {{one, 2}, {two, 3}}));
    EngineHarness h(server().port());
    h.SetGroups({one, two});
    h.Set("LoopOnList", "1");

    // The first pass harvests both groups, the second finds nothing new and ends the run.
    ASSERT_TRUE(RunToEnd(h));
    std::vector<std::string> statuses = h.status.Values("status");
    ASSERT_GE(statuses.size(), 3u);
    EXPECT_EQ(statuses[0], "Connecting to 127.0.0.1");
    EXPECT_EQ(statuses[1], "Connected to 127.0.0.1");
    EXPECT_TRUE(Contains(statuses, "Retrieving up to 2 headers in " + one));
    EXPECT_TRUE(Contains(statuses, "Retrieving 2 files from " + one));
    EXPECT_TRUE(Contains(statuses, "Retrieving 3 files from " + two));
    EXPECT_TRUE(Contains(statuses, "No articles found in " + two));
    EXPECT_EQ(statuses.back(), "Operation complete");
    EXPECT_EQ(h.status.Values("progress0"), TwoGroupPasses(2));
    EXPECT_EQ(h.SavedFiles(), (std::vector<std::string>{"a1.jpg", "a2.jpg", "b1.jpg", "b2.jpg"}));
    EXPECT_TRUE(SavedAs(h, "a1.jpg", a1));
    EXPECT_TRUE(SavedAs(h, "a2.jpg", a2));
    EXPECT_TRUE(SavedAs(h, "b1.jpg", b1));
    EXPECT_TRUE(SavedAs(h, "b2.jpg", b2));
    EXPECT_EQ(h.status.Calls().back().op, "finished");

    size_t progressBefore = h.status.Count("progress0");
    size_t statusBefore = h.status.Count("status");
    ASSERT_TRUE(RunToEnd(h));  // nothing new on the server: exactly one pass
    EXPECT_EQ(From(h.status.Values("progress0"), progressBefore), TwoGroupPasses(1));
    EXPECT_EQ(From(h.status.Values("status"), statusBefore),
              (std::vector<std::string>{"Connecting to 127.0.0.1", "Connected to 127.0.0.1",
                                        "No articles found in " + one,
                                        "No articles found in " + two, "Operation complete"}));
    EXPECT_EQ(h.status.Count("thumbnail"), 4);
    EXPECT_EQ(h.status.Count("finished"), 2);
}

// A read mark of 1 must mean "handled up to article 1" once the engine has written it.
TEST_F(EngineInn, AGroupReadUpToItsOnlyArticleIsNotScannedAgain) {
    const std::string group = NewGroup("single");
    const std::string only = RandomBytes(500, 5);
    ASSERT_TRUE(PostAll({UuArticle(group, "only.jpg", only, "only.jpg")}, {{group, 1}}));
    EngineHarness h(server().port());
    h.SetGroups({group});
    h.Run();
    EXPECT_TRUE(SavedAs(h, "only.jpg", only));
    EXPECT_EQ(h.ReadMark(group), 1);

    size_t statusBefore = h.status.Count("status");
    h.Run();
    EXPECT_EQ(From(h.status.Values("status"), statusBefore),
              (std::vector<std::string>{"Connecting to 127.0.0.1", "Connected to 127.0.0.1",
                                        "No articles found in " + group, "Operation complete"}));
    EXPECT_EQ(h.status.Last("scanned"), "0");

    h.Set("LoopOnList", "1");
    // A pass that scans the old article again would start another, and so on without end.
    EXPECT_TRUE(RunToEnd(h, std::chrono::seconds(10)));
}

TEST_F(EngineInn, RightPasswordOpensEveryGroupAlsoWhenLoginIsForced) {
    const std::string one = NewGroup("login1"), two = NewGroup("login2");
    const std::string p = RandomBytes(1500, 4), q = RandomBytes(900, 5);
    ASSERT_TRUE(PostAll({UuArticle(one, "p.jpg", p, "p.jpg"), UuArticle(two, "q.jpg", q, "q.jpg")},
                        {{one, 1}, {two, 1}}));
    const int port = server().StartAuthReader("qmreader", "open sesame");
    ASSERT_NE(port, 0) << server().error();

    for (const char* mode : {kUserAuthentication.Key(), kForceAuthInfo.Key()}) {
        SCOPED_TRACE(mode);
        EngineHarness h(port);
        h.SetGroups({one, two});
        h.SetServer(mode, "1");
        h.SetServer(kUsername.Key(), "qmreader");
        h.SetServer(kPassword.Key(), "open sesame");
        h.Run();
        EXPECT_EQ(h.FinalStatus(), "Operation complete");
        EXPECT_EQ(h.SavedFiles(), (std::vector<std::string>{"p.jpg", "q.jpg"}));
        EXPECT_TRUE(SavedAs(h, "p.jpg", p));
        EXPECT_TRUE(SavedAs(h, "q.jpg", q));
        EXPECT_EQ(h.ReadMark(one), 1);
        EXPECT_EQ(h.ReadMark(two), 1);
        EXPECT_TRUE(h.prompt.Messages().empty());
    }
}

TEST_F(EngineInn, RefusedLoginEndsTheRunAndTheHistoryIsStillSaved) {
    const std::string one = NewGroup("refused1"), two = NewGroup("refused2");
    ASSERT_TRUE(PostAll({UuArticle(one, "r.jpg", RandomBytes(500, 6), "r.jpg"),
                         UuArticle(two, "s.jpg", RandomBytes(500, 7), "s.jpg")},
                        {{one, 1}, {two, 1}}));
    const int port = server().StartAuthReader("qmreader", "open sesame");
    ASSERT_NE(port, 0) << server().error();
    {
        EngineHarness h(port);
        h.SetGroups({one, two});
        h.SetServer(kUserAuthentication.Key(), "1");
        h.SetServer(kUsername.Key(), "qmreader");
        h.SetServer(kPassword.Key(), "open sesame!");
        TempDir::WriteFile("HistList", "Old.JPG\r\n");
        h.Run();
        EXPECT_EQ(h.FinalStatus(), "Authentication failed");
        EXPECT_FALSE(Contains(h.status.Values("status"), "Operation complete"));
        EXPECT_EQ(h.status.Count("finished"), 1);
        EXPECT_TRUE(h.SavedFiles().empty());
        EXPECT_EQ(h.profile.GetString(EngineHarness::kHost, one, "none"), "none");
        // Rewritten by the run (lower case, plain line ends): the history was saved.
        EXPECT_EQ(TempDir::ReadFile("HistList"), "old.jpg\n");
    }
    {
        EngineHarness h(port);  // no login configured: each group is refused with a message
        h.SetGroups({one, two});
        h.Run();
        const std::string message =
            "The server has requested authentication.\n\nPlease go to the Authentication tab in "
            "the Setup\ndialog and enter the required username and password\nfor 127.0.0.1";
        EXPECT_EQ(h.prompt.Messages(), (std::vector<std::string>{message, message}));
        EXPECT_EQ(h.FinalStatus(), "Operation complete");
        EXPECT_TRUE(h.SavedFiles().empty());
        EXPECT_EQ(h.profile.GetString(EngineHarness::kHost, two, "none"), "none");
    }
}

TEST_F(EngineInn, FiltersDecideHowManyFilesAreRetrievedPerGroup) {
    const std::string a = NewGroup("filters.a"), b = NewGroup("filters.b");
    // Five lines uuencoded; each picture its own bytes, or the later ones would be copies.
    unsigned seed = 8;
    auto data = [&seed] { return RandomBytes(90, seed++); };
    const std::string low = RandomBytes(90, 100);
    ASSERT_TRUE(PostAll(
        {
            UuArticle(a, "sunset.jpg (1/1)", data(), "sunset.jpg", 40),
            UuArticle(a, "sunset.jpg (1/2)", data(), "sunset1.jpg", 40),  // second list
            UuArticle(a, "notes.txt", data(), "notes.txt", 40),           // first list
            UuArticle(a, "tiny.jpg", data(), "tiny.jpg", 9),              // too short
            UuArticle(a, "huge.gif", data(), "huge.gif", 101),            // too long
            UuArticle(a, "NSFW beach.jpg", data(), "beach.jpg", 40),      // excluded
            UuArticle(a, "low.jpg", low, "low.jpg", 10),                  // limits inclusive
            UuArticle(a, "high.GIF", data(), "high.gif", 100),
            UuArticle(b, "Cat.GIF", data(), "cat.gif", 20),
            UuArticle(b, "dog.jpg [01/01]", data(), "dog.jpg", 20),
            UuArticle(b, "x.jpg 2/3", data(), "x.jpg", 20),
            UuArticle(b, "private party.jpg", data(), "party.jpg", 20),
        },
        {{a, 8}, {b, 4}}));
    EngineHarness h(server().port());
    h.SetGroups({a, b});
    h.Set("SubjectIncl", "jpg:gif");
    h.Set("SubjectIncl2", "1/1:01/01");
    h.Set("SubjectExcl", "nsfw:private");
    h.Set("MinLines", "10");
    h.Set("MaxLines", "100");
    h.Run();
    std::vector<std::string> statuses = h.status.Values("status");
    EXPECT_TRUE(Contains(statuses, "Retrieving up to 8 headers in " + a));
    EXPECT_TRUE(Contains(statuses, "Retrieving 3 files from " + a));
    EXPECT_TRUE(Contains(statuses, "Retrieving up to 4 headers in " + b));
    EXPECT_TRUE(Contains(statuses, "Retrieving 2 files from " + b));
    EXPECT_EQ(h.FinalStatus(), "Operation complete");
    EXPECT_EQ(h.status.Last("scanned"), "12");
    EXPECT_EQ(h.status.Last("otherSkipped"), "2");
    EXPECT_EQ(h.SavedFiles(), (std::vector<std::string>{"cat.gif", "dog.jpg", "high.gif", "low.jpg",
                                                        "sunset.jpg"}));
    EXPECT_TRUE(SavedAs(h, "low.jpg", low));
    EXPECT_EQ(h.ReadMark(a), 8);
    EXPECT_EQ(h.ReadMark(b), 4);
}

TEST_F(EngineInn, AgeLimitStartsAtTheFirstArticleNewnewsNamesButNeverBelowTheReadMark) {
    const std::string other = NewGroup("aged.other"), group = NewGroup("aged");
    std::vector<std::string> articles;
    for (int i = 0; i < 3; ++i) articles.push_back(Article(other, "chatter", "just text\n"));
    // The first new article of the group is cross-posted: its Xref names the other group first,
    // under a different number, and INN answers HEAD by message-id with the number 0.
    std::vector<std::string> data;
    for (unsigned i = 1; i <= 4; ++i) {
        data.push_back(RandomBytes(600 + i, 10 + i));
        std::string name = "p" + std::to_string(i) + ".jpg";
        articles.push_back(
            UuArticle(i == 1 ? other + "," + group : group, name, data.back(), name));
    }
    ASSERT_TRUE(PostAll(articles, {{other, 4}, {group, 4}}));

    EngineHarness h(server().port());
    h.SetGroups({group});
    h.Set("UseMaxDays", "1");
    h.Set("MaxDays", "2");
    const std::time_t expectedLimit = std::time(nullptr) - 2 * 86400;
    h.Run();
    std::vector<std::string> statuses = h.status.Values("status");
    const std::string since = "Requesting new headers since: ";
    auto request = std::find_if(statuses.begin(), statuses.end(),
                                [&](const std::string& s) { return s.rfind(since, 0) == 0; });
    ASSERT_NE(request, statuses.end());
    std::tm shown{};
    ASSERT_NE(::strptime(request->c_str() + since.size(), "%d %b %Y %H:%M", &shown), nullptr)
        << *request;
    shown.tm_isdst = -1;
    EXPECT_LT(std::abs(std::difftime(std::mktime(&shown), expectedLimit)), 600.0) << *request;
    // NEWNEWS names all four; the HEAD of the first gives article 1, leaving three to count.
    EXPECT_TRUE(Contains(statuses, "Retrieving up to 3 headers in " + group));
    EXPECT_TRUE(Contains(statuses, "Retrieving 4 files from " + group));
    EXPECT_EQ(h.SavedFiles(), (std::vector<std::string>{"p1.jpg", "p2.jpg", "p3.jpg", "p4.jpg"}));
    EXPECT_TRUE(SavedAs(h, "p1.jpg", data[0]));
    EXPECT_EQ(h.ReadMark(group), 4);
    EXPECT_EQ(h.FinalStatus(), "Operation complete");

    // As if articles 1 and 2 had been read: NEWNEWS names all four again, but the scan starts
    // after the mark, not at article 1.
    h.SetServer(group, "2");
    h.Run();
    statuses = From(h.status.Values("status"), statuses.size());
    EXPECT_TRUE(Contains(statuses, "Retrieving up to 2 headers in " + group));
    EXPECT_FALSE(Contains(statuses, "Retrieving up to 3 headers in " + group));
    EXPECT_EQ(h.ReadMark(group), 4);
}

TEST_F(EngineInn, CrosspostCountComesFromTheXrefField) {
    const std::string a = NewGroup("xp.a"), b = NewGroup("xp.b"), c = NewGroup("xp.c");
    const std::string solo = RandomBytes(700, 20), cross = RandomBytes(800, 21);
    ASSERT_TRUE(PostAll({UuArticle(a, "solo.jpg", solo, "solo.jpg"),
                         UuArticle(a + "," + b + "," + c, "cross.jpg (1/1)", cross, "cross.jpg")},
                        {{a, 2}, {b, 1}, {c, 1}}));
    {
        EngineHarness h(server().port());
        h.SetGroups({a});
        h.Set("LimitCrossposts", "1");
        h.Set("CrosspostLimit", "1");
        h.Run();
        EXPECT_TRUE(Contains(h.status.Values("status"), "Retrieving 1 files from " + a));
        EXPECT_EQ(h.SavedFiles(), std::vector<std::string>{"solo.jpg"});
        EXPECT_EQ(h.ReadMark(a), 2);
    }
    {
        EngineHarness h(server().port());
        h.SetGroups({a, b, c});
        h.Set("LimitCrossposts", "1");
        h.Set("CrosspostLimit", "2");
        h.Set("ShowXP", "1");
        h.Set("ACDSeeDescription", "1");
        h.Run();
        std::vector<std::string> statuses = h.status.Values("status");
        EXPECT_TRUE(Contains(statuses, "Retrieving 2 files from " + a));
        // The same article in the other two groups is a history hit, not a second download.
        EXPECT_TRUE(Contains(statuses, "No articles found in " + b));
        EXPECT_TRUE(Contains(statuses, "No articles found in " + c));
        EXPECT_EQ(h.status.Last("historySkipped"), "2");
        EXPECT_EQ(h.SavedFiles(),
                  (std::vector<std::string>{"Descript.ion", "cross.jpg", "solo.jpg"}));
        EXPECT_TRUE(SavedAs(h, "cross.jpg", cross));
        EXPECT_EQ(Saved(h, "Descript.ion"),
                  "solo.jpg [0] solo.jpg -> poster@example.com\n"
                  "cross.jpg [2] cross.jpg (1/1) -> poster@example.com\n");
    }
}

TEST_F(EngineInn, ReadMarksRecordTheLastArticleAndLaterRunsFetchOnlyNewOnes) {
    const std::string group = NewGroup("marks");
    std::vector<std::string> articles;
    for (int i = 1; i <= 3; ++i) {
        std::string name = "m" + std::to_string(i) + ".jpg";
        articles.push_back(UuArticle(group, name, RandomBytes(300, 30 + i), name));
    }
    ASSERT_TRUE(PostAll(articles, {{group, 3}}));
    // The first run through a relay that counts the connections: three fetch the articles.
    DelayProxy relay(server().port(), std::chrono::milliseconds(0));
    ASSERT_TRUE(relay.Start()) << relay.error();
    EngineHarness h(relay.port());
    h.SetGroups({group});
    h.SetServer("Connections", "3");
    h.Run();
    EXPECT_EQ(relay.Connections(), 3);
    EXPECT_EQ(h.FinalStatus(), "Operation complete");
    EXPECT_EQ(h.ReadMark(group), 3);
    h.Set("NNTPPort", std::to_string(server().port()));
    ProfileStore onDisk(h.dir / "quarrymoth.ini");
    EXPECT_EQ(onDisk.GetString(EngineHarness::kHost, group, ""), "3");
    EXPECT_EQ(h.SavedFiles().size(), 3u);

    size_t statusBefore = h.status.Count("status");
    h.Run();  // nothing new
    EXPECT_EQ(From(h.status.Values("status"), statusBefore),
              (std::vector<std::string>{"Connecting to 127.0.0.1", "Connected to 127.0.0.1",
                                        "No articles found in " + group, "Operation complete"}));
    EXPECT_EQ(h.SavedFiles().size(), 3u);
    EXPECT_EQ(h.status.Count("thumbnail"), 3);
    EXPECT_EQ(h.ReadMark(group), 3);

    const std::string fourth = RandomBytes(444, 34);
    ASSERT_TRUE(PostAll({UuArticle(group, "m4.jpg", fourth, "m4.jpg")}, {{group, 4}}));
    h.Run();  // only the new article
    EXPECT_TRUE(Contains(h.status.Values("status"), "Retrieving 1 files from " + group));
    EXPECT_EQ(h.status.Count("thumbnail"), 4);
    EXPECT_TRUE(SavedAs(h, "m4.jpg", fourth));
    EXPECT_EQ(h.ReadMark(group), 4);

    // Back before the first article: everything is scanned again, and the history holds it back.
    h.SetServer(group, "0");
    h.Run();
    EXPECT_TRUE(Contains(h.status.Values("status"), "Retrieving up to 4 headers in " + group));
    EXPECT_EQ(h.status.Last("historySkipped"), "4");
    EXPECT_EQ(h.status.Count("thumbnail"), 4);
    EXPECT_EQ(h.SavedFiles().size(), 4u);
    EXPECT_EQ(h.ReadMark(group), 4);
}

// A JPEG whose size leaves 14 bytes for uuencode's last line, whose length character is then
// "." so that the server has to dot-stuff it.
std::string JpegEndingInADotLine(std::string& encoded) {
    for (unsigned seed = 100; seed < 600; ++seed) {
        std::string error;
        std::string jpeg = CjpegEncode(PpmImage(64, 48, seed), 80, error);
        if (jpeg.empty()) {
            ADD_FAILURE() << error;
            return "";
        }
        if (jpeg.size() % 45 != 14) continue;
        encoded = GnuUuencode(jpeg, "dotted.jpg", error);
        if (encoded.empty()) ADD_FAILURE() << error;
        return jpeg;
    }
    ADD_FAILURE() << "no JPEG size found that leaves 14 bytes for the last line";
    return "";
}

TEST_F(EngineInn, PicturesMadeByRealEncodersArriveByteForByte) {
    const std::string group = NewGroup("pictures");
    const std::string small = Jpeg(48, 32, 1), large = Jpeg(640, 480, 2, 92);
    const std::string sunrise = Jpeg(320, 240, 3), spaced = Jpeg(200, 150, 4);
    const std::string yenc = Jpeg(400, 300, 5, 90);
    // A yEnc poster that leaves a leading "." plain: 0x04 + 42 is ".", first on its line.
    const std::string ydot = std::string(128, '\x37') + '\x04' + Jpeg(64, 48, 6);
    std::string ydotText = YEncode(ydot, "ydot.jpg");
    ydotText.replace(ydotText.find("\n=n") + 1, 2, ".");
    std::string dottedText;
    const std::string dotted = JpegEndingInADotLine(dottedText);
    ASSERT_FALSE(dotted.empty());
    ASSERT_NE(dottedText.find("\n.", dottedText.find('\n')), std::string::npos) << dottedText;

    const std::string single = Article(group, "sunrise", Base64(sunrise),
                                       "MIME-Version: 1.0\n"
                                       "Content-Type: image/jpeg; name=\"sunrise.jpg\"\n"
                                       "Content-Transfer-Encoding: base64\n");
    const std::string boundary = "----=_NextPart_000_0001";
    const std::string multipart = Article(
        group, "my picture",
        "This is a multi-part message in MIME format.\n\n--" + boundary +
            "\nContent-Type: text/plain; charset=us-ascii\n\nA picture for you.\n\n--" + boundary +
            "\nContent-Type: image/jpeg\nContent-Transfer-Encoding: base64\n"
            "Content-Disposition: attachment; filename=\"my pic.jpg\"\n\n" +
            Base64(spaced) + "--" + boundary + "--\n\nThe end.\n",
        "MIME-Version: 1.0\nContent-Type: multipart/mixed; boundary=\"" + boundary + "\"\n");
    ASSERT_TRUE(PostAll({UuArticle(group, "small.jpg (1/1)", small, "small.jpg"),
                         Article(group, "dotted.jpg", "A dotted one.\n\n" + dottedText), single,
                         multipart, UuArticle(group, "large.jpg (1/1)", large, "large.jpg"),
                         Article(group, "yenc picture.jpg yEnc (1/1)",
                                 "Posted with yEnc.\n\n" + YEncode(yenc, "yenc picture.jpg")),
                         Article(group, "ydot.jpg yEnc", ydotText)},
                        {{group, 7}}));

    // The server sends the line that begins with "." doubled, as NNTP requires.
    RawNntpClient raw;
    ASSERT_TRUE(raw.Connect(server().port()));
    ASSERT_EQ(RawNntpClient::Code(raw.Command("GROUP " + group)), 211);
    ASSERT_EQ(RawNntpClient::Code(raw.Command("ARTICLE 2")), 220);
    bool stuffed = false;
    for (std::string line; raw.ReadLine(line) && line != ".";) stuffed |= line.rfind("..", 0) == 0;
    EXPECT_TRUE(stuffed);

    EngineHarness h(server().port());
    h.SetGroups({group});
    h.Set("MaxLines", "20000");  // the large picture is some 3,500 lines
    h.Run();
    EXPECT_EQ(h.FinalStatus(), "Operation complete");
    EXPECT_EQ(h.SavedFiles(),
              (std::vector<std::string>{"dotted.jpg", "large.jpg", "mypic.jpg", "small.jpg",
                                        "sunrise.jpg", "ydot.jpg", "yenc picture.jpg"}));
    EXPECT_TRUE(SavedAs(h, "small.jpg", small));
    EXPECT_TRUE(SavedAs(h, "dotted.jpg", dotted));
    EXPECT_TRUE(SavedAs(h, "sunrise.jpg", sunrise));
    EXPECT_TRUE(SavedAs(h, "mypic.jpg", spaced));
    EXPECT_TRUE(SavedAs(h, "large.jpg", large));
    EXPECT_TRUE(SavedAs(h, "yenc picture.jpg", yenc));
    EXPECT_TRUE(SavedAs(h, "ydot.jpg", ydot));
    EXPECT_EQ(TempDir::ReadFile("HistList"),
              "small.jpg\ndotted.jpg\nsunrise.jpg\nmypic.jpg\nlarge.jpg\nyenc picture.jpg\n"
              "ydot.jpg\n");
}

// Pictures posted in parts, as posting programs post anything above about 700 KiB: a 5-part yEnc
// picture out of order, a 3-part uuencoded one, and one whose last part comes after the first run.
TEST_F(EngineInn, MultiPartPicturesArePutTogetherAcrossRuns) {
    const std::string group = NewGroup("parts");
    const std::string five = Jpeg(800, 600, 21, 95), uu = Jpeg(500, 400, 22),
                      late = Jpeg(300, 200, 23);
    auto yPart = [&](const std::string& data, const std::string& name, int k, int n) {
        const std::size_t step = (data.size() + n - 1) / n;
        const std::size_t begin = (k - 1) * step + 1, end = std::min(data.size(), k * step);
        return Article(group,
                       "[1/3] - \"" + name + "\" yEnc (" + std::to_string(k) + "/" +
                           std::to_string(n) + ") " + std::to_string(data.size()),
                       YEncode(data, name, YEncPart{k, n, begin, end}));
    };
    std::string error;
    const std::string encoded = GnuUuencode(uu, "uu.jpg", error);
    ASSERT_FALSE(encoded.empty()) << error;
    std::vector<std::string> lines;
    for (std::size_t at = 0; at < encoded.size();) {
        const std::size_t end = encoded.find('\n', at) + 1;
        lines.push_back(encoded.substr(at, end - at));
        at = end;
    }
    auto uuPart = [&](int k) {
        const std::size_t step = (lines.size() + 2) / 3;
        std::string body;
        for (std::size_t i = (k - 1) * step; i < std::min(lines.size(), k * step); ++i) {
            body += lines[i];
        }
        return Article(group, "uu.jpg (" + std::to_string(k) + "/3)", body);
    };
    ASSERT_TRUE(PostAll({yPart(five, "five.jpg", 4, 5), uuPart(1), yPart(five, "five.jpg", 1, 5),
                         yPart(late, "late.jpg", 1, 3), yPart(five, "five.jpg", 5, 5), uuPart(3),
                         yPart(five, "five.jpg", 2, 5), yPart(late, "late.jpg", 2, 3), uuPart(2),
                         yPart(five, "five.jpg", 3, 5)},
                        {{group, 10}}));
    EngineHarness h(server().port());
    h.SetGroups({group});
    h.Set("MinLines", "1");
    h.Set("MaxLines", "100000");
    ASSERT_TRUE(RunToEnd(h));
    EXPECT_EQ(h.FinalStatus(), "Operation complete");
    EXPECT_EQ(h.SavedFiles(), (std::vector<std::string>{"five.jpg", "uu.jpg"}));
    EXPECT_TRUE(SavedAs(h, "five.jpg", five));
    EXPECT_TRUE(SavedAs(h, "uu.jpg", uu));
    EXPECT_TRUE(h.status.Saw("status", "1 multi-part post waits for missing parts"));

    ASSERT_TRUE(PostAll({yPart(late, "late.jpg", 3, 3)}, {{group, 11}}));
    ASSERT_TRUE(RunToEnd(h));
    EXPECT_EQ(h.SavedFiles(), (std::vector<std::string>{"five.jpg", "late.jpg", "uu.jpg"}));
    EXPECT_TRUE(SavedAs(h, "late.jpg", late));
    EXPECT_EQ(h.ReadMark(group), 11);
}

TEST_F(EngineInn, HostileNamesLandInsideTheSaveDirectory) {
    const std::string group = NewGroup("hostile");
    const std::string escape = "qm-escape-" + std::to_string(::getpid()) + ".jpg";
    const std::string up = RandomBytes(1200, 40), picture = Jpeg(64, 64, 41);
    // A uuencoded name that climbs two levels up, and a MIME name that climbs one.
    const std::string mime =
        Article(group, "up one",
                "----XYZ\nContent-Type: image/jpeg\nContent-Transfer-Encoding: base64\n"
                "Content-Disposition: attachment; filename=\"../up one.jpg\"\n\n" +
                    Base64(picture) + "----XYZ--\n",
                "MIME-Version: 1.0\nContent-Type: multipart/mixed; boundary=\"--XYZ\"\n");
    ASSERT_TRUE(PostAll({UuArticle(group, "escape", up, "../../" + escape), mime}, {{group, 2}}));
    EngineHarness h(server().port());
    h.SetGroups({group});
    h.Run();
    EXPECT_EQ(h.FinalStatus(), "Operation complete");
    EXPECT_EQ(h.SavedFiles(), (std::vector<std::string>{escape, "upone.jpg"}));
    EXPECT_TRUE(SavedAs(h, escape, up));
    EXPECT_TRUE(SavedAs(h, "upone.jpg", picture));
    EXPECT_FALSE(TempDir::Exists(h.dir / escape));
    EXPECT_FALSE(TempDir::Exists("/tmp/" + escape));
}

TEST_F(EngineInn, CommandLineRunnerHarvestsAndReportsAnUnreachableServer) {
    const std::string group = NewGroup("cli");
    const std::string data = RandomBytes(1000, 50);
    ASSERT_TRUE(PostAll({UuArticle(group, "cli.jpg", data, "cli.jpg")}, {{group, 1}}));
    EngineHarness h(server().port());  // only its directory, profile and group file are used
    h.SetGroups({group});
    const std::string profilePath = h.dir / "quarrymoth.ini";
    const std::vector<std::string> run{QM_CLI_PATH, "run",       "--profile",
                                       profilePath, "--datadir", h.dir.path()};

    ProcessResult ok = RunProcess(run);
    EXPECT_EQ(ok.exitCode, 0) << ok.output << ok.errors;
    EXPECT_NE(ok.output.find("Operation complete"), std::string::npos) << ok.output;
    EXPECT_TRUE(SavedAs(h, "cli.jpg", data));
    EXPECT_EQ(ProfileStore(profilePath).GetString(EngineHarness::kHost, group, ""), "1");
    EXPECT_EQ(TempDir::ReadFile(h.dir / "HistList"), "cli.jpg\n");

    h.Set("NNTPPort", std::to_string(UnusedLoopbackPort()));
    ProcessResult refused = RunProcess(run);
    EXPECT_EQ(refused.exitCode, 1) << refused.output << refused.errors;
    EXPECT_NE(refused.output.find("Can't connect to server"), std::string::npos) << refused.output;
    EXPECT_EQ(refused.output.find("Operation complete"), std::string::npos) << refused.output;
}

}  // namespace
}  // namespace qm::test
