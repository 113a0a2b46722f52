#pragma once
// The questions and message boxes a worker puts to the user (the engine's, the group list
// worker's). Each call blocks the worker until the user answers.

#include <string>

namespace qm {

class UserPrompt {
public:
    virtual ~UserPrompt() = default;
    virtual void ShowMessage(const std::string& text) = 0;
    virtual bool AskYesNo(const std::string& question) = 0;  // default answer No
    // Password prompt: true with the password on OK, false when cancelled.
    virtual bool AskPassword(std::string& password) = 0;
    // The password could not be had where the profile keeps it (why says so, as the user reads
    // it): true with one the user typed instead. Without anyone to ask (a scheduled run) the
    // answer is false and the login is not made.
    virtual bool AskPasswordInstead(const std::string& /*why*/, std::string& /*password*/) {
        return false;
    }

    // Stop, and the end of the program: a question being asked now or later is answered No (or
    // Cancel) at once, so no worker waits on an answer nobody will give. Any thread may call it;
    // a prompt that never blocks needs nothing here.
    virtual void CancelQuestions() {}
    // A new run: questions are put to the user again.
    virtual void AllowQuestions() {}
};

}  // namespace qm
