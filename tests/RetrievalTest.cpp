// A whole harvest against the scripted server: articles fetched, pictures decoded and saved,
// names made safe, logs, history, read marks, stops and failures.

#include <gtest/gtest.h>
#include <sys/mount.h>

#include <algorithm>
#include <chrono>
#include <mutex>
#include <thread>

#include "engine/ArticleRetrieval.h"
#include "settings/SetupFiles.h"
#include "support/EngineHarness.h"
#include "support/RealEncoders.h"
#include "util/TextFiles.h"

namespace qm::test {
namespace {

ModelArticle Uu(const std::string& subject, const std::string& data, const std::string& name) {
    ModelArticle a;
    a.subject = subject;
    a.body = "Here is a picture.\n\n" + UuencodeBody(data, name);
    return a;
}

ModelArticle Mime(const std::string& subject, const std::string& data, const std::string& header) {
    ModelArticle a;
    a.subject = subject;
    a.body =
        "MIME-Version: 1.0\nContent-Type: multipart/mixed; boundary=\"XX\"\n\n--XX\n"
        "Content-Type: text/plain\n\nhello\n--XX\n" +
        header + "\nContent-Transfer-Encoding: base64\n\n" + Base64Lines(data) + "----XX--\n";
    return a;
}

ModelArticle YEnc(const std::string& subject, const std::string& text) {
    ModelArticle a;
    a.subject = subject;
    a.body = "A yEnc picture.\n\n" + text;
    return a;
}

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
    const std::size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return at == std::string::npos ? text : text.replace(at, from.size(), to);
}

// An ARTICLE reply as the model's server would send it, for rules that pace or cut it.
std::string WireArticle(const NewsModel& model, long number) {
    std::string text =
        "220 " + std::to_string(number) + " <" + std::to_string(number) + "@test>\r\n";
    std::string body = model.ArticleText("alt.pics", number);
    for (char c : body) {
        if (c == '\n') text += '\r';
        text += c;
    }
    return text + ".\r\n";
}

class Harvest : public ::testing::Test {
protected:
    void SetUp() override {
        h.SetGroups({"alt.pics"});
        h.Set("EnableLogging", "1");
        h.Set("LogFile", "DownloadLog");
        h.Set("ACDSeeDescription", "1");
    }
    std::string Saved(const std::string& name) { return TempDir::ReadFile(h.DownloadDir() + name); }
    EngineHarness h;
};

TEST_F(Harvest, UuencodedBase64AndYEncPicturesAreSavedByteForByte) {
    std::string one = RandomBytes(20000, 1), two = FakeJpeg(30001, 2), three = FakeJpeg(4000, 3);
    std::string four = RandomBytes(50000, 4);
    h.model.AddArticle("alt.pics", 1, Uu("One.jpg (1/1)", one, "One.jpg"));
    h.model.AddArticle("alt.pics", 2,
                       Mime("two", two, "Content-Type: image/jpeg; name=\"my pic.jpg\""));
    ModelArticle bare = Mime("Beach.JPG yes", three, "Content-Type: application/octet-stream");
    h.model.AddArticle("alt.pics", 3, bare);
    h.model.AddArticle("alt.pics", 4, YEnc("Four.jpg yEnc (1/1)", YEncode(four, "Four.jpg")));
    h.Set("SaveAscii", "1");  // the text copy is for MIME pictures only
    h.Run();
    EXPECT_EQ(h.FinalStatus(), "Operation complete");
    EXPECT_EQ(h.SavedFiles(),
              (std::vector<std::string>{"Descript.ion", "Four.jpg", "One.jpg", "beach.jpg",
                                        "beach.jpga", "mypic.jpg", "mypic.jpga"}));
    EXPECT_EQ(Saved("One.jpg"), one);
    EXPECT_EQ(Saved("mypic.jpg"), two);
    EXPECT_EQ(Saved("beach.jpg"), three);
    EXPECT_TRUE(Saved("Four.jpg") == four);
    EXPECT_TRUE(h.status.Saw("savingTo", h.DownloadDir() + "Four.jpg"));
    EXPECT_EQ(TempDir::ReadFile("DownloadLog"),
              h.DownloadDir() + "One.jpg -> poster@example.com\n" + h.DownloadDir() +
                  "mypic.jpg -> poster@example.com\n" + h.DownloadDir() +
                  "beach.jpg -> poster@example.com\n" + h.DownloadDir() +
                  "Four.jpg -> poster@example.com\n");
    EXPECT_EQ(Saved("Descript.ion"),
              "one.jpg One.jpg (1/1) -> poster@example.com\nmypic.jpg two -> poster@example.com\n"
              "beach.jpg Beach.JPG yes -> poster@example.com\n"
              "four.jpg Four.jpg yEnc (1/1) -> poster@example.com\n");
    EXPECT_EQ(TempDir::ReadFile("HistList"), "one.jpg\nmypic.jpg\nbeach.jpg\nfour.jpg\n");
    EXPECT_EQ(h.ReadMark("alt.pics"), 4);
    EXPECT_EQ(h.status.Values("thumbnail").size(), 4u);
    EXPECT_EQ(h.status.Last("saved"), "4");
    EXPECT_GT(h.shared.BinaryRate(), 0);  // articles faster than a second still count

    h.Run();  // a second run saves nothing new
    EXPECT_EQ(h.CountCommands("ARTICLE"), 4);
    EXPECT_EQ(h.SavedFiles().size(), 7u);
}

TEST_F(Harvest, DotStuffedLinesAreDecodedAsPosted) {
    // 14 bytes in the last line make its count character a dot, which the server doubles.
    std::string data = RandomBytes(45 * 3 + 14, 11);
    ASSERT_EQ(UuencodeBody(data, "dot.jpg").find("\n.") != std::string::npos, true);
    h.model.AddArticle("alt.pics", 1, Uu("dot.jpg", data, "dot.jpg"));
    // yEnc posters need not escape a leading dot: 0x04 + 42 is ".", the first of its line.
    const std::string yencData = std::string(128, '\x37') + '\x04' + RandomBytes(300, 12);
    std::string text = YEncode(yencData, "ydot.jpg");
    ASSERT_NE(text.find("\n=n"), std::string::npos);
    text = text.replace(text.find("\n=n") + 1, 2, ".");
    h.model.AddArticle("alt.pics", 2, YEnc("ydot.jpg", text));
    h.Run();
    EXPECT_EQ(Saved("dot.jpg"), data);
    EXPECT_TRUE(Saved("ydot.jpg") == yencData);
}

TEST_F(Harvest, HostileNamesStayInTheSaveDirectoryAndTheRunGoesOn) {
    // Each picture its own bytes: the same bytes twice would be a repost, saved once.
    auto data = [](unsigned n) { return RandomBytes(900, 40 + n); };
    h.model.AddArticle("alt.pics", 1, Uu("a", data(1), "../../x.jpg"));
    h.model.AddArticle("alt.pics", 2, Uu("b", data(2), "/etc/evil.jpg"));
    h.model.AddArticle("alt.pics", 3, Uu("c", data(3), "c:\\dir\\win.jpg"));
    h.model.AddArticle("alt.pics", 4, Uu("d", data(4), ".."));
    h.model.AddArticle("alt.pics", 5,
                       Mime("e", FakeJpeg(500, 5),
                            "Content-Type: application/octet-stream\nContent-Disposition: "
                            "attachment; filename=\"../up one.jpg\""));
    h.model.AddArticle("alt.pics", 6, Uu("f", data(6), std::string(400, 'L') + ".jpg"));
    h.model.AddArticle("alt.pics", 7, Uu("g", data(7), "ok.jpg"));
    h.model.AddArticle("alt.pics", 8, YEnc("h", YEncode(data(8), "../../y name.jpg")));
    h.Run();
    auto files = h.SavedFiles();
    EXPECT_FALSE(TempDir::Exists(h.dir / "x.jpg"));
    EXPECT_FALSE(TempDir::Exists("/etc/evil.jpg"));
    for (const std::string& f : files) EXPECT_EQ(f.find('/'), std::string::npos) << f;
    EXPECT_EQ(Saved("x.jpg"), data(1));
    EXPECT_EQ(Saved("evil.jpg"), data(2));
    EXPECT_EQ(Saved("win.jpg"), data(3));
    EXPECT_EQ(Saved("upone.jpg").size(), 500u);
    EXPECT_EQ(Saved("ok.jpg"), data(7));
    EXPECT_EQ(Saved("y name.jpg"), data(8));
    EXPECT_EQ(h.FinalStatus(), "Operation complete");
    EXPECT_EQ(h.ReadMark("alt.pics"), 8);
}

// The hidden names belong to pictures in progress: one posted under such a name would be emptied
// and renamed away by a later article that happens to get the same temporary name.
TEST_F(Harvest, APostedNameNeverTakesTheFormOfAPictureInProgress) {
    const std::string reserved = ".qm-partial-" + std::to_string(::getpid()) + "-1";
    h.model.AddArticle("alt.pics", 1, Uu("a", "first", reserved));
    h.model.AddArticle("alt.pics", 2,
                       Mime("b", FakeJpeg(300, 9),
                            "Content-Type: image/jpeg; "
                            "name=\"" +
                                reserved + ".jpg\""));
    h.model.AddArticle("alt.pics", 3, Uu("c", "third", "third.jpg"));
    h.Run();
    EXPECT_EQ(h.SavedFiles(), (std::vector<std::string>{"Descript.ion", reserved.substr(1),
                                                        reserved.substr(1) + ".jpg", "third.jpg"}));
    EXPECT_EQ(Saved(reserved.substr(1)), "first");
    EXPECT_EQ(Saved(reserved.substr(1) + ".jpg"), FakeJpeg(300, 9));
    EXPECT_EQ(TempDir::ReadFile("HistList"), reserved.substr(1) + ".jpg\nthird.jpg\n");
}

TEST_F(Harvest, TextThatMerelyStartsWithBeginIsNotAnAttachment) {
    ModelArticle a = Uu("real.jpg", RandomBytes(3000, 6), "real.jpg");
    a.body = "beginning of my post with some words\n" + a.body;
    h.model.AddArticle("alt.pics", 1, a);
    h.Run();
    EXPECT_EQ(h.SavedFiles(), (std::vector<std::string>{"Descript.ion", "real.jpg"}));
    EXPECT_EQ(Saved("real.jpg"), RandomBytes(3000, 6));
}

TEST_F(Harvest, ExistingFilesAreKeptAndTheNewPictureGetsAFreeName) {
    TempDir::WriteFile(h.DownloadDir() + "pic.jpg", "older picture");
    std::string data = RandomBytes(1000, 7);
    h.model.AddArticle("alt.pics", 1, Uu("pic.jpg", data, "pic.jpg"));
    h.Run();
    EXPECT_EQ(Saved("pic.jpg"), "older picture");
    EXPECT_EQ(Saved("pic(1).jpg"), data);
    EXPECT_EQ(h.status.Last("thumbnail"), h.DownloadDir() + "pic(1).jpg");
    EXPECT_EQ(TempDir::ReadFile("DownloadLog"),
              h.DownloadDir() + "pic(1).jpg -> poster@example.com\n");
    EXPECT_EQ(TempDir::ReadFile("HistList"), "pic.jpg\n");
}

// The same bytes under another name, in another group or a later run, are not saved again: the
// repost is a history hit by content, and its name joins the history so it is not fetched again.
TEST_F(Harvest, ExactCopiesAreNotSavedAgainAcrossGroupsAndRuns) {
    const std::string data = FakeJpeg(30000, 11), other = FakeJpeg(30000, 12);
    h.SetGroups({"alt.pics", "alt.other"});
    h.model.AddArticle("alt.pics", 1, Uu("first.jpg", data, "first.jpg"));
    h.model.AddArticle("alt.other", 1,
                       Mime("again", data, "Content-Type: image/jpeg; name=again.jpg"));
    h.model.AddArticle("alt.other", 2, YEnc("new.jpg yEnc", YEncode(other, "new.jpg")));
    h.Run();
    EXPECT_EQ(h.FinalStatus(), "Operation complete");
    EXPECT_EQ(h.SavedFiles(), (std::vector<std::string>{"Descript.ion", "first.jpg", "new.jpg"}));
    EXPECT_TRUE(h.status.Saw("status", "  Duplicate of first.jpg -- not saved"));
    EXPECT_EQ(h.status.Last("historySkipped"), "1");
    EXPECT_EQ(TempDir::ReadFile("HistList"), "first.jpg\nagain.jpg\nnew.jpg\n");
    EXPECT_EQ(TempDir::ReadFile("DownloadLog"),
              h.DownloadDir() + "first.jpg -> poster@example.com\n" + h.DownloadDir() +
                  "new.jpg -> poster@example.com\n");
    EXPECT_EQ(h.ReadMark("alt.other"), 2);

    // A later run: the same bytes as yEnc under a third name, and the other picture once more.
    h.model.AddArticle("alt.pics", 2, YEnc("third.jpg yEnc", YEncode(data, "third.jpg")));
    h.model.AddArticle("alt.pics", 3, Uu("fourth.jpg", other, "fourth.jpg"));
    h.Run();
    EXPECT_EQ(h.SavedFiles(), (std::vector<std::string>{"Descript.ion", "first.jpg", "new.jpg"}));
    EXPECT_TRUE(h.status.Saw("status", "  Duplicate of first.jpg -- not saved"));
    EXPECT_TRUE(h.status.Saw("status", "  Duplicate of new.jpg -- not saved"));
    EXPECT_EQ(h.status.Last("historySkipped"), "2");
    EXPECT_EQ(TempDir::ReadFile("HistList"),
              "first.jpg\nagain.jpg\nnew.jpg\nthird.jpg\nfourth.jpg\n");
    const std::string index = TempDir::ReadFile("ContentIndex");
    EXPECT_EQ(std::count(index.begin(), index.end(), '\n'), 2);

    // Clear History empties the content index too: the bytes are then new again.
    ASSERT_TRUE(ClearHistoryFile());
    h.model.AddArticle("alt.pics", 4, Uu("fifth.jpg", data, "fifth.jpg"));
    h.Run();
    EXPECT_EQ(Saved("fifth.jpg"), data);
}

ModelArticle UuJpeg(const std::string& name, int width, int height, unsigned scene, int quality) {
    std::string error;
    const std::string jpeg = CjpegEncode(SceneImage(width, height, scene), quality, error);
    EXPECT_FALSE(jpeg.empty()) << error;
    return Uu(name, jpeg, name);
}

// The same picture resized or recompressed: saved with a note while near-duplicates are kept,
// passed over once the user skips them, and kept all the same when larger and larger copies are.
TEST_F(Harvest, NearDuplicatesAreNotedOrSkippedAndLargerCopiesKept) {
    if (!RealEncodersAvailable()) GTEST_SKIP() << "cjpeg is not installed";
    h.model.AddArticle("alt.pics", 1, UuJpeg("orig.jpg", 800, 600, 3, 90));
    h.model.AddArticle("alt.pics", 2, UuJpeg("small.jpg", 400, 300, 3, 70));
    h.model.AddArticle("alt.pics", 3, UuJpeg("other.jpg", 800, 600, 4, 90));
    h.Run();
    EXPECT_EQ(h.SavedFiles(),
              (std::vector<std::string>{"Descript.ion", "orig.jpg", "other.jpg", "small.jpg"}));
    const std::string dl = h.DownloadDir();
    EXPECT_EQ(TempDir::ReadFile("DownloadLog"),
              dl + "orig.jpg -> poster@example.com\n" + dl +
                  "small.jpg -> poster@example.com -- near-duplicate of orig.jpg\n" + dl +
                  "other.jpg -> poster@example.com\n");
    EXPECT_EQ(h.status.Last("historySkipped"), "0");

    h.Set("SkipNearDuplicates", "1");
    h.model.AddArticle("alt.pics", 4, UuJpeg("again.jpg", 600, 450, 3, 80));
    h.model.AddArticle("alt.pics", 5, UuJpeg("big.jpg", 1600, 1200, 4, 85));
    h.Run();
    EXPECT_EQ(h.SavedFiles().size(), 4u);
    EXPECT_TRUE(h.status.Saw("status", "  Near-duplicate of orig.jpg -- not saved"));
    EXPECT_TRUE(h.status.Saw("status", "  Near-duplicate of other.jpg -- not saved"));
    EXPECT_EQ(h.status.Last("historySkipped"), "2");

    h.Set("KeepLargerCopy", "1");
    h.model.AddArticle("alt.pics", 6, UuJpeg("bigger.jpg", 1600, 1200, 3, 85));
    h.model.AddArticle("alt.pics", 7, UuJpeg("smaller.jpg", 500, 375, 4, 85));
    h.Run();
    EXPECT_TRUE(TempDir::Exists(dl + "bigger.jpg"));
    EXPECT_FALSE(TempDir::Exists(dl + "smaller.jpg"));
    EXPECT_TRUE(
        TempDir::ReadFile("DownloadLog")
            .ends_with(dl + "bigger.jpg -> poster@example.com -- larger copy of orig.jpg\n"));
}

// A yEnc article that fails its check is never saved, nor a piece of a multi-part post: they are
// counted as skipped, said on the status line, and passed over for good.
TEST_F(Harvest, YEncArticlesThatFailTheirCheckAreSkippedAndCounted) {
    const std::string data = RandomBytes(4000, 13);
    const std::string good = YEncode(data, "good.jpg");
    const std::size_t trailer = good.rfind("=yend");
    std::string flipped = good;
    flipped[trailer - 20] = flipped[trailer - 20] == 'a' ? 'b' : 'a';
    h.model.AddArticle("alt.pics", 1, YEnc("crc.jpg", Replaced(flipped, "good.jpg", "crc.jpg")));
    h.model.AddArticle("alt.pics", 2,
                       YEnc("size.jpg", Replaced(Replaced(good, "good.jpg", "size.jpg"),
                                                 "=yend size=4000", "=yend size=4001")));
    h.model.AddArticle("alt.pics", 3,
                       YEnc("cut.jpg", Replaced(good.substr(0, trailer), "good.jpg", "cut.jpg")));
    h.model.AddArticle("alt.pics", 4,
                       YEnc("part.jpg", YEncode(data, "part.jpg", YEncPart{2, 4, 1001, 2000})));
    // Nine lines before the header: the Lines Decoded bar counts from the header on.
    ModelArticle last = YEnc("good.jpg", good);
    last.body = std::string(9, '\n') + last.body;
    h.model.AddArticle("alt.pics", 5, last);
    h.Run();
    EXPECT_EQ(h.SavedFiles(), (std::vector<std::string>{"Descript.ion", "good.jpg"}));
    EXPECT_TRUE(Saved("good.jpg") == data);
    EXPECT_EQ(h.status.Values("otherSkipped"), (std::vector<std::string>{"0", "1", "2", "3", "4"}));
    for (const char* text :
         {"yEnc check failed for crc.jpg: CRC32 mismatch",
          "yEnc check failed for size.jpg: size mismatch",
          "yEnc check failed for cut.jpg: no =yend line, the article is cut short",
          "Skipped part.jpg: multi-part yEnc posts are not supported"}) {
        EXPECT_TRUE(h.status.Saw("status", text)) << text;
    }
    EXPECT_EQ(TempDir::ReadFile("HistList"), "good.jpg\n");
    EXPECT_EQ(TempDir::ReadFile("DownloadLog"),
              h.DownloadDir() + "good.jpg -> poster@example.com\n");
    EXPECT_EQ(h.status.Values("thumbnail"), std::vector<std::string>{h.DownloadDir() + "good.jpg"});
    EXPECT_EQ(h.ReadMark("alt.pics"), 5);
    EXPECT_EQ(h.FinalStatus(), "Operation complete");
    const auto lines = h.status.Values("progress2");
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "30/1000"), 4);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "40/1000"), 0) << "counted from the top";
}

