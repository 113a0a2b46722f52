#pragma once
// The engine's whole reporting interface: the status operations the window, the command-line
// runner and the tests implement.
//
// Threading: calls come from the engine thread and, where the run uses several connections, from
// the threads that open them and fetch over them (while those fetch, one call at a time, under
// the engine's work lock), so an implementation guards its state. None may block: an
// implementation hands the value on (to the window's thread, say) and returns. Only the questions
// of the prompt interface (UserPrompt) wait for the user.

#include <cstdint>
#include <ctime>
#include <string>

#include "net/UserPrompt.h"

namespace qm {

enum class RateKind { Overall, Binary };                  // Bytes/Sec, Binary Bytes/Sec
enum class ProgressBar { Group, Article, LinesDecoded };  // the three bars of the window

class EngineStatus {
public:
    virtual ~EngineStatus() = default;

    virtual void SetStatusText(const std::string& text) = 0;
    virtual void SetSubjectText(const std::string& text) = 0;
    virtual void SetSavingToText(const std::string& text) = 0;
    virtual void SetFromText(const std::string& text) = 0;
    virtual void SetBytesTransferred(std::int64_t bytes) = 0;
    virtual void SetArticlesScanned(long count) = 0;
    virtual void SetArticlesSaved(long count) = 0;
    virtual void SetHistorySkipped(long count) = 0;
    virtual void SetOtherSkipped(long count) = 0;
    // Seconds to the microsecond.
    virtual void ShowRate(RateKind which, double seconds, std::int64_t bytes) = 0;
    virtual void ShowRateSince(RateKind which, std::time_t start, std::time_t now,
                               std::int64_t bytes) = 0;
    virtual void SetProgress(ProgressBar bar, long position, long total, bool reset) = 0;
    virtual void SetScanProgress(long count, long total) = 0;
    virtual void UpdateGroupTimeLeft() = 0;
    virtual void LoadThumbnail(const std::string& path) = 0;
    virtual void EnablePending(bool enable) = 0;
    // The run has ended, on every path; the last call the engine makes.
    virtual void EngineFinished() = 0;
};

}  // namespace qm
