#pragma once
// A status interface that shows nothing: for benchmarks that time the engine alone, and as a base
// for doubles that watch only a few of the status calls.

#include "engine/EngineStatus.h"

namespace qm::test {

class NullStatus : public EngineStatus {
public:
    void SetStatusText(const std::string&) override {}
    void SetSubjectText(const std::string&) override {}
    void SetSavingToText(const std::string&) override {}
    void SetFromText(const std::string&) override {}
    void SetBytesTransferred(std::int64_t) override {}
    void SetArticlesScanned(long) override {}
    void SetArticlesSaved(long) override {}
    void SetHistorySkipped(long) override {}
    void SetOtherSkipped(long) override {}
    void ShowRate(RateKind, double, std::int64_t) override {}
    void ShowRateSince(RateKind, std::time_t, std::time_t, std::int64_t) override {}
    void SetProgress(ProgressBar, long, long, bool) override {}
    void SetScanProgress(long, long) override {}
    void UpdateGroupTimeLeft() override {}
    void LoadThumbnail(const std::string&) override {}
    void EnablePending(bool) override {}
    void EngineFinished() override {}
};

}  // namespace qm::test