TEST_F(Harvest, MissingArticlesMovePastAndPartsWithoutNamesDoNot) {
    ModelArticle part2;
    part2.subject = "series.jpg (2/2)";
    part2.body = "M" + std::string(60, 'A') + "\n";  // data lines only, no begin line
    h.model.AddArticle("alt.pics", 1, part2);
    ModelArticle gif = Mime("anim.gif", RandomBytes(300, 8),
                            "Content-Type: application/octet-stream; name=\"anim.gif\"");
    h.model.AddArticle("alt.pics", 2, gif);
    h.model.AddArticle("alt.pics", 3, Uu("later.jpg", "x", "later.jpg"));
    h.server.On("ARTICLE 3", "430 no such article\r\n");
    h.Run();
    // The GIF is not decoded: its file is created empty.
    EXPECT_EQ(Saved("anim.gif"), "");
    EXPECT_EQ(h.profile.GetInt(EngineHarness::kHost, "alt.pics", 0), 3);
    EXPECT_EQ(TempDir::ReadFile("HistList"), "anim.gif\n");
}

// Binary Bytes/Sec divides by the wall time articles were on their way: with four commands in
// flight, the time a reply waits behind the article before it counts, but only once.
TEST_F(Harvest, RetrievalSecondsAreTheWallTimeOfTheArticlesInFlight) {
    h.Set("PipelineDepth", "4");
    for (long n = 1; n <= 4; ++n) {
        h.model.AddArticle("alt.pics", n,
                           Uu("p.jpg", RandomBytes(20000, n), "p" + std::to_string(n) + ".jpg"));
    }
    h.server.On("ARTICLE ", ScriptServer::Responder([this](const std::string& command) {
                    const long number = std::stol(command.substr(8));
                    return Reply{.text = WireArticle(h.model, number), .delayMs = 150};
                }));
    const auto start = std::chrono::steady_clock::now();
    h.Run();
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    ASSERT_EQ(h.status.Values("thumbnail").size(), 4u);
    const std::string last = h.status.Last("rate1");  // "seconds,bytes"
    const double seconds = std::stod(last.substr(0, last.find(',')));
    const double bytes = std::stod(last.substr(last.find(',') + 1));
    EXPECT_GE(seconds, 0.55);  // four replies, each 150 ms after the one before
    EXPECT_LE(seconds, wall);  // overlapping articles are not added up
    EXPECT_LE(h.shared.BinaryRate(), static_cast<std::int64_t>(bytes / 0.55));
    EXPECT_GT(h.shared.BinaryRate(), 0);
}

