#include "engine/ArticlePipeline.h"

#include <algorithm>

#include "engine/ArticleRetrieval.h"

namespace qm {

bool ArticlePipeline::Prepare(long number, const std::vector<long>& upcoming) {
    // A removed article's reply is still on its way: it is read and nothing of it is kept.
    const bool sentBefore = std::find(sent_.begin(), sent_.end(), number) != sent_.end();
    while (!sent_.empty() && (!sentBefore || sent_.front() != number)) {
        if (!DropOldest()) return false;
    }
    CLineSocket& socket = engine_.session.Socket();
    if (sent_.empty()) {
        ArticleRetriever::SendArticleCommand(socket, number);
        sent_.push_back(number);
    }
    for (long next : upcoming) {
        if (sent_.size() >= depth_) break;
        if (std::find(sent_.begin(), sent_.end(), next) != sent_.end()) continue;
        ArticleRetriever::SendArticleCommand(socket, next);
        sent_.push_back(next);
    }
    return socket.IsConnected();
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
