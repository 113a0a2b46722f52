// The part counter of overview subjects: what it finds is a well-formed counter at the place it
// names, no later one is passed over, and taking it out and putting it back gives the subject.

#include <string>

#include "FuzzSupport.h"
#include "engine/PartCounter.h"

using namespace qm;
using namespace qm::fuzz;

namespace {

// Reads "(k/N)" or "[k/N]" at text[pos] the plain way; the digits of k and N into out.
bool WellFormed(std::string_view text, std::size_t pos, char open, char close, long out[2]) {
    if (pos >= text.size() || text[pos] != open) return false;
    std::size_t i = pos + 1;
    for (int n = 0; n < 2; ++n) {
        std::string digits;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9') digits += text[i++];
        if (digits.empty() || digits.size() > kMaxCounterDigits || i >= text.size()) return false;
        if (text[i++] != (n == 0 ? '/' : close)) return false;
        out[n] = std::stol(digits);
    }
    return true;
}

bool AnyAfter(std::string_view text, std::size_t from, char open, char close) {
    long ignored[2];
    for (std::size_t p = from; p < text.size(); ++p) {
        if (WellFormed(text, p, open, close, ignored)) return true;
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view subject = AsText(data, size);
    const auto counter = FindPartCounter(subject);
    if (!counter) {
        FUZZ_CHECK(!AnyAfter(subject, 0, '(', ')') && !AnyAfter(subject, 0, '[', ']'));
        return 0;
    }
    const char open = subject[counter->pos];
    const char close = open == '(' ? ')' : ']';
    long numbers[2] = {-1, -1};
    FUZZ_CHECK(WellFormed(subject, counter->pos, open, close, numbers));
    FUZZ_CHECK(numbers[0] == counter->part && numbers[1] == counter->total);
    FUZZ_CHECK(subject[counter->pos + counter->size - 1] == close);
    // The last of its kind, and square brackets only where no round counter is.
    FUZZ_CHECK(!AnyAfter(subject, counter->pos + 1, open, close));
    if (open == '[') FUZZ_CHECK(!AnyAfter(subject, 0, '(', ')'));
    const std::string rest = SubjectWithoutCounter(subject, *counter);
    FUZZ_CHECK(rest.size() + counter->size == subject.size());
    std::string back = rest;
    back.insert(counter->pos, subject.substr(counter->pos, counter->size));
    FUZZ_CHECK(back == subject);
    FUZZ_CHECK(counter->MakesPart() ==
               (counter->part >= 1 && counter->part <= counter->total && counter->total > 1));
    return 0;
}
