#pragma once
// What a front end shows of a run: the engine's status operations turned into the texts and bar
// positions of the display, the latest of each kept, every change handed to the front end's view.
// The runner's terminal and the window share it, so both show the same figures.

#include <array>
#include <cstdint>
#include <mutex>
#include <string>

#include "engine/EngineStatus.h"
#include "engine/SharedState.h"

namespace qm {

enum class StatusField {
    Status,  // the status line, "  " in front
    Subject,
    SavingTo,
    From,
    BytesTransferred,  // "1,234,567"
    ArticlesScanned,
    ArticlesSaved,
    HistorySkipped,
    OtherSkipped,
    BytesPerSec,
    BinaryBytesPerSec,
    GroupProgress,  // "3 of 12 (25%)", "" when reset
    ArticleProgress,
    LinesDecoded,
    ScanProgress,   // "30 of 120", "" when the scan ends
    TimeLeft,       // "01:02:05", "1 01:01:01"
    Thumbnail,      // the path of the picture just saved
    PendingButton,  // "1" enabled, "0" disabled
    Finished,       // the run has ended
};
inline constexpr std::size_t kStatusFieldCount =
    static_cast<std::size_t>(StatusField::Finished) + 1;

struct StatusChange {
    StatusField field;
    std::string text;
    int percent = 0;  // the position of a bar, 0 to 100
    // Thumbnail only: the subject and sender of the picture's own article, which the file
    // actions speak of however late the picture is shown.
    std::string subject;
    std::string from;
};

// The front end's side: told of every change, on the engine thread, in order. Must return at once
// (hand the change to the window's thread, print it), never wait.
class StatusView {
public:
    virtual ~StatusView() = default;
    virtual void Show(const StatusChange& change) = 0;
};

class StatusModel : public EngineStatus {
public:
    StatusModel(SharedState& shared, StatusView& view) : shared_(shared), view_(view) {}

    void SetStatusText(const std::string& text) override;
    void SetSubjectText(const std::string& text) override;
    void SetSavingToText(const std::string& text) override;
    void SetFromText(const std::string& text) override;
    void SetBytesTransferred(std::int64_t bytes) override;
    void SetArticlesScanned(long count) override;
    void SetArticlesSaved(long count) override;
    void SetHistorySkipped(long count) override;
    void SetOtherSkipped(long count) override;
    void ShowRate(RateKind which, double seconds, std::int64_t bytes) override;
    void ShowRateSince(RateKind which, std::time_t start, std::time_t now,
                       std::int64_t bytes) override;
    void SetProgress(ProgressBar bar, long position, long total, bool reset) override;
    void SetScanProgress(long count, long total) override;
    void UpdateGroupTimeLeft() override;
    void LoadThumbnail(const std::string& path) override;
    void EnablePending(bool enable) override;
    void EngineFinished() override;

    // The latest text of a field, from any thread.
    std::string Text(StatusField field) const;
    // The last status text as the engine gave it (the run's final status once it has finished).
    std::string LastStatus() const;

private:
    void Publish(StatusField field, std::string text, int percent = 0);
    void Publish(const StatusChange& change);

    SharedState& shared_;
    StatusView& view_;
    mutable std::mutex mutex_;
    std::array<std::string, kStatusFieldCount> texts_;
    std::string lastStatus_;
};

}  // namespace qm