TEST(RetrievalTime, OverlappingArticlesCountOnce) {
    using namespace std::chrono_literals;
    const RetrievalTime::Clock::time_point t0{};
    RetrievalTime time;
    time.Add(t0, t0 + 2s);       // the first article, alone: 2 s
    time.Add(t0 + 1s, t0 + 3s);  // sent during the first: only what follows it counts, 1 s
    time.Add(t0 + 5s, t0 + 6s);  // after an idle gap: the gap is not retrieval, 1 s
    time.Add(t0 + 4s, t0 + 5s);  // a reply dealt with before the last one ended adds nothing
    EXPECT_DOUBLE_EQ(time.Seconds(), 4.0);
}

TEST_F(Harvest, ConnectionLostInMidArticleLeavesNothingOfIt) {
    std::string data = RandomBytes(45 * 200, 9);
    h.model.AddArticle("alt.pics", 1, Uu("big.jpg", data, "big.jpg"));
    std::string text = WireArticle(h.model, 1);
    h.server.On("ARTICLE 1",
                Reply{.text = text, .dropAfterBytes = static_cast<long>(text.size() / 2)});
    h.Run();
    EXPECT_EQ(h.FinalStatus(), "Error--connection to 127.0.0.1 lost");
    EXPECT_EQ(h.SavedFiles(), std::vector<std::string>{});  // no partial picture, no temporary
    EXPECT_EQ(TempDir::ReadFile("HistList"), "");
    EXPECT_EQ(h.ReadMark("alt.pics"), 0);  // the scan start: the article is tried again
}

