#include "app/StatusModel.h"

#include "app/StatusFormat.h"

namespace qm {

void StatusModel::Publish(StatusField field, std::string text, int percent) {
    Publish(StatusChange{field, std::move(text), percent, {}, {}});
}

void StatusModel::Publish(const StatusChange& change) {
    {
        std::lock_guard lock(mutex_);
        texts_[static_cast<std::size_t>(change.field)] = change.text;
    }
    view_.Show(change);
}

std::string StatusModel::Text(StatusField field) const {
    std::lock_guard lock(mutex_);
    return texts_[static_cast<std::size_t>(field)];
}

std::string StatusModel::LastStatus() const {
    std::lock_guard lock(mutex_);
    return lastStatus_;
}

void StatusModel::SetStatusText(const std::string& text) {
    {
        std::lock_guard lock(mutex_);
        lastStatus_ = text;
    }
    Publish(StatusField::Status, "  " + text);
}

// The texts on display before the latest call are what the file actions speak of.
void StatusModel::SetSubjectText(const std::string& text) {
    shared_.SetLastSubject(Text(StatusField::Subject));
    Publish(StatusField::Subject, text);
}

void StatusModel::SetSavingToText(const std::string& text) {
    Publish(StatusField::SavingTo, text);
}

void StatusModel::SetFromText(const std::string& text) {
    shared_.SetLastFrom(Text(StatusField::From));
    Publish(StatusField::From, text);
}

void StatusModel::SetBytesTransferred(std::int64_t bytes) {
    Publish(StatusField::BytesTransferred, GroupThousands(bytes));
}

void StatusModel::SetArticlesScanned(long count) {
    Publish(StatusField::ArticlesScanned, std::to_string(count));
}

void StatusModel::SetArticlesSaved(long count) {
    Publish(StatusField::ArticlesSaved, std::to_string(count));
}

void StatusModel::SetHistorySkipped(long count) {
    Publish(StatusField::HistorySkipped, std::to_string(count));
}

void StatusModel::SetOtherSkipped(long count) {
    Publish(StatusField::OtherSkipped, std::to_string(count));
}

void StatusModel::ShowRate(RateKind which, double seconds, std::int64_t bytes) {
    Publish(which == RateKind::Binary ? StatusField::BinaryBytesPerSec : StatusField::BytesPerSec,
            RateText(bytes, seconds));
}

void StatusModel::ShowRateSince(RateKind which, std::time_t start, std::time_t now,
                                std::int64_t bytes) {
    ShowRate(which, static_cast<double>(now - start), bytes);
}

void StatusModel::SetProgress(ProgressBar bar, long position, long total, bool reset) {
    StatusField field = bar == ProgressBar::Group     ? StatusField::GroupProgress
                        : bar == ProgressBar::Article ? StatusField::ArticleProgress
                                                      : StatusField::LinesDecoded;
    if (reset) {
        Publish(field, "");
        return;
    }
    int percent = 0;
    std::string text = ProgressText(position, total, percent);
    Publish(field, std::move(text), percent);
}

void StatusModel::SetScanProgress(long count, long total) {
    if (total == 0) {
        Publish(StatusField::ScanProgress, "");
        return;
    }
    const auto percent = static_cast<int>(static_cast<std::int64_t>(count) * 100 / total);
    Publish(StatusField::ScanProgress, std::to_string(count) + " of " + std::to_string(total),
            percent);
}

void StatusModel::UpdateGroupTimeLeft() {
    Publish(StatusField::TimeLeft,
            TimeLeftText(GroupSecondsLeft(shared_.PendingLineSum(), shared_.BinaryRate())));
}

// The engine saves a picture before it moves on to the next article, so the subject and sender on
// display now are the picture's own.
void StatusModel::LoadThumbnail(const std::string& path) {
    Publish(StatusChange{StatusField::Thumbnail, path, 0, Text(StatusField::Subject),
                         Text(StatusField::From)});
}

void StatusModel::EnablePending(bool enable) {
    Publish(StatusField::PendingButton, enable ? "1" : "0");
}

void StatusModel::EngineFinished() {
    Publish(StatusField::Finished, "");
}

}  // namespace qm
