#include <gtest/gtest.h>

#include "engine/PartCounter.h"

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

}  // namespace
}  // namespace qm
