#pragma once
// The questions the run's connections put to the user, asked once per group however many
// connections need the answer: the password typed for a group serves every login in it, and a
// question or message already put in the group is answered as before instead of shown again.

#include <map>
#include <mutex>
#include <set>
#include <string>

#include "net/UserPrompt.h"

namespace qm {

class GroupPrompt : public UserPrompt {
public:
    explicit GroupPrompt(UserPrompt& user) : user_(user) {}

    // A new group: its questions are put to the user again.
    void BeginGroup();

    void ShowMessage(const std::string& text) override;
    bool AskYesNo(const std::string& question) override;
    bool AskPassword(std::string& password) override;
    // Shares the password typed for the group with AskPassword.
    bool AskPasswordInstead(const std::string& why, std::string& password) override;
    void CancelQuestions() override { user_.CancelQuestions(); }
    void AllowQuestions() override { user_.AllowQuestions(); }

private:
    UserPrompt& user_;
    // Held while the user answers: another connection with the same question waits for it.
    std::mutex mutex_;
    std::set<std::string> shown_;
    std::map<std::string, bool> answers_;
    bool passwordAsked_ = false;
    bool passwordGiven_ = false;
    std::string password_;
};

}  // namespace qm
