#pragma once
// The command-line runner's face: status operations written to a stream as they come, and the
// engine's questions answered at the terminal (or with a fixed answer when there is none).

#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>

#include "engine/EngineStatus.h"
#include "engine/SharedState.h"

namespace qm {

class TerminalStatus : public EngineStatus {
public:
    TerminalStatus(std::FILE* out, SharedState& shared, bool verbose)
        : out_(out), shared_(shared), verbose_(verbose) {}

    void SetStatusText(const std::string& text) override;
    void SetSubjectText(const std::string& text) override;
    void SetSavingToText(const std::string& text) override;
    void SetFromText(const std::string& text) override;
    void SetBytesTransferred(std::int64_t bytes) override;
    void SetArticlesScanned(long count) override;
    void SetArticlesSaved(long count) override;
    void SetHistorySkipped(long count) override;
    void SetOtherSkipped(long count) override;
    void ShowRate(int which, double seconds, std::int64_t bytes) override;
    void ShowRateSince(int which, std::time_t start, std::time_t now, std::int64_t bytes) override;
    void SetProgress(int bar, long position, long total, bool reset) override;
    void SetScanProgress(long count, long total) override;
    void UpdateGroupTimeLeft() override;
    void LoadThumbnail(const std::string& path) override;
    void EnablePending(bool enable) override;
    void EngineFinished() override;

    // The last status text shown (the run's final status once the engine has finished).
    std::string LastStatus() const;
    bool Finished() const;
    void PrintSummary();

private:
    void Print(const std::string& line, bool always = true);

    std::FILE* out_;
    SharedState& shared_;
    bool verbose_;
    mutable std::mutex mutex_;
    std::string lastStatus_;
    bool finished_ = false;
    std::string subject_, from_;
    std::int64_t bytes_ = 0;
    long scanned_ = 0, saved_ = 0, historySkipped_ = 0, otherSkipped_ = 0;
    std::string rate_[2] = {"0", "0"};
};

class TerminalPrompt : public UserPrompt {
public:
    // assumeYes: answer Yes to every question. Without it, questions are asked only on a
    // terminal and answered No otherwise.
    TerminalPrompt(std::FILE* out, bool assumeYes) : out_(out), assumeYes_(assumeYes) {}
    void ShowMessage(const std::string& text) override;
    bool AskYesNo(const std::string& question) override;
    bool AskPassword(std::string& password) override;

private:
    std::FILE* out_;
    bool assumeYes_;
};

}  // namespace qm
