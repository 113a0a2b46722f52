#pragma once
// The command-line runner's face: the status model's changes written to a stream as they come,
// and the engine's questions answered at the terminal (or with a fixed answer when there is none).

#include <atomic>
#include <cstdio>
#include <mutex>
#include <string>

#include "app/StatusModel.h"
#include "engine/SharedState.h"
#include "net/UserPrompt.h"

namespace qm {

class TerminalStatus : public StatusView {
public:
    // verbose: every figure, not only the status line and the saved pictures.
    TerminalStatus(std::FILE* out, SharedState& shared, bool verbose)
        : out_(out), shared_(shared), verbose_(verbose) {}

    void Show(const StatusChange& change) override;
    // The counters of the run in one line.
    void PrintSummary(const StatusModel& model);

private:
    void Print(const std::string& line);

    std::FILE* out_;
    SharedState& shared_;
    bool verbose_;
    std::mutex mutex_;
};

class TerminalPrompt : public UserPrompt {
public:
    // assumeYes: answer Yes to every question. Without it, questions are asked only on a
    // terminal and answered No otherwise.
    TerminalPrompt(std::FILE* out, bool assumeYes) : out_(out), assumeYes_(assumeYes) {}
    void ShowMessage(const std::string& text) override;
    bool AskYesNo(const std::string& question) override;
    bool AskPassword(std::string& password) override;
    void CancelQuestions() override { cancelled_ = true; }
    void AllowQuestions() override { cancelled_ = false; }

private:
    // One line typed at the terminal; false at its end or once questions are cancelled.
    bool ReadAnswer(std::string& answer) const;

    std::FILE* out_;
    bool assumeYes_;
    std::atomic<bool> cancelled_{false};
};

}  // namespace qm