TEST_F(Harvest, ConnectionLostBeforeTheReplyLeavesTheArticleUnread) {
    for (long n = 1; n <= 3; ++n) h.model.AddArticle("alt.pics", n, Uu("p.jpg", "x", "p.jpg"));
    h.server.On("ARTICLE 2", Reply{.closeAfter = true});
    h.Run();
    EXPECT_EQ(h.FinalStatus(), "Error--connection to 127.0.0.1 lost");
    EXPECT_EQ(h.ReadMark("alt.pics"), 1);
}

TEST_F(Harvest, StopDuringTheThirdArticleMarksTheThird) {
    for (long n = 1; n <= 10; ++n) {
        h.model.AddArticle("alt.pics", n,
                           Uu("p.jpg", RandomBytes(2000, n), "p" + std::to_string(n) + ".jpg"));
    }
    h.server.On("ARTICLE 3", ScriptServer::TextResponder([this](const std::string&) {
                    h.RequestStop();
                    return "430 gone\r\n";
                }));
    h.Run();
    EXPECT_EQ(h.CountCommands("ARTICLE"), 3);
    EXPECT_EQ(h.ReadMark("alt.pics"), 3);
    EXPECT_EQ(h.FinalStatus(), "Operation complete");
}

TEST_F(Harvest, CatchUpDuringTheScanMarksTheWholeGroup) {
    for (long n = 1; n <= 10; ++n) h.model.AddArticle("alt.pics", n, Uu("p.jpg", "x", "p.jpg"));
    h.server.On("LIST OVERVIEW.FMT", ScriptServer::TextResponder([this](const std::string&) {
                    h.CatchUp();
                    return std::string("503 no\r\n");
                }));
    h.Run();
    EXPECT_EQ(h.CountCommands("ARTICLE"), 0);
    EXPECT_EQ(h.ReadMark("alt.pics"), 10);
}

