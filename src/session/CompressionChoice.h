#pragma once
// CompressionChoice: whether the connections of one run still ask for compression. Every session
// of the run shares it; the first compressed connection that stalls turns compression off for
// all of them, and only that one is told so, so the user hears about it once.

#include <atomic>

namespace qm {

class CompressionChoice {
public:
    bool Wanted() const { return wanted_.load(); }
    // True only for the call that turned compression off.
    bool TurnOffAfterStall() { return wanted_.exchange(false); }

private:
    std::atomic<bool> wanted_{true};
};

}  // namespace qm
