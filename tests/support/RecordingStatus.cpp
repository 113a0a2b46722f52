#include "support/RecordingStatus.h"

namespace qm::test {

void RecordingStatus::ShowRate(int which, double seconds, std::int64_t bytes) {
    Add("rate" + std::to_string(which), std::to_string(seconds) + "," + std::to_string(bytes));
}

void RecordingStatus::ShowRateSince(int which, std::time_t, std::time_t, std::int64_t bytes) {
    Add("rateSince" + std::to_string(which), std::to_string(bytes));
}

void RecordingStatus::SetProgress(int bar, long position, long total, bool reset) {
    Add("progress" + std::to_string(bar),
        reset ? "reset" : std::to_string(position) + "/" + std::to_string(total));
}

void RecordingStatus::SetScanProgress(long count, long total) {
    Add("scanProgress", std::to_string(count) + "/" + std::to_string(total));
}

void RecordingStatus::Add(const std::string& op, const std::string& value) {
    std::lock_guard lock(mutex_);
    calls_.push_back({op, value});
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
    std::lock_guard lock(mutex_);
    questions_.push_back(question);
    return yes;
}

bool ScriptedPrompt::AskPassword(std::string& out) {
    std::lock_guard lock(mutex_);
    ++passwordPrompts_;
    if (passwordOk) out = password;
    return passwordOk;
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
