#pragma once
// The multi-part posts of a run: the parts a group's scan lists, gathered into their posts; the
// judgement passed once on each post before any part of it is fetched; and the part store that
// keeps what was fetched until the post is whole, across groups and runs.

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "engine/PartStore.h"

namespace qm {

// Which part of which post an article is.
struct PartRef {
    std::string key;      // PostKey of the post
    std::string subject;  // the subject without its part counter
    long part = 0;
    long total = 0;
};

// The post an article belongs to, from its overview subject and sender; nothing for an article
// that is whole in itself (no counter, "(1/1)", "(0/N)").
std::optional<PartRef> PartOf(std::string_view subject, std::string_view from);

// What a group's scan listed of one post, for judging it.
struct PostListing {
    std::string key;
    std::string subject;  // without its counter
    std::string from;
    long total = 0;
    long listedParts = 0;
    long totalLines = 0;  // the parts' line counts added up; N times the largest until all listed
};

class MultiPartPosts {
public:
    explicit MultiPartPosts(PartStore& store) : store_(store) {}
    PartStore& Store() { return store_; }

    // A group's scan: lines in scan order; parts wait until their post is judged.
    void BeginScan();
    void AddSingle(const std::string& line);
    void AddPart(const std::string& line, const PartRef& part, std::string_view from, long lines);
    // Judges, once a run, each post the scan listed: a completed post is skipped (completed is
    // told of it), any other is fetched when judge says so. Returns the lines to fetch in scan
    // order: the single articles, and the parts of posts to fetch that the store lacks (the
    // first listing of each part).
    std::vector<std::string> FinishScan(const std::function<bool(const PostListing&)>& judge,
                                        const std::function<void(const PostListing&)>& completed);

    // Whether the parts of key are still to be fetched in this run.
    bool Fetching(const std::string& key) const;
    // The rest of the post is passed over for the rest of the run (given up, or a history hit).
    void Drop(const std::string& key) { verdicts_[key] = false; }

private:
    struct Entry {
        std::string line;
        long post = -1;  // index into listings_, -1 for a single article
        long part = 0;
    };
    struct Listing {
        PostListing post;
        std::vector<long> parts;  // part numbers listed so far
        long largest = 0;
    };

    PartStore& store_;
    std::vector<Entry> entries_;
    std::vector<Listing> listings_;
    std::unordered_map<std::string, long> listingOf_;  // key -> index into listings_
    std::unordered_map<std::string, bool> verdicts_;   // key -> fetch; absent: not judged yet
};

}  // namespace qm
