#pragma once
// Test doubles for the engine's two interfaces: every status call is recorded in order as one
// text, and every question is recorded and answered from a preset.

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "engine/EngineStatus.h"

namespace qm::test {

class RecordingStatus : public EngineStatus {
public:
    void SetStatusText(const std::string& text) override { Add("status", text); }
    void SetSubjectText(const std::string& text) override { Add("subject", text); }
    void SetSavingToText(const std::string& text) override { Add("savingTo", text); }
    void SetFromText(const std::string& text) override { Add("from", text); }
    void SetBytesTransferred(std::int64_t bytes) override { Add("bytes", std::to_string(bytes)); }
    void SetArticlesScanned(long n) override { Add("scanned", std::to_string(n)); }
    void SetArticlesSaved(long n) override { Add("saved", std::to_string(n)); }
    void SetHistorySkipped(long n) override { Add("historySkipped", std::to_string(n)); }
    void SetOtherSkipped(long n) override { Add("otherSkipped", std::to_string(n)); }
    void ShowRate(RateKind which, double seconds, std::int64_t bytes) override;
    void ShowRateSince(RateKind which, std::time_t, std::time_t, std::int64_t bytes) override;
    void SetProgress(ProgressBar bar, long position, long total, bool reset) override;
    void SetScanProgress(long count, long total) override;
    void UpdateGroupTimeLeft() override { Add("timeLeft", ""); }
    void LoadThumbnail(const std::string& path) override { Add("thumbnail", path); }
    void EnablePending(bool enable) override { Add("pending", enable ? "on" : "off"); }
    void EngineFinished() override { Add("finished", ""); }

    struct Call {
        std::string op;
        std::string value;
    };
    std::vector<Call> Calls() const;
    // The values of every call of one operation, in order.
    std::vector<std::string> Values(const std::string& op) const;
    std::string Last(const std::string& op) const;  // "" when never called
    int Count(const std::string& op) const;
    // Whether op was ever called with value.
    bool Saw(const std::string& op, const std::string& value) const;
    // Forgets every call so far (between two runs of one test).
    void Clear();

private:
    void Add(const std::string& op, const std::string& value);
    mutable std::mutex mutex_;
    std::vector<Call> calls_;
};

class ScriptedPrompt : public UserPrompt {
public:
    void ShowMessage(const std::string& text) override;
    bool AskYesNo(const std::string& question) override;
    bool AskPassword(std::string& password) override;
    bool AskPasswordInstead(const std::string& why, std::string& password) override;
    void CancelQuestions() override;
    void AllowQuestions() override;

    bool yes = false;
    bool waitForAnswer = false;  // questions block, as a person's would, until cancelled
    bool passwordOk = true;
    // As the window does when the keyring cannot give the password: the reason is shown as a
    // message, then the password asked for. Off (as at a terminal): nothing is asked.
    bool offersPasswordInstead = false;
    std::string password;

    std::vector<std::string> Messages() const;
    std::vector<std::string> Questions() const;
    int PasswordPrompts() const;

private:
    mutable std::mutex mutex_;
    std::condition_variable cancelled_;
    bool cancel_ = false;
    std::vector<std::string> messages_, questions_;
    int passwordPrompts_ = 0;
};

}  // namespace qm::test
