#include "support/RecordingStatus.h"

#include <algorithm>

namespace qm::test {

void RecordingStatus::ShowRate(RateKind which, double seconds, std::int64_t bytes) {
    Add("rate" + std::to_string(static_cast<int>(which)),
        std::to_string(seconds) + "," + std::to_string(bytes));
}

void RecordingStatus::ShowRateSince(RateKind which, std::time_t, std::time_t, std::int64_t bytes) {
    Add("rateSince" + std::to_string(static_cast<int>(which)), std::to_string(bytes));
}

// Recorded as "progress0" (group), "progress1" (article), "progress2" (lines decoded).
void RecordingStatus::SetProgress(ProgressBar bar, long position, long total, bool reset) {
    Add("progress" + std::to_string(static_cast<int>(bar)),
        reset ? "reset" : std::to_string(position) + "/" + std::to_string(total));
}

void RecordingStatus::SetScanProgress(long count, long total) {
    Add("scanProgress", std::to_string(count) + "/" + std::to_string(total));
}

void RecordingStatus::Clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    calls_.clear();
}

void RecordingStatus::Add(const std::string& op, const std::string& value) {
    std::lock_guard lock(mutex_);
    calls_.push_back({op, value});
}

bool RecordingStatus::Saw(const std::string& op, const std::string& value) const {
    std::lock_guard lock(mutex_);
    return std::any_of(calls_.begin(), calls_.end(),
                       [&](const Call& c) { return c.op == op && c.value == value; });
}

std::vector<RecordingStatus::Call> RecordingStatus::Calls() const {
    std::lock_guard lock(mutex_);
    return calls_;
}

std::vector<std::string> RecordingStatus::Values(const std::string& op) const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> out;
    for (const Call& c : calls_) {
        if (c.op == op) out.push_back(c.value);
    }
    return out;
}

std::string RecordingStatus::Last(const std::string& op) const {
    std::vector<std::string> values = Values(op);
    return values.empty() ? "" : values.back();
}

int RecordingStatus::Count(const std::string& op) const {
    return static_cast<int>(Values(op).size());
}

void ScriptedPrompt::ShowMessage(const std::string& text) {
    std::lock_guard lock(mutex_);
    messages_.push_back(text);
}

bool ScriptedPrompt::AskYesNo(const std::string& question) {
    std::unique_lock lock(mutex_);
    questions_.push_back(question);
    if (!waitForAnswer) return yes && !cancel_;
    cancelled_.wait(lock, [this] { return cancel_; });
    return false;
}

void ScriptedPrompt::CancelQuestions() {
    {
        std::lock_guard lock(mutex_);
        cancel_ = true;
    }
    cancelled_.notify_all();
}

void ScriptedPrompt::AllowQuestions() {
    std::lock_guard lock(mutex_);
    cancel_ = false;
}

bool ScriptedPrompt::AskPassword(std::string& out) {
    std::lock_guard lock(mutex_);
    ++passwordPrompts_;
    if (passwordOk) out = password;
    return passwordOk;
}

bool ScriptedPrompt::AskPasswordInstead(const std::string& why, std::string& out) {
    if (!offersPasswordInstead) return false;
    ShowMessage(why);
    return AskPassword(out);
}

std::vector<std::string> ScriptedPrompt::Messages() const {
    std::lock_guard lock(mutex_);
    return messages_;
}

std::vector<std::string> ScriptedPrompt::Questions() const {
    std::lock_guard lock(mutex_);
    return questions_;
}

int ScriptedPrompt::PasswordPrompts() const {
    std::lock_guard lock(mutex_);
    return passwordPrompts_;
}

}  // namespace qm::test