TEST_F(Harvest, HistoryIsSavedBeforeEveryFifthArticle) {
    h.Set("HistSaveFrequency", "5");
    for (long n = 1; n <= 6; ++n) {
        h.model.AddArticle("alt.pics", n,
                           Uu("p.jpg", RandomBytes(100, n), "p" + std::to_string(n) + ".jpg"));
    }
    std::mutex mutex;
    std::string atFifth;
    h.server.On("ARTICLE 5", ScriptServer::TextResponder([&](const std::string&) {
                    std::lock_guard lock(mutex);
                    atFifth = TempDir::ReadFile(h.dir / "HistList");
                    return std::string("430 gone\r\n");
                }));
    h.Run();
    std::lock_guard lock(mutex);
    EXPECT_EQ(atFifth, "p1.jpg\np2.jpg\np3.jpg\np4.jpg\n");
}

TEST_F(Harvest, PerGroupDirectoriesAreCreatedInFull) {
    h.profile.WriteString("DownloadDirs", "Enable", "1");
    h.profile.WriteString("DownloadDirs", "alt.pics", "cars/red");
    h.model.AddArticle("alt.pics", 1, Uu("car.jpg", "vroom", "car.jpg"));
    h.Run();
    EXPECT_EQ(Saved("cars/red/car.jpg"), "vroom");

    h.profile.WriteString("DownloadDirs", "UseGroupName", "1");
    h.model.AddArticle("alt.pics", 2, Uu("boat.jpg", "splash", "boat.jpg"));
    h.Run();
    EXPECT_EQ(Saved("alt.pics/boat.jpg"), "splash");
}

