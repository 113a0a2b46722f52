#pragma once
// The part counter of a multi-part post's subject: "(2/5)" in `"name.jpg" yEnc (2/5) 3145728`,
// also after a collection counter as in `[01/14] - "name.jpg" yEnc (2/5)`. It tells which part
// of how many an article is, and what remains of the subject once it is taken out names the post.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace qm {

struct PartCounter {
    long part = 0;         // k of "(k/N)"
    long total = 0;        // N
    std::size_t pos = 0;   // where the counter starts in the subject, at its bracket
    std::size_t size = 0;  // its length, brackets included

    // 1 <= k <= N and N > 1: the article is one part of a larger post. "(0/N)" is a post's
    // description and "(1/1)" a whole file, neither of them a part.
    bool MakesPart() const { return part >= 1 && part <= total && total > 1; }
};

// The subject's last "(k/N)", or its last "[k/N]" when it has none: k and N decimal digits (of
// at most kMaxDigits each), nothing else between the brackets.
std::optional<PartCounter> FindPartCounter(std::string_view subject);
inline constexpr std::size_t kMaxCounterDigits = 6;

// The subject with the counter taken out, so every part of a post gives the same text.
std::string SubjectWithoutCounter(std::string_view subject, const PartCounter& counter);

// What the parts of one post share: the subject without its counter, the sender and the count of
// parts. Parts of different posts never share it; a repost of the same file does.
std::string PostKey(std::string_view subjectWithoutCounter, std::string_view from, long total);

}  // namespace qm
