#include "engine/ArticleQueue.h"

#include <algorithm>
#include <chrono>
#include <utility>

#include "engine/OverviewLine.h"
#include "util/TextFiles.h"

namespace qm {

ArticleQueue::ArticleQueue(SharedState& shared, std::function<bool()> over, long mark,
                           std::function<void(long)> markMoved)
    : shared_(shared), over_(std::move(over)), markMoved_(std::move(markMoved)), mark_(mark) {}

bool ArticleQueue::TryTake(QueuedArticle& article) {
    std::unique_lock turn(turn_, std::try_to_lock);
    return turn && TakeHoldingTurn(article, false);
}

bool ArticleQueue::Take(QueuedArticle& article) {
    for (;;) {
        if (over_()) return false;
        {
            std::lock_guard turn(turn_);
            if (TakeHoldingTurn(article, true)) return true;
        }
        std::unique_lock lock(mutex_);
        if (returned_.empty() && outstanding_ == 0) return false;
        // Another connection may yet give its articles back; a stop is seen within the slice.
        changed_.wait_for(lock, std::chrono::milliseconds(50),
                          [this] { return !returned_.empty() || outstanding_ == 0; });
    }
}

bool ArticleQueue::TakeHoldingTurn(QueuedArticle& article, bool wait) {
    {
        std::lock_guard lock(mutex_);
        if (!returned_.empty()) {
            article = std::move(returned_.front());
            returned_.pop_front();
            return true;
        }
    }
    std::string line;
    long removed = 0;
    const bool taken = shared_.TakeNextPending(line, removed, wait);
    std::lock_guard lock(mutex_);
    removed_ += removed;
    if (!taken) return false;
    article.number = StrictLeadingNumber(ParseOverviewLine(line).number);
    article.line = std::move(line);
    article.order = nextOrder_++;
    numbers_[article.order] = article.number;
    ++outstanding_;
    return true;
}

void ArticleQueue::GiveBack(QueuedArticle article) {
    {
        std::lock_guard lock(mutex_);
        const auto at = std::upper_bound(
            returned_.begin(), returned_.end(), article.order,
            [](std::uint64_t order, const QueuedArticle& a) { return order < a.order; });
        returned_.insert(at, std::move(article));
    }
    changed_.notify_all();
}

ArticleQueue::~ArticleQueue() {
    for (auto& [order, deferred] : finished_) {
        if (deferred.discard) deferred.discard();
    }
}

void ArticleQueue::Finish(const QueuedArticle& article, Deferred naming) {
    {
        std::lock_guard lock(mutex_);
        --outstanding_;
        finished_.emplace(article.order, std::move(naming));
        const long before = mark_;
        while (!halted_ && !finished_.empty() && finished_.begin()->first == runEnd_) {
            Deferred& deferred = finished_.begin()->second;
            if (deferred.commit && deferred.commit() == 0) {
                halted_ = true;
                break;
            }
            finished_.erase(finished_.begin());
            mark_ = numbers_[runEnd_];
            numbers_.erase(runEnd_);
            ++runEnd_;
        }
        // Called under the lock, so two connections never store marks out of order.
        if (mark_ != before && markMoved_) markMoved_(mark_);
    }
    changed_.notify_all();
}

void ArticleQueue::Release(const QueuedArticle& article) {
    {
        std::lock_guard lock(mutex_);
        --outstanding_;
        numbers_.erase(article.order);
    }
    changed_.notify_all();
}

long ArticleQueue::TakeRemoved() {
    std::lock_guard lock(mutex_);
    return std::exchange(removed_, 0);
}

long ArticleQueue::Mark() const {
    std::lock_guard lock(mutex_);
    return mark_;
}

bool ArticleQueue::Exhausted() const {
    std::lock_guard lock(mutex_);
    return returned_.empty() && shared_.PendingCount() == 0;
}

bool ArticleQueue::Finished() const {
    std::lock_guard lock(mutex_);
    return outstanding_ == 0 && returned_.empty() && shared_.PendingCount() == 0;
}

}  // namespace qm