TEST_F(Harvest, FullDiskEndsTheRunAndKeepsMarksRight) {
    std::string small = h.dir / "small";
    MakeDirectory(small);
    if (::mount("tmpfs", small.c_str(), "tmpfs", 0, "size=64k") != 0) {
        GTEST_SKIP() << "cannot mount a small file system here";
    }
    h.Set("DownloadDirectory", small + "/");
    for (long n = 1; n <= 4; ++n) {
        h.model.AddArticle("alt.pics", n,
                           Uu("p.jpg", RandomBytes(40000, n), "p" + std::to_string(n) + ".jpg"));
    }
    h.Run();
    EXPECT_EQ(h.FinalStatus(), "Error--disk or directory full");
    EXPECT_EQ(h.CountCommands("ARTICLE"), 2);
    EXPECT_EQ(h.ReadMark("alt.pics"), 1);
    EXPECT_EQ(TempDir::ReadFile("HistList"), "p1.jpg\n");
    ::umount2(small.c_str(), MNT_DETACH);
}

TEST_F(Harvest, AMimePictureEndsAtAnyDelimiterAndTheArticleGivesOnlyItsFirst) {
    std::string one = FakeJpeg(3000, 21), two = FakeJpeg(2000, 22);
    ModelArticle a;
    a.subject = "two pictures";
    a.body =
        "Content-Type: multipart/mixed; boundary=\"=_b\"\n\n--=_b\n"
        "Content-Type: image/jpeg; name=\"first.jpg\"\nContent-Transfer-Encoding: base64\n\n" +
        Base64Lines(one) + "--=_b\nContent-Type: text/plain\n\nSome words here\n--=_b\n" +
        "Content-Type: image/jpeg; name=\"second.jpg\"\n\n" + Base64Lines(two) + "--=_b--\n";
    h.model.AddArticle("alt.pics", 1, a);
    h.Set("SaveAscii", "1");
    TempDir::WriteFile(h.DownloadDir() + "second.jpga", "stale text copy");
    h.Run();
    // The later header names the file; the bytes are the first picture's alone.
    EXPECT_EQ(Saved("second.jpg"), one);
    EXPECT_EQ(Saved("second.jpga").find("stale"), std::string::npos);  // rewritten, not appended
    EXPECT_NE(Saved("second.jpga").find("Some words here\r\n\n"), std::string::npos);
}

