#include "engine/PartCounter.h"

namespace qm {
namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// The counter that opens at subject[open] with the given bracket pair, if it is one.
std::optional<PartCounter> CounterAt(std::string_view subject, std::size_t open, char close) {
    long numbers[2] = {0, 0};
    std::size_t i = open + 1;
    for (int n = 0; n < 2; ++n) {
        const std::size_t start = i;
        while (i < subject.size() && IsDigit(subject[i])) {
            if (i - start == kMaxCounterDigits) return std::nullopt;
            numbers[n] = numbers[n] * 10 + (subject[i] - '0');
            ++i;
        }
        if (i == start || i >= subject.size()) return std::nullopt;
        if (subject[i] != (n == 0 ? '/' : close)) return std::nullopt;
        ++i;
    }
    return PartCounter{numbers[0], numbers[1], open, i - open};
}

std::optional<PartCounter> LastCounter(std::string_view subject, char open, char close) {
    for (std::size_t pos = subject.rfind(open); pos != std::string_view::npos;
         pos = pos == 0 ? std::string_view::npos : subject.rfind(open, pos - 1)) {
        if (auto counter = CounterAt(subject, pos, close)) return counter;
    }
    return std::nullopt;
}

}  // namespace

std::optional<PartCounter> FindPartCounter(std::string_view subject) {
    if (auto round = LastCounter(subject, '(', ')')) return round;
    return LastCounter(subject, '[', ']');
}

std::string SubjectWithoutCounter(std::string_view subject, const PartCounter& counter) {
    std::string out(subject.substr(0, counter.pos));
    out += subject.substr(counter.pos + counter.size);
    return out;
}

std::string PostKey(std::string_view subjectWithoutCounter, std::string_view from, long total) {
    // Overview fields never hold a tab, so the separator keeps the three apart.
    std::string key(subjectWithoutCounter);
    key += '\t';
    key += from;
    key += '\t';
    key += std::to_string(total);
    return key;
}

}  // namespace qm
