#pragma once
// The engine's questions and messages, shown by the window's thread while the engine waits for the
// answer. Closing a box counts as No (or Cancel); Stop and the end of the program answer every
// question No at once, so the engine never waits on a box nobody will answer.

#include <QObject>
#include <QPointer>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>

#include "net/UserPrompt.h"

class QDialog;
class QWidget;

namespace qm {

class WindowPrompt : public QObject, public UserPrompt {
public:
    explicit WindowPrompt(QWidget* window);
    ~WindowPrompt() override;

    void ShowMessage(const std::string& text) override;
    bool AskYesNo(const std::string& question) override;
    bool AskPassword(std::string& password) override;
    // Shows why, then offers the password prompt.
    bool AskPasswordInstead(const std::string& why, std::string& password) override;
    void CancelQuestions() override;
    void AllowQuestions() override;

private:
    enum class Kind { Message, YesNo, Password };
    struct Question {
        Question(Kind k, std::string t) : kind(k), text(std::move(t)) {}
        Kind kind;
        std::string text;
        bool done = false;
        bool answer = false;
        std::string password;
    };

    bool Ask(const std::shared_ptr<Question>& question);
    void Open(const std::shared_ptr<Question>& question);  // window thread
    void Answer(const std::shared_ptr<Question>& question, bool answer,
                const std::string& password);

    QWidget* window_;
    std::mutex mutex_;
    std::condition_variable answered_;
    bool cancelled_ = false;
    QPointer<QDialog> open_;
};

}  // namespace qm