TEST_F(Harvest, StopLetsTheArticleInProgressFinishWithinTheGraceOnly) {
    for (long n = 1; n <= 3; ++n) {
        h.model.AddArticle("alt.pics", n,
                           Uu("p.jpg", RandomBytes(60000, n), "p" + std::to_string(n) + ".jpg"));
    }
    // About half a second of data after the stop: finished and saved.
    h.server.On("ARTICLE 1", ScriptServer::Responder([this](const std::string&) {
                    h.RequestStop();
                    return Reply{
                        .text = WireArticle(h.model, 1), .chunkSize = 4000, .chunkDelayMs = 25};
                }));
    h.Run();
    EXPECT_EQ(h.SavedFiles(), (std::vector<std::string>{"Descript.ion", "p1.jpg"}));
    EXPECT_EQ(Saved("p1.jpg"), RandomBytes(60000, 1));
    EXPECT_EQ(h.ReadMark("alt.pics"), 1);
    // Three seconds of data after the stop: given up after the grace, nothing of it kept.
    h.server.On("ARTICLE 2", ScriptServer::Responder([this](const std::string&) {
                    h.RequestStop();
                    return Reply{
                        .text = WireArticle(h.model, 2), .chunkSize = 1000, .chunkDelayMs = 35};
                }));
    h.Run();
    EXPECT_EQ(h.SavedFiles(), (std::vector<std::string>{"Descript.ion", "p1.jpg"}));
    EXPECT_EQ(h.ReadMark("alt.pics"), 1);
    EXPECT_EQ(h.FinalStatus(), "Operation complete");
    EXPECT_EQ(TempDir::ReadFile("HistList"), "p1.jpg\n");
}

