#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/mount.h>

#include "engine/PartCounter.h"
#include "engine/PartStore.h"
#include "support/EngineHarness.h"
#include "support/NewsModel.h"
#include "support/RealEncoders.h"
#include "support/TempDir.h"
#include "util/TextFiles.h"

namespace qm {
namespace {

struct Counted {
    long part, total;
    bool makesPart;
    std::string post;  // the subject without its counter
};

std::optional<Counted> Count(std::string_view subject) {
    auto c = FindPartCounter(subject);
    if (!c) return std::nullopt;
    return Counted{c->part, c->total, c->MakesPart(), SubjectWithoutCounter(subject, *c)};
}

TEST(PartCounter, TheLastRoundCounterWinsOverSquareOnesAndFalseStarts) {
    auto c = Count("[01/14] - \"name.jpg\" yEnc (2/5) 3145728");
    ASSERT_TRUE(c);
    EXPECT_EQ(c->part, 2);
    EXPECT_EQ(c->total, 5);
    EXPECT_TRUE(c->makesPart);
    EXPECT_EQ(c->post, "[01/14] - \"name.jpg\" yEnc  3145728");
    // A round counter anywhere beats a later square one; a later "(x/y)" that is no counter
    // does not hide the real one.
    c = Count("pic (3/7) [2/9] (v2/final) (12/)");
    ASSERT_TRUE(c);
    EXPECT_EQ(c->part, 3);
    EXPECT_EQ(c->total, 7);
    c = Count("[03/14] - holiday.jpg");
    ASSERT_TRUE(c);
    EXPECT_EQ(c->part, 3);
    EXPECT_EQ(c->total, 14);
    EXPECT_EQ(c->post, " - holiday.jpg");
}

TEST(PartCounter, DescriptionsWholeFilesAndNoiseAreNoParts) {
    for (const char* whole : {"desc (0/5)", "one (1/1)", "two (01/01)", "bad (6/5)"}) {
        auto c = Count(whole);
        ASSERT_TRUE(c) << whole;
        EXPECT_FALSE(c->makesPart) << whole;
    }
    for (const char* none : {"", "plain.jpg", "(1/", "(/3)", "( 1/3)", "(1/3", "(a/b)",
                             "(1234567/2)", "(1/1234567)", "[1-3]", "(1/2/3)"}) {
        EXPECT_FALSE(Count(none)) << none;
    }
}

TEST(PartCounter, PostsDifferBySubjectSenderOrTotal) {
    const std::string a = PostKey("\"a.jpg\" yEnc ", "x@y", 5);
    EXPECT_EQ(a, PostKey("\"a.jpg\" yEnc ", "x@y", 5));
    EXPECT_NE(a, PostKey("\"a.jpg\" yEnc ", "z@y", 5));
    EXPECT_NE(a, PostKey("\"a.jpg\" yEnc ", "x@y", 6));
    EXPECT_NE(a, PostKey("\"b.jpg\" yEnc ", "x@y", 5));
}

// A picture of size bytes whose every byte tells where it lies.
std::string Picture(std::size_t size) {
    std::string data(size, '\0');
    for (std::size_t i = 0; i < size; ++i) data[i] = static_cast<char>((i * 7 + i / 251) & 0xff);
    return data;
}

// The yEnc article body of part k of n, splitting data evenly.
std::string PartText(const std::string& data, int k, int n, const std::string& name = "p.jpg") {
    const std::size_t step = (data.size() + n - 1) / n;
    const std::size_t begin = (k - 1) * step + 1;
    const std::size_t end = std::min(data.size(), k * step);
    return test::YEncode(data, name, test::YEncPart{k, n, begin, end});
}

// Decodes one part's text into the store as retrieval does; records it when it checks out.
YEncVerdict Store(PartStore& store, const std::string& key, long total, const std::string& text,
                  std::time_t now = 1000) {
    CYEncDecoder decoder(store.DataPath(key),
                         [&](const YEncPartInfo& info) { return store.Admits(key, total, info); });
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        end = end == std::string::npos ? text.size() : end + 1;
        decoder.DecodeLine(std::string_view(text).substr(start, end - start));
        start = end;
    }
    const YEncVerdict verdict = decoder.Close();
    if (verdict == YEncVerdict::kOk) {
        EXPECT_TRUE(store.RecordYEncPart(key, decoder.PartInfo(), "alt.pics", now));
    }
    return verdict;
}

std::vector<std::string> FilesIn(const std::string& dir) {
    std::vector<std::string> names;
    if (DIR* d = ::opendir(dir.c_str())) {
        while (const dirent* e = ::readdir(d)) {
            if (e->d_name[0] != '.') names.emplace_back(e->d_name);
        }
        ::closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

TEST(PartStore, PartsInAnyOrderMakeTheWholeFileAndSurviveAReload) {
    test::TempDir dir;
    const std::string data = Picture(50000);
    const std::string key = PostKey("\"p.jpg\" yEnc ", "a@b", 4);
    {
        PartStore store(dir / "parts");
        ASSERT_TRUE(store.Load(1000));
        for (int k : {3, 1, 4})
            EXPECT_EQ(Store(store, key, 4, PartText(data, k, 4)), YEncVerdict::kOk);
        // A part posted twice is refused by the store, not written over the first.
        EXPECT_EQ(Store(store, key, 4, PartText(data, 3, 4)), YEncVerdict::kForeignPart);
        EXPECT_FALSE(store.Find(key)->Complete());
    }
    PartStore store(dir / "parts");  // a later run
    ASSERT_TRUE(store.Load(2000));
    ASSERT_NE(store.Find(key), nullptr);
    EXPECT_EQ(store.Find(key)->parts.size(), 3u);
    EXPECT_EQ(Store(store, key, 4, PartText(data, 2, 4)), YEncVerdict::kOk);
    const StoredPost& post = *store.Find(key);
    ASSERT_TRUE(post.Complete());
    EXPECT_EQ(post.name, "p.jpg");
    EXPECT_TRUE(store.VerifyWhole(post));
    EXPECT_EQ(test::TempDir::ReadFile(store.DataPath(key)), data);
    // Without the poster's crc32 the parts' own CRCs, combined, vouch for the file.
    StoredPost noFileCrc = post;
    noFileCrc.fileCrc.reset();
    EXPECT_TRUE(store.VerifyWhole(noFileCrc));
    noFileCrc.parts[1].crc ^= 1;
    EXPECT_FALSE(store.VerifyWhole(noFileCrc));
    EXPECT_TRUE(store.Remove(key));
    EXPECT_TRUE(FilesIn(dir / "parts").empty());
}

TEST(PartStore, PartsThatDoNotFitTheirPostOrTheirCheckAreNotKept) {
    test::TempDir dir;
    const std::string data = Picture(40000);
    const std::string key = PostKey("s", "a@b", 4);
    PartStore store(dir / "parts");
    ASSERT_TRUE(store.Load(1000));
    ASSERT_EQ(Store(store, key, 4, PartText(data, 1, 4)), YEncVerdict::kOk);
    const std::string before = test::TempDir::ReadFile(store.DataPath(key));
    // Another file's part under the same subject, another count of parts, a whole file.
    EXPECT_EQ(Store(store, key, 4, PartText(Picture(41000), 2, 4)), YEncVerdict::kForeignPart);
    EXPECT_EQ(Store(store, key, 4, PartText(data, 2, 4, "q.jpg")), YEncVerdict::kForeignPart);
    EXPECT_EQ(Store(store, key, 4, PartText(data, 2, 5)), YEncVerdict::kForeignPart);
    EXPECT_EQ(Store(store, key, 4, test::YEncode(data, "p.jpg")), YEncVerdict::kForeignPart);
    // A part whose range reaches into part 1's bytes, and one whose data runs past its range.
    std::string overlap = PartText(data, 2, 4);
    overlap.replace(overlap.find("begin=10001"), 11, "begin=10000");
    EXPECT_EQ(Store(store, key, 4, overlap), YEncVerdict::kForeignPart);
    std::string longer = PartText(data, 2, 4);
    longer.replace(longer.find("end=20000"), 9, "end=19000");
    EXPECT_EQ(Store(store, key, 4, longer), YEncVerdict::kSizeMismatch);
    // A flipped byte fails the part's CRC.
    std::string corrupt = PartText(data, 3, 4);
    corrupt[corrupt.find("\n", corrupt.find("=ypart")) + 5] ^= 1;
    EXPECT_EQ(Store(store, key, 4, corrupt), YEncVerdict::kCrcMismatch);
    EXPECT_EQ(store.Find(key)->parts.size(), 1u);
    EXPECT_EQ(test::TempDir::ReadFile(store.DataPath(key)).substr(0, 10000), before);
}

TEST(PartStore, TornFilesGoAndOldPostsExpireOrMakeRoomOldestFirst) {
    test::TempDir dir;
    const std::string data = Picture(30000);
    const std::string a = PostKey("a", "x", 3), b = PostKey("b", "x", 3), c = PostKey("c", "x", 3);
    {
        PartStore store(dir / "parts");
        ASSERT_TRUE(store.Load(0));
        ASSERT_EQ(Store(store, a, 3, PartText(data, 1, 3), 100), YEncVerdict::kOk);
        ASSERT_EQ(Store(store, b, 3, PartText(data, 1, 3), 200), YEncVerdict::kOk);
        ASSERT_EQ(Store(store, c, 3, PartText(data, 2, 3), 300), YEncVerdict::kOk);
        ASSERT_TRUE(store.StoreUUPart(PostKey("u", "x", 2), 2, 2, "", "M86XX\n", "alt.pics", 400));
        EXPECT_TRUE(store.MarkCompleted("done", 100));
    }
    // A kill while a first part was written leaves data without a record; a torn record.
    test::TempDir::WriteFile(dir / ("parts/" + PartStore::IdOf("gone") + ".data"), "x");
    test::TempDir::WriteFile(dir / ("parts/" + PartStore::IdOf(c) + ".post"), "QMPOST 1\nkey c");
    // A kill while a later part's lines were appended to b's record: that part is not kept.
    const std::string bRecord = dir / ("parts/" + PartStore::IdOf(b) + ".post");
    test::TempDir::WriteFile(bRecord, test::TempDir::ReadFile(bRecord) + "last 250\npart 2 10001");
    PartStore store(dir / "parts");
    ASSERT_TRUE(store.Load(500));
    EXPECT_EQ(store.PendingCount(), 3u);
    EXPECT_EQ(store.Find(c), nullptr);
    EXPECT_FALSE(test::TempDir::Exists(dir / ("parts/" + PartStore::IdOf("gone") + ".data")));
    EXPECT_FALSE(test::TempDir::Exists(store.DataPath(c)));
    EXPECT_TRUE(store.IsCompleted("done"));
    EXPECT_EQ(store.Find(PostKey("u", "x", 2))->parts.size(), 1u);
    ASSERT_NE(store.Find(b), nullptr);
    EXPECT_EQ(store.Find(b)->parts.size(), 1u);
    EXPECT_EQ(store.Find(b)->lastNewPart, 250);
    // Past the wait, a; then room for one post's bytes: b, the older of the rest, goes.
    std::vector<StoredPost> expired = store.Expire(100 + 7 * 24 * 3600 + 1, 7);
    ASSERT_EQ(expired.size(), 1u);
    EXPECT_EQ(expired[0].key, a);
    std::vector<StoredPost> bounded = store.Bound(10000);
    ASSERT_EQ(bounded.size(), 1u);
    EXPECT_EQ(bounded[0].key, b);
    EXPECT_EQ(FilesIn(dir / "parts").size(), 3u);  // Completed, and the uuencoded post's two
    PartStore later(dir / "parts");
    ASSERT_TRUE(later.Load(100 + PartStore::kKeepCompleted + 1));
    EXPECT_FALSE(later.IsCompleted("done"));
}

// ---- whole runs against the scripted server

using test::EngineHarness;
using test::ModelArticle;

// Part k of n of a yEnc post of data, as posting programs title it.
ModelArticle YPart(const std::string& data, const std::string& name, int k, int n,
                   const std::string& from = "poster@example.com") {
    ModelArticle a;
    a.subject = "[3/9] - \"" + name + "\" yEnc (" + std::to_string(k) + "/" + std::to_string(n) +
                ") " + std::to_string(data.size());
    a.from = from;
    a.lines = 40;
    a.body = PartText(data, k, n, name);
    return a;
}

// Part k of n of a uuencoded post: the encoded lines cut into n runs, "begin" in the first.
ModelArticle UuPart(const std::string& data, const std::string& name, int k, int n) {
    const std::string text = test::UuencodeBody(data, name);
    std::vector<std::string> lines;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t end = text.find('\n', at) + 1;
        lines.push_back(text.substr(at, end - at));
        at = end;
    }
    const std::size_t step = (lines.size() + n - 1) / n;
    ModelArticle a;
    a.subject = name + " (" + std::to_string(k) + "/" + std::to_string(n) + ")";
    a.lines = 40;
    for (std::size_t i = (k - 1) * step; i < std::min(lines.size(), k * step); ++i)
        a.body += lines[i];
    return a;
}

class MultiPartRun : public ::testing::Test {
protected:
    void SetUp() override {
        h.SetGroups({"alt.pics"});
        h.Set("MinLines", "1");
        h.Set("EnableLogging", "1");
        h.Set("LogFile", "DownloadLog");
    }
    std::string Saved(const std::string& name) {
        return test::TempDir::ReadFile(h.DownloadDir() + name);
    }
    std::vector<std::string> StoreFiles() { return FilesIn(h.dir / "MultiPart"); }
    EngineHarness h;
};

TEST_F(MultiPartRun, PartsInAnyOrderAmongOtherPostsMakeEachPictureOnce) {
    const std::string a = test::RandomBytes(30000, 1), b = test::RandomBytes(20000, 2);
    const std::string c = test::RandomBytes(9000, 3);
    h.model.AddArticle("alt.pics", 1, YPart(a, "a.jpg", 3, 4));
    h.model.AddArticle("alt.pics", 2, YPart(b, "b.jpg", 2, 2));
    h.model.AddArticle("alt.pics", 3, YPart(a, "a.jpg", 1, 4));
    h.model.AddArticle("alt.pics", 4, UuPart(c, "c.jpg", 2, 3));
    h.model.AddArticle("alt.pics", 5, YPart(a, "a.jpg", 2, 4));
    h.model.AddArticle("alt.pics", 6, YPart(a, "a.jpg", 2, 4));  // posted twice
    h.model.AddArticle("alt.pics", 7, UuPart(c, "c.jpg", 1, 3));
    h.model.AddArticle("alt.pics", 8, YPart(b, "b.jpg", 1, 2));
    h.model.AddArticle("alt.pics", 9, YPart(a, "a.jpg", 4, 4));
    h.model.AddArticle("alt.pics", 10, UuPart(c, "c.jpg", 3, 3));
    h.Run();
    EXPECT_EQ(h.FinalStatus(), "Operation complete");
    EXPECT_EQ(h.SavedFiles(), (std::vector<std::string>{"a.jpg", "b.jpg", "c.jpg"}));
    EXPECT_TRUE(Saved("a.jpg") == a);
    EXPECT_TRUE(Saved("b.jpg") == b);
    EXPECT_TRUE(Saved("c.jpg") == c);
    EXPECT_EQ(h.CountCommands("ARTICLE 6"), 0);  // the second posting of a part is not fetched
    EXPECT_EQ(test::TempDir::ReadFile("HistList"), "b.jpg\na.jpg\nc.jpg\n");
    EXPECT_EQ(h.status.Values("thumbnail").size(), 3u);
    EXPECT_TRUE(h.status.Saw("savingTo", h.DownloadDir() + "a.jpg (part 3 of 4)"));
    EXPECT_EQ(h.status.Last("otherSkipped"), "0");
    EXPECT_EQ(h.ReadMark("alt.pics"), 10);
    EXPECT_EQ(StoreFiles(), std::vector<std::string>{"Completed"});
}

// The ARTICLE reply the model's server would send for number in alt.pics, with one byte of the
// yEnc data changed when corrupt.
std::string Wire(const test::NewsModel& model, long number, bool corrupt) {
    std::string body = model.ArticleText("alt.pics", number);
    if (corrupt) {
        const std::size_t at = body.find('\n', body.find("=ypart")) + 3;
        body[at] = body[at] == 'a' ? 'b' : 'a';
    }
    std::string text = "220 " + std::to_string(number) + " <" + std::to_string(number) + "@t>\r\n";
    for (char c : body) {
        if (c == '\n') text += '\r';
        text += c;
    }
    return text + ".\r\n";
}

TEST_F(MultiPartRun, BadPartsAreFetchedOnceMoreForeignOnesAndCutShortArticlesSkipped) {
    const std::string d = test::RandomBytes(8000, 4), e = test::RandomBytes(8000, 5);
    const std::string f = test::RandomBytes(8000, 6);
    h.model.AddArticle("alt.pics", 1, YPart(d, "d.jpg", 1, 2));
    h.model.AddArticle("alt.pics", 2, YPart(d, "d.jpg", 2, 2));
    h.model.AddArticle("alt.pics", 3, YPart(e, "e.jpg", 1, 2));
    h.model.AddArticle("alt.pics", 4, YPart(e, "e.jpg", 2, 2));
    h.model.AddArticle("alt.pics", 5, YPart(f, "f.jpg", 1, 2));
    ModelArticle foreign = YPart(test::RandomBytes(9000, 7), "f.jpg", 2, 2);
    foreign.subject = YPart(f, "f.jpg", 2, 2).subject;  // the right subject, another file's bytes
    h.model.AddArticle("alt.pics", 6, foreign);
    ModelArticle cut;
    cut.subject = "g.jpg";
    cut.lines = 40;
    const std::string uu = test::UuencodeBody(test::RandomBytes(900, 8), "g.jpg");
    cut.body = uu.substr(0, uu.find("\n", 200) + 1);  // no closing lines
    h.model.AddArticle("alt.pics", 7, cut);
    h.server.OnSequence("ARTICLE 2", {Wire(h.model, 2, true), Wire(h.model, 2, false)});
    h.server.On("ARTICLE 4", Wire(h.model, 4, true));
    h.Run();
    EXPECT_EQ(h.SavedFiles(), std::vector<std::string>{"d.jpg"});
    EXPECT_TRUE(Saved("d.jpg") == d);
    EXPECT_EQ(h.CountCommands("ARTICLE 2"), 2);
    EXPECT_EQ(h.CountCommands("ARTICLE 4"), 2);
    for (const char* text : {"yEnc check failed for e.jpg part 2: CRC32 mismatch",
                             "Skipped f.jpg part 2: it does not belong to its post",
                             "Skipped g.jpg: the uuencoded picture ends before its end line"}) {
        EXPECT_TRUE(h.status.Saw("status", text)) << text;
    }
    EXPECT_EQ(h.status.Last("otherSkipped"), "3");
    EXPECT_EQ(h.ReadMark("alt.pics"), 7);
    // e is given up; f keeps its first part for a part that fits.
    PartStore store(h.dir / "MultiPart");
    ASSERT_TRUE(store.Load(std::time(nullptr)));
    EXPECT_EQ(store.PendingCount(), 1u);
    EXPECT_TRUE(h.status.Saw("status", "1 multi-part post waits for missing parts"));
}

TEST_F(MultiPartRun, APostWaitsForItsPartsAcrossRunsAndGroupsUntilItExpires) {
    const std::string m = test::RandomBytes(12000, 9);
    h.SetGroups({"alt.pics", "alt.more"});
    h.model.AddArticle("alt.pics", 1, YPart(m, "m.jpg", 1, 3));
    h.model.AddArticle("alt.pics", 2, YPart(m, "m.jpg", 2, 3));
    h.Run();
    EXPECT_TRUE(h.SavedFiles().empty());
    EXPECT_TRUE(h.status.Saw("status", "1 multi-part post waits for missing parts"));
    EXPECT_EQ(h.ReadMark("alt.pics"), 2);
    // An old post left waiting, its last part stored eight days ago.
    {
        PartStore store(h.dir / "MultiPart");
        ASSERT_TRUE(store.Load(std::time(nullptr)));
        const std::string old = test::RandomBytes(6000, 10);
        ASSERT_EQ(Store(store, PostKey("old", "x", 2), 2, PartText(old, 1, 2, "old.jpg"),
                        std::time(nullptr) - 8 * 24 * 3600),
                  YEncVerdict::kOk);
    }
    // The last part turns up in another group.
    h.model.AddArticle("alt.more", 1, YPart(m, "m.jpg", 3, 3));
    h.status.Clear();
    h.Run();
    EXPECT_EQ(h.SavedFiles(), std::vector<std::string>{"m.jpg"});
    EXPECT_TRUE(Saved("m.jpg") == m);
    EXPECT_TRUE(h.status.Saw(
        "status",
        "Dropped the multi-part post old.jpg: its missing parts did not come within 7 days"));
    EXPECT_EQ(h.status.Last("otherSkipped"), "1");
    EXPECT_FALSE(h.status.Saw("status", "1 multi-part post waits for missing parts"));
    EXPECT_EQ(StoreFiles(), std::vector<std::string>{"Completed"});
    // Listed again (a cross-post in a group read later): never saved twice.
    h.model.AddArticle("alt.more", 2, YPart(m, "m.jpg", 1, 3));
    h.model.AddArticle("alt.more", 3, YPart(m, "m.jpg", 2, 3));
    h.model.AddArticle("alt.more", 4, YPart(m, "m.jpg", 3, 3));
    h.Run();
    EXPECT_EQ(h.CountCommands("ARTICLE"), 3);
    EXPECT_EQ(h.SavedFiles(), std::vector<std::string>{"m.jpg"});
}

TEST_F(MultiPartRun, CatchUpMarksTheGroupAndLeavesTheKeptPartsWaiting) {
    const std::string data = test::RandomBytes(9000, 15);
    for (int k = 1; k <= 3; ++k) h.model.AddArticle("alt.pics", k, YPart(data, "cu.jpg", k, 3));
    h.model.AddArticle("alt.pics", 4, YPart(data, "other.jpg", 1, 1));
    const std::string second = Wire(h.model, 2, false);
    h.server.On("ARTICLE 2", test::ScriptServer::TextResponder([&](const std::string&) {
                    h.CatchUp();
                    return second;
                }));
    h.Run();
    EXPECT_EQ(h.CountCommands("ARTICLE 3"), 0);
    EXPECT_EQ(h.ReadMark("alt.pics"), 4);
    EXPECT_TRUE(h.SavedFiles().empty());
    PartStore store(h.dir / "MultiPart");
    ASSERT_TRUE(store.Load(std::time(nullptr)));
    ASSERT_NE(store.Find(PostKey("[3/9] - \"cu.jpg\" yEnc  9000", "poster@example.com", 3)),
              nullptr);
    EXPECT_EQ(store.Posts()[0]->parts.size(), 2u);
}

TEST_F(MultiPartRun, APostIsJudgedOnceOnItsSubjectWithoutCounterAndAllItsLines) {
    const std::string data = test::RandomBytes(6000, 11);
    h.Set("SubjectIncl2", "1/1:01/01");  // the page's default: single articles only
    h.model.AddArticle("alt.pics", 1, YPart(data, "n.jpg", 1, 2));
    h.model.AddArticle("alt.pics", 2, YPart(data, "n.jpg", 2, 2));
    h.Run();
    EXPECT_EQ(h.CountCommands("ARTICLE"), 0);
    EXPECT_EQ(h.status.Last("otherSkipped"), "0");

    h.Set("SubjectIncl2", "");
    h.Set("MaxLines", "100");
    for (long n = 3; n <= 5; ++n)
        h.model.AddArticle("alt.pics", n, YPart(data, "big.jpg", n - 2, 3));
    h.model.AddArticle("alt.pics", 6, YPart(data, "spam.jpg", 1, 2, "spam@x"));
    h.model.AddArticle("alt.pics", 7, YPart(data, "spam.jpg", 2, 2, "spam@x"));
    h.model.AddArticle("alt.pics", 8, YPart(data, "spam2.jpg", 1, 2, "spam@x"));
    test::TempDir::WriteFile("FromExcludes", "spam@x\n");
    test::TempDir::WriteFile("HistList", "seen.jpg\n");
    h.model.AddArticle("alt.pics", 9, YPart(data, "seen.jpg", 1, 2));
    h.model.AddArticle("alt.pics", 10, YPart(data, "seen.jpg", 2, 2));
    h.model.AddArticle("alt.pics", 11, YPart(data, "ok.jpg", 1, 2));
    h.model.AddArticle("alt.pics", 12, YPart(data, "ok.jpg", 2, 2));
    h.status.Clear();
    h.Run();
    // 3 x 40 lines is too large; 2 x 40 is not. The excluded sender's two posts count once each.
    // A quoted name is no history hit in a subject: the first part fetched finds it, and the
    // rest of that post is not asked for.
    EXPECT_EQ(h.CountCommands("ARTICLE"), 3);
    EXPECT_EQ(h.CountCommands("ARTICLE 9"), 1);
    EXPECT_EQ(h.CountCommands("ARTICLE 10"), 0);
    EXPECT_EQ(h.CountCommands("ARTICLE 11"), 1);
    EXPECT_EQ(h.status.Last("otherSkipped"), "2");
    EXPECT_EQ(h.status.Last("historySkipped"), "1");
    EXPECT_EQ(h.SavedFiles(), std::vector<std::string>{"ok.jpg"});
}

TEST_F(MultiPartRun, WithoutPuttingTogetherPartsAreSkippedAsBeforeButNeverSavedHalf) {
    h.Set("MultiPart", "0");
    const std::string data = test::RandomBytes(9000, 12);
    h.model.AddArticle("alt.pics", 1, UuPart(data, "u.jpg", 1, 2));
    h.model.AddArticle("alt.pics", 2, UuPart(data, "u.jpg", 2, 2));
    h.model.AddArticle("alt.pics", 3, YPart(data, "y.jpg", 1, 2));
    h.Run();
    EXPECT_TRUE(h.SavedFiles().empty());
    EXPECT_TRUE(
        h.status.Saw("status", "Skipped u.jpg: the uuencoded picture ends before its end line"));
    EXPECT_TRUE(h.status.Saw("status", "Skipped y.jpg: multi-part yEnc posts are not supported"));
    EXPECT_FALSE(test::TempDir::Exists(h.dir / "MultiPart"));
    EXPECT_EQ(h.ReadMark("alt.pics"), 3);
}

TEST_F(MultiPartRun, AFullStoreEndsTheRunAndAWholePostLeftByAKillIsSavedNextTime) {
    const std::string big = test::RandomBytes(90000, 13), w = test::RandomBytes(8000, 14);
    const std::string store = h.dir / "MultiPart";
    MakeDirectory(store);
    if (::mount("tmpfs", store.c_str(), "tmpfs", 0, "size=64k") != 0) {
        GTEST_SKIP() << "cannot mount a small file system here";
    }
    for (long n = 1; n <= 3; ++n) h.model.AddArticle("alt.pics", n, YPart(big, "big.jpg", n, 3));
    h.Run();
    EXPECT_EQ(h.FinalStatus(), "Error--disk or directory full");
    EXPECT_EQ(h.ReadMark("alt.pics"), 2);  // only what was kept is passed
    {
        PartStore parts(store);
        ASSERT_TRUE(parts.Load(std::time(nullptr)));
        ASSERT_EQ(parts.PendingCount(), 1u);
        EXPECT_EQ(parts.Posts()[0]->parts.size(), 2u);
    }
    ::umount(store.c_str());
    // What a run killed between keeping a post's last part and saving it leaves behind.
    {
        PartStore parts(store);
        ASSERT_TRUE(parts.Load(std::time(nullptr)));
        for (int k = 1; k <= 2; ++k) {
            ASSERT_EQ(Store(parts, PostKey("w", "x", 2), 2, PartText(w, k, 2, "w.jpg"),
                            std::time(nullptr)),
                      YEncVerdict::kOk);
        }
    }
    h.Run();
    EXPECT_TRUE(Saved("w.jpg") == w);
    PartStore parts(store);
    ASSERT_TRUE(parts.Load(std::time(nullptr)));
    EXPECT_EQ(parts.Find(PostKey("w", "x", 2)), nullptr);
    EXPECT_TRUE(parts.IsCompleted(PostKey("w", "x", 2)));
}

}  // namespace
}  // namespace qm
