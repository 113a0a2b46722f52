#include "app/TerminalStatus.h"

#include <termios.h>
#include <unistd.h>

#include <iostream>

#include "app/StatusFormat.h"

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

}  // namespace

void TerminalStatus::Print(const std::string& line, bool always) {
    if (!always && !verbose_) return;
    std::lock_guard lock(mutex_);
    std::fputs(Printable(line).c_str(), out_);
    std::fputc('\n', out_);
    std::fflush(out_);
}

void TerminalStatus::SetStatusText(const std::string& text) {
    {
        std::lock_guard lock(mutex_);
        lastStatus_ = text;
    }
    Print("  " + text);
}

void TerminalStatus::SetSubjectText(const std::string& text) {
    shared_.SetLastSubject(DoubleAmpersands(subject_));
    subject_ = text;
    if (!text.empty()) Print("Subject: " + text, false);
}

void TerminalStatus::SetSavingToText(const std::string& text) {
    if (!text.empty()) Print("Saving To: " + text, false);
}

void TerminalStatus::SetFromText(const std::string& text) {
    shared_.SetLastFrom(from_);
    from_ = text;
    Print("From: " + text, false);
}

void TerminalStatus::SetBytesTransferred(std::int64_t bytes) {
    bytes_ = bytes;
    Print("Bytes Transferred: " + GroupThousands(bytes), false);
}

void TerminalStatus::SetArticlesScanned(long count) {
    scanned_ = count;
    Print("Articles Scanned: " + std::to_string(count), false);
}

void TerminalStatus::SetArticlesSaved(long count) {
    saved_ = count;
    Print("Articles Saved: " + std::to_string(count), false);
}

void TerminalStatus::SetHistorySkipped(long count) {
    historySkipped_ = count;
    Print("History Files Skipped: " + std::to_string(count), false);
}

void TerminalStatus::SetOtherSkipped(long count) {
    otherSkipped_ = count;
    Print("Other Files Skipped: " + std::to_string(count), false);
}

void TerminalStatus::ShowRate(int which, double seconds, std::int64_t bytes) {
    rate_[which ? 1 : 0] = RateText(bytes, seconds);
    Print(std::string(which ? "Binary Bytes/Sec: " : "Bytes/Sec: ") + rate_[which ? 1 : 0], false);
}

void TerminalStatus::ShowRateSince(int which, std::time_t start, std::time_t now,
                                   std::int64_t bytes) {
    ShowRate(which, static_cast<double>(now - start), bytes);
}

void TerminalStatus::SetProgress(int bar, long position, long total, bool reset) {
    static const char* const kBars[] = {"Group Progress", "Article Progress", "Lines Decoded"};
    if (reset || bar < 0 || bar > 2) return;
    int percent = 0;
    Print(std::string(kBars[bar]) + ": " + ProgressText(position, total, percent), false);
}

void TerminalStatus::SetScanProgress(long count, long total) {
    if (total == 0) return;
    Print("Scanned " + std::to_string(count) + " of " + std::to_string(total) + " headers", false);
}

void TerminalStatus::UpdateGroupTimeLeft() {
    std::int64_t seconds = GroupSecondsLeft(shared_.PendingLineSum(), shared_.BinaryRate());
    Print("Time Left in Group: " + TimeLeftText(seconds), false);
}

void TerminalStatus::LoadThumbnail(const std::string& path) {
    shared_.SetCurrentPicturePath(path);
    Print("Saved: " + path);
}

void TerminalStatus::EnablePending(bool) {}

void TerminalStatus::EngineFinished() {
    std::lock_guard lock(mutex_);
    finished_ = true;
}

std::string TerminalStatus::LastStatus() const {
    std::lock_guard lock(mutex_);
    return lastStatus_;
}

bool TerminalStatus::Finished() const {
    std::lock_guard lock(mutex_);
    return finished_;
}

void TerminalStatus::PrintSummary() {
    Print("Articles Scanned: " + std::to_string(scanned_) + "  Articles Saved: " +
          std::to_string(saved_) + "  History Files Skipped: " + std::to_string(historySkipped_) +
          "  Other Files Skipped: " + std::to_string(otherSkipped_) +
          "  Bytes Transferred: " + GroupThousands(bytes_));
}

void TerminalPrompt::ShowMessage(const std::string& text) {
    std::fputs(("Quarrymoth: " + text + "\n").c_str(), out_);
    std::fflush(out_);
}

bool TerminalPrompt::AskYesNo(const std::string& question) {
    std::fputs(("Quarrymoth: " + question + " [y/N] ").c_str(), out_);
    if (assumeYes_) {
        std::fputs("y\n", out_);
        std::fflush(out_);
        return true;
    }
    if (!::isatty(STDIN_FILENO)) {
        std::fputs("n\n", out_);
        std::fflush(out_);
        return false;
    }
    std::fflush(out_);
    std::string answer;
    if (!std::getline(std::cin, answer)) return false;
    return !answer.empty() && (answer[0] == 'y' || answer[0] == 'Y');
}

bool TerminalPrompt::AskPassword(std::string& password) {
    if (!::isatty(STDIN_FILENO)) return false;
    std::fputs("Password: ", out_);
    std::fflush(out_);
    termios old{};
    ::tcgetattr(STDIN_FILENO, &old);
    termios quiet = old;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    ::tcsetattr(STDIN_FILENO, TCSANOW, &quiet);
    bool ok = static_cast<bool>(std::getline(std::cin, password));
    ::tcsetattr(STDIN_FILENO, TCSANOW, &old);
    std::fputc('\n', out_);
    return ok;
}

}  // namespace qm