TEST_F(Harvest, ARefusedNameIsSkippedButARefusingDirectoryEndsTheRun) {
    // A save directory so deep that a long name exceeds the longest path, a short one does not.
    std::string deep = h.DownloadDir();
    while (deep.size() < 3850) deep += std::string(200, 'd') + "/";
    ASSERT_TRUE(MakeDirectories(deep));
    h.Set("DownloadDirectory", deep);
    std::string longName = std::string(230, 'n') + ".jpg";
    h.model.AddArticle("alt.pics", 1, Uu("long", "x", longName));
    h.model.AddArticle("alt.pics", 2, Uu("ok.jpg", "y", "ok.jpg"));
    h.Run();
    EXPECT_EQ(h.status.Count("status"), 6);  // beside the usual five: the name refused
    EXPECT_TRUE(h.status.Saw("status", "Unable to save " + longName + ": File name too long"));
    EXPECT_EQ(TempDir::ReadFile(deep + "ok.jpg"), "y");
    EXPECT_EQ(TempDir::ReadFile("HistList"), "ok.jpg\n");
    EXPECT_EQ(h.FinalStatus(), "Operation complete");
    EXPECT_EQ(h.ReadMark("alt.pics"), 2);

    std::string readOnly = h.DownloadDir() + "ro";
    MakeDirectory(readOnly);
    if (::mount("tmpfs", readOnly.c_str(), "tmpfs", MS_RDONLY, "size=64k") != 0) {
        GTEST_SKIP() << "cannot mount a file system here";
    }
    h.Set("DownloadDirectory", h.DownloadDir());
    h.profile.WriteString("DownloadDirs", "Enable", "1");
    h.profile.WriteString("DownloadDirs", "alt.pics", "ro");
    h.model.AddArticle("alt.pics", 3, Uu("c.jpg", "z", "c.jpg"));
    h.Run();
    ::umount2(readOnly.c_str(), MNT_DETACH);
    EXPECT_EQ(h.FinalStatus(),
              "Error--unable to write to " + readOnly + "/: Read-only file system");
    EXPECT_EQ(h.ReadMark("alt.pics"), 2);
    EXPECT_EQ(h.CountCommands("ARTICLE 3"), 0);
}

TEST_F(Harvest, ReadMarksThatCannotBeSavedEndTheRunAsAnError) {
    std::string small = h.dir / "small";
    MakeDirectory(small);
    if (::mount("tmpfs", small.c_str(), "tmpfs", 0, "size=16k") != 0) {
        GTEST_SKIP() << "cannot mount a small file system here";
    }
    const std::string port = std::to_string(h.server.port());
    h.profile.Load(small + "/p.ini");
    for (auto [key, value] :
         std::vector<std::pair<std::string, std::string>>{{"NNTPHost", EngineHarness::kHost},
                                                          {"NNTPPort", port},
                                                          {"DownloadDirectory", h.DownloadDir()},
                                                          {"MinLines", "0"}}) {
        h.Set(key, value);
    }
    TempDir::WriteFile(small + "/filler", std::string(64 << 10, 'f'));  // the disk is full
    h.model.AddArticle("alt.pics", 1, Uu("a.jpg", "a", "a.jpg"));
    h.Run();
    ::umount2(small.c_str(), MNT_DETACH);
    EXPECT_EQ(h.FinalStatus(), "Error--unable to save the read marks in " + small +
                                   "/p.ini: No space left on device");
}

TEST_F(Harvest, GroupNamesAndSubPathsNeverLeadOutOfTheDownloadDirectory) {
    h.profile.WriteString("DownloadDirs", "Enable", "1");
    h.profile.WriteString("DownloadDirs", "UseGroupName", "1");
    h.SetGroups({"..", "a/../../out", "alt.pics"});
    h.model.AddArticle("alt.pics", 1, Uu("in.jpg", "in", "in.jpg"));
    h.Run();
    EXPECT_EQ(Saved("alt.pics/in.jpg"), "in");
    h.profile.WriteString("DownloadDirs", "UseGroupName", "0");
    h.profile.WriteString("DownloadDirs", "alt.pics", "../../out");
    h.Run();
    h.profile.WriteString("DownloadDirs", "alt.pics", "/tmp");
    h.Run();
    EXPECT_EQ(h.CountCommands("GROUP alt.pics"), 1);  // opened in the first run only
    EXPECT_FALSE(TempDir::Exists(h.dir / "out"));
    EXPECT_EQ(h.status.Last("status"), "Operation complete");
    EXPECT_TRUE(h.status.Saw(
        "status", "Skipped group ..: its directory would lie outside " + h.DownloadDir()));
}

TEST(ArticleNames, BeginMimeAndSubjectNames) {
    EXPECT_EQ(BeginLineName("begin 644 two words.jpg\r\n"), "two words.jpg");
    EXPECT_EQ(BeginLineName("begin 0644 x\r\n"), "x");
    EXPECT_EQ(BeginLineName("beginning of it all\r\n"), "");
    EXPECT_EQ(BeginLineName("begin 644 \r\n"), "");
    EXPECT_EQ(MimeHeaderName("Content-Type: image/jpeg; name=\"a b.jpg\"\r\n"), "ab.jpg");
    EXPECT_EQ(MimeHeaderName("Content-Type: image/jpeg\r\n"), "");
    EXPECT_EQ(NameFromSubject("Re: Sunset.JPG (1/1)\r\n"), "re: sunset.jpg");
    EXPECT_EQ(NameFromSubject("Hello there\r\n"), "hel");
}

}  // namespace
}  // namespace qm::test
