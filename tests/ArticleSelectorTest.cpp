#include "engine/ArticleSelector.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "engine/EngineState.h"
#include "engine/HistoryIndex.h"
#include "engine/HistoryList.h"
#include "engine/SharedState.h"
#include "support/RecordingStatus.h"
#include "support/TempDir.h"

namespace qm {
namespace {

using test::RecordingStatus;
using test::TempDir;
using Names = std::vector<std::string>;

TEST(SplitColonListTest, CutsAtColonsKeepingInnerEmptyParts) {
    EXPECT_EQ(SplitColonList("JPG:gif"), (Names{"jpg", "gif"}));
    EXPECT_EQ(SplitColonList("jpg:gif:"), (Names{"jpg", "gif"}));
    EXPECT_EQ(SplitColonList("jpg::gif"), (Names{"jpg", "", "gif"}));
    EXPECT_EQ(SplitColonList(":"), (Names{""}));
    EXPECT_EQ(SplitColonList("1/1:01/01"), (Names{"1/1", "01/01"}));
    EXPECT_TRUE(SplitColonList("").empty());
}

TEST(ListMatchesTest, AnyEntryAnywhereAndEmptyEntriesMatchEverything) {
    EXPECT_TRUE(ListMatches({"gif", "jpg"}, "sunset.jpg (1/1)"));
    EXPECT_FALSE(ListMatches({"gif", "png"}, "sunset.jpg"));
    EXPECT_TRUE(ListMatches({"png", ""}, "anything"));
    EXPECT_FALSE(ListMatches({}, "anything"));
}

class ArticleSelectorTest : public ::testing::Test {
protected:
    ArticleSelector& Make(const SelectionSettings& settings) {
        selector_.emplace(settings, status_, shared_, dir_.path());
        selector_->BeginGroup(false, {});
        return *selector_;
    }
    ArticleSelector& Make() { return Make(SelectionSettings{}); }
    bool Judge(const std::string& subject, const std::string& sender = "poster@example.com",
               long lines = 1000) {
        return selector_->Select("1234", subject, sender, lines, "date");
    }
    void UseHistory(const Names& names) {
        for (const std::string& n : names) history_.Add(n);
        selector_->RefreshHistory(history_);
    }

