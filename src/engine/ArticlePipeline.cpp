#include "engine/ArticlePipeline.h"

#include <algorithm>

#include "engine/ArticleRetrieval.h"

namespace qm {

bool ArticlePipeline::Prepare(long number, const std::vector<long>& upcoming) {
    // A removed article's reply is still on its way: it is read and nothing of it is kept.
    const bool sentBefore = IsSent(number);
    while (!sent_.empty() && (!sentBefore || sent_.front().number != number)) {
        if (!DropOldest()) return false;
    }
    if (sent_.empty()) Send(number);
    for (long next : upcoming) {
        if (sent_.size() >= depth_) break;
        if (!IsSent(next)) Send(next);
    }
    return engine_.session.Socket().IsConnected();
}

std::chrono::steady_clock::time_point ArticlePipeline::OldestSent() const {
    return sent_.empty() ? std::chrono::steady_clock::now() : sent_.front().at;
}

bool ArticlePipeline::IsSent(long number) const {
    return std::any_of(sent_.begin(), sent_.end(),
                       [number](const Sent& sent) { return sent.number == number; });
}

void ArticlePipeline::Send(long number) {
    ArticleRetriever::SendArticleCommand(engine_.session.Socket(), number);
    sent_.push_back(Sent{number, std::chrono::steady_clock::now()});
}

void ArticlePipeline::Received() {
    if (!sent_.empty()) sent_.pop_front();
}

std::size_t ArticlePipeline::Room() const {
    return depth_ > 1 ? depth_ - 1 : 0;
}

void ArticlePipeline::Finish() {
    if (sent_.empty() || !engine_.Connected()) {
        sent_.clear();
        return;
    }
    if (engine_.stop) {
        engine_.session.Socket().AbandonForStop();
        sent_.clear();
        return;
    }
    DropAll();
}

bool ArticlePipeline::DropAll() {
    while (!sent_.empty()) {
        if (!DropOldest()) return false;
    }
    return true;
}

bool ArticlePipeline::DropOldest() {
    sent_.pop_front();
    if (ArticleRetriever::DiscardReply(engine_.session.Socket(), engine_.stop)) return true;
    engine_.NoteConnectionLost();
    sent_.clear();
    return false;
}

}  // namespace qm
