#include "ui/WindowPrompt.h"

#include <QMessageBox>
#include <QWidget>

#include "ui/PasswordDlg.h"

namespace qm {

WindowPrompt::WindowPrompt(QWidget* window) : QObject(window), window_(window) {}

WindowPrompt::~WindowPrompt() {
    CancelQuestions();
}

void WindowPrompt::ShowMessage(const std::string& text) {
    Ask(std::make_shared<Question>(Kind::Message, text));
}

bool WindowPrompt::AskYesNo(const std::string& question) {
    return Ask(std::make_shared<Question>(Kind::YesNo, question));
}

bool WindowPrompt::AskPassword(std::string& password) {
    auto question = std::make_shared<Question>(Kind::Password, "");
    if (!Ask(question)) return false;
    password = question->password;
    return true;
}

bool WindowPrompt::AskPasswordInstead(const std::string& why, std::string& password) {
    ShowMessage(why);
    return AskPassword(password);
}

void WindowPrompt::CancelQuestions() {
    {
        std::lock_guard lock(mutex_);
        cancelled_ = true;
    }
    answered_.notify_all();
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (open_) open_->reject();
        },
        Qt::QueuedConnection);
}

void WindowPrompt::AllowQuestions() {
    std::lock_guard lock(mutex_);
    cancelled_ = false;
}

bool WindowPrompt::Ask(const std::shared_ptr<Question>& question) {
    std::unique_lock lock(mutex_);
    if (cancelled_) return false;
    QMetaObject::invokeMethod(
        this, [this, question] { Open(question); }, Qt::QueuedConnection);
    answered_.wait(lock, [&] { return question->done || cancelled_; });
    return question->done && question->answer;
}

void WindowPrompt::Answer(const std::shared_ptr<Question>& question, bool answer,
                          const std::string& password) {
    {
        std::lock_guard lock(mutex_);
        question->answer = answer;
        question->password = password;
        question->done = true;
    }
    answered_.notify_all();
}

void WindowPrompt::Open(const std::shared_ptr<Question>& question) {
    {
        std::lock_guard lock(mutex_);
        if (cancelled_) return;
    }
    QDialog* box = nullptr;
    if (question->kind == Kind::Password) {
        auto* dialog = new CPasswordDlg(window_);
        connect(dialog, &QDialog::finished, this, [this, question, dialog](int result) {
            Answer(question, result == QDialog::Accepted, dialog->Password());
        });
        box = dialog;
    } else {
        const bool yesNo = question->kind == Kind::YesNo;
        auto* message =
            new QMessageBox(yesNo ? QMessageBox::Question : QMessageBox::Information,
                            QStringLiteral("Quarrymoth"), QString::fromStdString(question->text),
                            yesNo ? QMessageBox::Yes | QMessageBox::No : QMessageBox::Ok, window_);
        message->setTextFormat(Qt::PlainText);
        if (yesNo) {
            message->setDefaultButton(QMessageBox::No);
            message->setEscapeButton(QMessageBox::No);
        }
        connect(message, &QMessageBox::finished, this, [this, question, message](int) {
            Answer(question,
                   message->clickedButton() == message->button(QMessageBox::Yes) ||
                       question->kind == Kind::Message,
                   "");
        });
        box = message;
    }
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::ApplicationModal);
    open_ = box;
    box->open();
}

}  // namespace qm
