#include "engine/GroupPrompt.h"

namespace qm {

void GroupPrompt::BeginGroup() {
    std::lock_guard lock(mutex_);
    shown_.clear();
    answers_.clear();
    passwordAsked_ = false;
    passwordGiven_ = false;
    password_.clear();
}

void GroupPrompt::ShowMessage(const std::string& text) {
    std::lock_guard lock(mutex_);
    if (shown_.insert(text).second) user_.ShowMessage(text);
}

bool GroupPrompt::AskYesNo(const std::string& question) {
    std::lock_guard lock(mutex_);
    const auto known = answers_.find(question);
    if (known != answers_.end()) return known->second;
    const bool yes = user_.AskYesNo(question);
    answers_.emplace(question, yes);
    return yes;
}

bool GroupPrompt::AskPassword(std::string& password) {
    std::lock_guard lock(mutex_);
    if (!passwordAsked_) {
        passwordGiven_ = user_.AskPassword(password_);
        passwordAsked_ = true;
    }
    password = password_;
    return passwordGiven_;
}

bool GroupPrompt::AskPasswordInstead(const std::string& why, std::string& password) {
    std::lock_guard lock(mutex_);
    if (!passwordAsked_) {
        passwordGiven_ = user_.AskPasswordInstead(why, password_);
        passwordAsked_ = true;
    }
    password = password_;
    return passwordGiven_;
}

}  // namespace qm