    TempDir dir_;
    RecordingStatus status_;
    SharedState shared_;
    HistoryList history_{dir_.path()};
    std::optional<ArticleSelector> selector_;
};

TEST_F(ArticleSelectorTest, LineLimitsAreInclusiveAndUncounted) {
    Make();
    EXPECT_FALSE(Judge("a.jpg", "x", 499));
    EXPECT_TRUE(Judge("a.jpg", "x", 500));
    EXPECT_TRUE(Judge("a.jpg", "x", 3000));
    EXPECT_FALSE(Judge("a.jpg", "x", 3001));
    EXPECT_EQ(status_.Calls().size(), 0u);
}

TEST_F(ArticleSelectorTest, IncludeListsAndTheSlashRule) {
    SelectionSettings s;
    s.subjectIncl = "jpg:gif";
    s.subjectIncl2 = "1/1:01/01";
    Make(s);
    EXPECT_FALSE(Judge("Sunset.JPG (1/2)"));  // passes the first list, fails the second
    EXPECT_TRUE(Judge("Sunset.jpg"));         // no slash: the second list does not apply
    EXPECT_TRUE(Judge("Sunset.jpg (01/01)"));
    EXPECT_FALSE(Judge("Sunset.png"));
    EXPECT_EQ(selector_->OtherSkipped(), 0);
    EXPECT_EQ(status_.Calls().size(), 0u);
}

TEST_F(ArticleSelectorTest, AnEmptyIncludeEntryAcceptsEverything) {
    SelectionSettings s;
    s.subjectIncl = "jpg::";
    Make(s);
    EXPECT_TRUE(Judge("notes.txt"));
}

TEST_F(ArticleSelectorTest, SubjectExcludesCountAsOtherSkippedAndIgnoreEmptyEntries) {
    SelectionSettings s;
    s.subjectExcl = "SPAM::";
    Make(s);
    EXPECT_FALSE(Judge("Cheap Spam.jpg"));
    EXPECT_TRUE(Judge("sunset.jpg"));
    EXPECT_FALSE(Judge("more spam.jpg"));
    EXPECT_EQ(status_.Values("otherSkipped"), (Names{"1", "2"}));
}

TEST_F(ArticleSelectorTest, SenderExcludesAreReadFromTheFileForEveryGroup) {
    Make();
    TempDir::WriteFile(dir_ / "FromExcludes", "@Spammer.COM\r\n\r\nbad guy\r\n");
    selector_->BeginGroup(false);
    EXPECT_FALSE(Judge("a.jpg", "Someone <x@spammer.com>"));
    EXPECT_FALSE(Judge("a.jpg", "Bad Guy <b@example.com>"));
    EXPECT_TRUE(Judge("a.jpg", "friend@example.com"));  // the empty line excludes nobody
    EXPECT_EQ(selector_->OtherSkipped(), 2);

    TempDir::WriteFile(dir_ / "FromExcludes", "friend\n");
    selector_->BeginGroup(false);
    EXPECT_TRUE(Judge("a.jpg", "x@spammer.com"));
    EXPECT_FALSE(Judge("a.jpg", "friend@example.com"));

    std::remove((dir_ / "FromExcludes").c_str());
    selector_->BeginGroup(false);
    EXPECT_TRUE(Judge("a.jpg", "friend@example.com"));
}

TEST_F(ArticleSelectorTest, SubjectCacheRejectsExactSubjectsOnlyWhenSwitchedOn) {
    Make();
    shared_.AddToSubjectCache("removed.jpg (1/1)");
    EXPECT_TRUE(Judge("Removed.JPG (1/1)"));
    selector_->BeginGroup(true, {});
    EXPECT_FALSE(Judge("Removed.JPG (1/1)"));
    EXPECT_TRUE(Judge("Removed.JPG (1/1) repost"));
    EXPECT_EQ(status_.Values("otherSkipped"), (Names{"1"}));
}

TEST_F(ArticleSelectorTest, HistoryHitsAtTheStartOrAfterASpace) {
    Make();
    UseHistory({"sunset.jpg"});
    EXPECT_FALSE(Judge("Sunset.jpg (1/1)"));
    EXPECT_FALSE(Judge("Re: sunset.jpg"));
    EXPECT_TRUE(Judge("my_sunset.jpg"));
    EXPECT_EQ(status_.Values("historySkipped"), (Names{"1", "2"}));
    EXPECT_EQ(selector_->OtherSkipped(), 0);
    EXPECT_FALSE(TempDir::Exists(dir_ / "HistLog.txt"));
}

TEST_F(ArticleSelectorTest, HistoryHitsAreLoggedWithTheFirstMatchingEntry) {
    SelectionSettings s;
    s.logHistoryHits = true;
    Make(s);
    UseHistory({"beach.jpg", "sunset.jpg", "sun"});
    EXPECT_FALSE(Judge("Re: SUNSET.jpg and beach.jpg"));
    EXPECT_FALSE(Judge("sunny day.gif"));
    EXPECT_EQ(TempDir::ReadFile(dir_ / "HistLog.txt"),
              "beach.jpg -- re: sunset.jpg and beach.jpg\nsun -- sunny day.gif\n");
}

TEST_F(ArticleSelectorTest, ExcludesAreCheckedBeforeTheHistory) {
    SelectionSettings s;
    s.subjectExcl = "repost";
    Make(s);
    UseHistory({"sunset.jpg"});
    EXPECT_FALSE(Judge("sunset.jpg repost"));
    EXPECT_EQ(selector_->OtherSkipped(), 1);
    EXPECT_EQ(selector_->HistorySkipped(), 0);
}

TEST_F(ArticleSelectorTest, LookupSeesNamesAddedSinceTheLastRefreshOnlyAfterTheNextOne) {
    Make();
    UseHistory({"a.jpg"});
    history_.Add("b.jpg");
    EXPECT_TRUE(Judge("b.jpg"));
    selector_->RefreshHistory(history_);
    EXPECT_FALSE(Judge("b.jpg"));
}

TEST_F(ArticleSelectorTest, PassCountersRestart) {
    SelectionSettings s;
    s.subjectExcl = "x";
    Make(s);
    UseHistory({"a.jpg"});
    EXPECT_FALSE(Judge("x.jpg"));
    EXPECT_FALSE(Judge("a.jpg"));
    selector_->ResetPassCounters();
    EXPECT_FALSE(Judge("x.jpg"));
    EXPECT_FALSE(Judge("a.jpg"));
    EXPECT_EQ(status_.Values("otherSkipped"), (Names{"1", "1"}));
    EXPECT_EQ(status_.Values("historySkipped"), (Names{"1", "1"}));
}

TEST_F(ArticleSelectorTest, EngineFormTakesTheRunSnapshot) {
    EngineSettings settings;
    settings.subjectExcl = "bad";
    settings.minLines = 10;
    settings.maxLines = 20;
    history_.Add("old.jpg");
    ArticleSelector selector(settings, status_, shared_, history_);
    selector.BeginGroup(false, {});
    EXPECT_FALSE(selector.Select("1", "ok.jpg", "s", 9, "d"));
    EXPECT_TRUE(selector.Select("1", "ok.jpg", "s", 20, "d"));
    EXPECT_FALSE(selector.Select("1", "bad.jpg", "s", 15, "d"));
    EXPECT_FALSE(selector.Select("1", "old.jpg", "s", 15, "d"));
    EXPECT_EQ(selector.HistorySkipped(), 1);
}

// The indexed lookup against the plain rule.

void ExpectSameAsLinear(const Names& entries, const std::string& subject,
                        const HistoryIndex& index) {
    const HistoryIndex::Hit hit = index.Find(subject);
    const long expected = HistoryIndex::LinearFirstHit(entries, subject);
    ASSERT_EQ(hit.position, expected) << "subject '" << subject << "'";
    if (expected != HistoryIndex::kNoHit) {
        ASSERT_EQ(subject.substr(hit.start, hit.length), entries[static_cast<size_t>(expected)])
            << "subject '" << subject << "'";
    }
}

TEST(HistoryIndexTest, PlainCases) {
    const Names entries = {"sunset.jpg", "my pic.jpg", "sunset.jpg", "sun"};
    HistoryIndex index;
    index.Build(entries);
    EXPECT_EQ(index.FirstHit("sunset.jpg (1/1)"), 0);
    EXPECT_EQ(index.FirstHit("re: sunset.jpg"), 0);
    EXPECT_EQ(index.FirstHit("my_sunset.jpg"), HistoryIndex::kNoHit);
    EXPECT_EQ(index.FirstHit("re: my pic.jpg"), 1);
    EXPECT_EQ(index.FirstHit("amy pic.jpg"), HistoryIndex::kNoHit);
    EXPECT_EQ(index.FirstHit("sunny"), 3);
    EXPECT_EQ(index.FirstHit("x sunset.jp"), 3);
    EXPECT_EQ(index.FirstHit(""), HistoryIndex::kNoHit);
    for (const char* s : {"sunset.jpg (1/1)", "re: my pic.jpg", "x sunset.jp", "sunsunset.jpg"}) {
        ExpectSameAsLinear(entries, s, index);
    }
}

TEST(HistoryIndexTest, EmptyEntryHitsEverySubjectUnlessAnEarlierEntryDoes) {
    const Names entries = {"b.jpg", "", "a.jpg"};
    HistoryIndex index;
    index.Build(entries);
    EXPECT_EQ(index.FirstHit("re: b.jpg"), 0);
    EXPECT_EQ(index.FirstHit("a.jpg"), 1);
    EXPECT_EQ(index.FirstHit(""), 1);
    ExpectSameAsLinear(entries, "", index);
}

TEST(HistoryIndexTest, RebuildReplacesTheEntries) {
    HistoryIndex index;
    index.Build({"a.jpg"});
    index.Build({"b.jpg"});
    EXPECT_EQ(index.FirstHit("a.jpg"), HistoryIndex::kNoHit);
    EXPECT_EQ(index.FirstHit("b.jpg"), 0);
    index.Build({});
    EXPECT_EQ(index.FirstHit("b.jpg"), HistoryIndex::kNoHit);
}

TEST(HistoryIndexTest, LongEntriesAndAnyByteValues) {
    Names entries = {std::string(300, 'a'), std::string(256, 'b'),          std::string(255, 'c'),
                     std::string(254, 'd'), std::string("a\0b\xff.jpg", 8), "\xe9t\xe9.jpg"};
    HistoryIndex index;
    index.Build(entries);
    for (const std::string& s :
         {std::string(301, 'a'), "q " + std::string(299, 'a'), std::string(256, 'b'),
          std::string(255, 'b'), "x " + std::string(255, 'c'), std::string(254, 'c'),
          std::string(254, 'd'), std::string("q a\0b\xff.jpg", 10),
          std::string("\xe9t\xe9.jpg (1/1)")}) {
        ExpectSameAsLinear(entries, s, index);
    }
    for (int i = 0; i < 200; ++i)
        entries.push_back(std::string(1 + i % 7, 'e') + std::string(300, 'f'));
    index.Build(entries);
    ExpectSameAsLinear(entries, "eee" + std::string(300, 'f'), index);
    ExpectSameAsLinear(entries, std::string(300, 'a'), index);
}

// Long shared beginnings with entries ending inside them, as camera names have.
TEST(HistoryIndexTest, MatchesTheLinearRuleWithLongSharedBeginnings) {
    std::mt19937 rng(7);
    auto pick = [&rng](size_t n) { return static_cast<size_t>(rng() % n); };
    for (const std::string base : {"img_2023 0412_1", "aaaa aaaab"}) {
        auto make = [&]() {
            std::string s = base.substr(0, base.size() - pick(4) * pick(5));
            for (size_t n = pick(4); n > 0; --n) s += "1a "[pick(3)];
            return s;
        };
        for (int round = 0; round < 100; ++round) {
            Names entries(10 + pick(300));
            for (std::string& e : entries) e = make();
            HistoryIndex index;
            index.Build(entries);
            for (int k = 0; k < 50; ++k) {
                ExpectSameAsLinear(entries, (pick(2) ? "re: " : "") + make() + make(), index);
            }
        }
    }
}

// Random histories and subjects over tiny alphabets, so that overlaps, duplicates, prefixes,
// empty entries and " " + h matches are frequent; sizes cross every shape of the lookup.
TEST(HistoryIndexTest, MatchesTheLinearRuleOnRandomCases) {
    std::mt19937 rng(20240611);
    const std::string alphabets[] = {"ab ", "a b.", "ab", " a"};
    auto pick = [&rng](size_t n) { return static_cast<size_t>(rng() % n); };
    for (int round = 0; round < 400; ++round) {
        const std::string& alpha = alphabets[pick(4)];
        auto text = [&](size_t maxLen) {
            std::string s(pick(maxLen + 1), ' ');
            for (char& c : s) c = alpha[pick(alpha.size())];
            return s;
        };
        const size_t sizes[] = {1, 5, 20, 70, 300, 2000};
        Names entries(sizes[pick(6)]);
        const size_t longest = 2 + pick(12);
        for (std::string& e : entries) e = text(longest);
        HistoryIndex index;
        index.Build(entries);
        for (int k = 0; k < 50; ++k) ExpectSameAsLinear(entries, text(24), index);
    }
}

}  // namespace
}  // namespace qm
