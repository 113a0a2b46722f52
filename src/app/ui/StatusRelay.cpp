#include "app/ui/StatusRelay.h"

namespace qm {

StatusRelay::StatusRelay(Apply apply, Thumbnail thumbnail, QObject* parent)
    : QObject(parent), apply_(std::move(apply)), thumbnail_(std::move(thumbnail)) {
    frame_.setSingleShot(true);
    connect(&frame_, &QTimer::timeout, this, &StatusRelay::Drain);
}

void StatusRelay::Show(const StatusChange& change) {
    if (change.field == StatusField::Thumbnail) {
        thumbnail_(change);
        return;
    }
    {
        std::lock_guard lock(mutex_);
        if (change.field == StatusField::PendingButton || change.field == StatusField::Finished) {
            ordered_.push_back(change);
        } else {
            auto index = static_cast<std::size_t>(change.field);
            latest_[index] = change;
            dirty_[index] = true;
        }
        if (posted_) return;
        posted_ = true;
    }
    QMetaObject::invokeMethod(
        this, [this] { Drain(); }, Qt::QueuedConnection);
}

void StatusRelay::Drain() {
    if (sinceApplied_.isValid() && sinceApplied_.elapsed() < kFrameMilliseconds) {
        frame_.start(static_cast<int>(kFrameMilliseconds - sinceApplied_.elapsed()));
        return;
    }
    std::vector<StatusChange> changes;
    std::vector<StatusChange> ordered;
    {
        std::lock_guard lock(mutex_);
        for (std::size_t i = 0; i < kStatusFieldCount; ++i) {
            if (dirty_[i]) changes.push_back(std::move(latest_[i]));
            dirty_[i] = false;
        }
        ordered.swap(ordered_);
        posted_ = false;
    }
    // The values first: the end of the run must find the final texts in place.
    for (const auto& change : changes) apply_(change);
    for (const auto& change : ordered) apply_(change);
    sinceApplied_.start();
}

}  // namespace qm
