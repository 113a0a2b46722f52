#include "engine/MultiPartPosts.h"

#include <algorithm>

#include "engine/PartCounter.h"

namespace qm {

std::optional<PartRef> PartOf(std::string_view subject, std::string_view from) {
    const std::optional<PartCounter> counter = FindPartCounter(subject);
    if (!counter || !counter->MakesPart()) return std::nullopt;
    PartRef ref;
    ref.subject = SubjectWithoutCounter(subject, *counter);
    ref.key = PostKey(ref.subject, from, counter->total);
    ref.part = counter->part;
    ref.total = counter->total;
    return ref;
}

void MultiPartPosts::BeginScan() {
    entries_.clear();
    listings_.clear();
    listingOf_.clear();
}

void MultiPartPosts::AddSingle(const std::string& line) {
    entries_.push_back({line, -1, 0});
}

void MultiPartPosts::AddPart(const std::string& line, const PartRef& part, std::string_view from,
                             long lines) {
    auto [it, added] = listingOf_.try_emplace(part.key, static_cast<long>(listings_.size()));
    if (added) {
        Listing listing;
        listing.post = PostListing{part.key, part.subject, std::string(from), part.total, 0, 0};
        listings_.push_back(std::move(listing));
    }
    Listing& listing = listings_[static_cast<std::size_t>(it->second)];
    // A part posted twice is fetched once: its first listing.
    if (std::find(listing.parts.begin(), listing.parts.end(), part.part) != listing.parts.end())
        return;
    listing.parts.push_back(part.part);
    listing.post.listedParts = static_cast<long>(listing.parts.size());
    listing.post.totalLines += lines;
    listing.largest = std::max(listing.largest, lines);
    entries_.push_back({line, it->second, part.part});
}

std::vector<std::string> MultiPartPosts::FinishScan(
    const std::function<bool(const PostListing&)>& judge,
    const std::function<void(const PostListing&)>& completed) {
    for (Listing& listing : listings_) {
        PostListing& post = listing.post;
        if (verdicts_.contains(post.key)) continue;
        if (store_.IsCompleted(post.key)) {
            verdicts_[post.key] = false;
            completed(post);
            continue;
        }
        // Until every part has been listed, the post is taken to be as large as its largest part
        // times the count of parts.
        if (post.listedParts < post.total) post.totalLines = listing.largest * post.total;
        verdicts_[post.key] = judge(post);
    }
    std::vector<std::string> lines;
    for (Entry& entry : entries_) {
        if (entry.post >= 0) {
            const std::string& key = listings_[static_cast<std::size_t>(entry.post)].post.key;
            if (!Fetching(key)) continue;
            const StoredPost* stored = store_.Find(key);
            if (stored != nullptr && stored->Find(entry.part) != nullptr) continue;
        }
        lines.push_back(std::move(entry.line));
    }
    BeginScan();
    return lines;
}

bool MultiPartPosts::Fetching(const std::string& key) const {
    auto it = verdicts_.find(key);
    return it != verdicts_.end() && it->second;
}

}  // namespace qm
