#include "app/TerminalStatus.h"

#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace qm {
namespace {

// Subjects and senders come from the server: a control character could set the terminal's
// title, move the cursor or clear the screen, so each shows as "?".
std::string Printable(const std::string& text) {
    std::string out = text;
    for (char& c : out) {
        auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7f) c = '?';
    }
    return out;
}

// The label a figure is printed with in verbose mode; nullptr for the fields printed otherwise.
const char* LabelOf(StatusField field) {
    switch (field) {
        case StatusField::Subject:
            return "Subject: ";
        case StatusField::SavingTo:
            return "Saving To: ";
        case StatusField::From:
            return "From: ";
        case StatusField::BytesTransferred:
            return "Bytes Transferred: ";
        case StatusField::ArticlesScanned:
            return "Articles Scanned: ";
        case StatusField::ArticlesSaved:
            return "Articles Saved: ";
        case StatusField::HistorySkipped:
            return "History Files Skipped: ";
        case StatusField::OtherSkipped:
            return "Other Files Skipped: ";
        case StatusField::BytesPerSec:
            return "Bytes/Sec: ";
        case StatusField::BinaryBytesPerSec:
            return "Binary Bytes/Sec: ";
        case StatusField::GroupProgress:
            return "Group Progress: ";
        case StatusField::ArticleProgress:
            return "Article Progress: ";
        case StatusField::LinesDecoded:
            return "Lines Decoded: ";
        case StatusField::TimeLeft:
            return "Time Left in Group: ";
        default:
            return nullptr;
    }
}

}  // namespace

void TerminalStatus::Print(const std::string& line) {
    std::lock_guard lock(mutex_);
    std::fputs(Printable(line).c_str(), out_);
    std::fputc('\n', out_);
    std::fflush(out_);
}

void TerminalStatus::Show(const StatusChange& change) {
    switch (change.field) {
        case StatusField::Status:
            Print(change.text);
            return;
        case StatusField::Thumbnail:
            shared_.SetCurrentPicturePath(change.text);
            Print("Saved: " + change.text);
            return;
        case StatusField::ScanProgress:
            if (verbose_ && !change.text.empty()) Print("Scanned " + change.text + " headers");
            return;
        default:
            break;
    }
    const char* label = LabelOf(change.field);
    // An emptied field (a reset bar, no subject between groups) says nothing new.
    bool empty = change.text.empty() && change.field != StatusField::From;
    if (verbose_ && label && !empty) Print(label + change.text);
}

void TerminalStatus::PrintSummary(const StatusModel& model) {
    auto figure = [&model](StatusField field) {
        std::string text = model.Text(field);
        return text.empty() ? std::string("0") : text;
    };
    Print("Articles Scanned: " + figure(StatusField::ArticlesScanned) +
          "  Articles Saved: " + figure(StatusField::ArticlesSaved) +
          "  History Files Skipped: " + figure(StatusField::HistorySkipped) +
          "  Other Files Skipped: " + figure(StatusField::OtherSkipped) +
          "  Bytes Transferred: " + figure(StatusField::BytesTransferred));
}

void TerminalPrompt::ShowMessage(const std::string& text) {
    std::fputs(("Quarrymoth: " + text + "\n").c_str(), out_);
    std::fflush(out_);
}

bool TerminalPrompt::ReadAnswer(std::string& answer) const {
    answer.clear();
    for (;;) {
        if (cancelled_) return false;
        pollfd p{STDIN_FILENO, POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0) continue;  // look at the cancel flag ten times a second
        char c = 0;
        if (::read(STDIN_FILENO, &c, 1) != 1) return false;
        if (c == '\n') return true;
        answer += c;
    }
}

bool TerminalPrompt::AskYesNo(const std::string& question) {
    std::fputs(("Quarrymoth: " + question + " [y/N] ").c_str(), out_);
    if (assumeYes_ && !cancelled_) {
        std::fputs("y\n", out_);
        std::fflush(out_);
        return true;
    }
    if (!::isatty(STDIN_FILENO) || cancelled_) {
        std::fputs("n\n", out_);
        std::fflush(out_);
        return false;
    }
    std::fflush(out_);
    std::string answer;
    if (!ReadAnswer(answer)) return false;
    return !answer.empty() && (answer[0] == 'y' || answer[0] == 'Y');
}

bool TerminalPrompt::AskPassword(std::string& password) {
    if (!::isatty(STDIN_FILENO) || cancelled_) return false;
    std::fputs("Password: ", out_);
    std::fflush(out_);
    termios old{};
    ::tcgetattr(STDIN_FILENO, &old);
    termios quiet = old;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    ::tcsetattr(STDIN_FILENO, TCSANOW, &quiet);
    bool ok = ReadAnswer(password);
    ::tcsetattr(STDIN_FILENO, TCSANOW, &old);
    std::fputc('\n', out_);
    return ok;
}

}  // namespace qm
