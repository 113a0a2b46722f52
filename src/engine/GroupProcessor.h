#pragma once
// The work for one group of the active list: its filters and save directory, the group selection,
// the header scan, the retrieval loop over the pending articles, and the read mark at the end.

#include <atomic>
#include <string>

#include "engine/EngineState.h"

namespace qm {

class ArticleRetriever;
class ConnectionLane;

// Lost: the connection broke before any article of the group was fetched (the group starts over).
enum class GroupOutcome { Done, Ended, AuthFailed, Lost };

// A group name the engine can send and store: one word of printable characters.
bool ValidGroupName(const std::string& group);

class GroupProcessor {
public:
    GroupProcessor(EngineState& engine, ArticleRetriever& retriever)
        : engine_(engine), retriever_(retriever) {}

    GroupOutcome Process(const std::string& group);

    // The save directory of a group and whether it already exists (per-group directories).
    struct SaveDirectory {
        std::string path;  // with its trailing "/"
        bool separate = false;
        bool exists = true;
        bool usable = true;  // false: the group's name or sub-path would leave the base
    };
    static SaveDirectory DeriveSaveDirectory(const ProfileStore& profile, const std::string& base,
                                             const std::string& group);

private:
    friend class ConnectionLane;  // one of several connections fetching the group's articles

    GroupOutcome ProcessOnce(const std::string& group);
    GroupOutcome LostOr(GroupOutcome outcome) const;
    bool SaveDirectoryWritable();
    void RetrievalLoop(class HeaderScan& scan, long& mark, long last);
    void RetrieveOne(class HeaderScan& scan, class ArticlePipeline& pipeline,
                     const std::string& line, long& mark, long last);
    // The article an overview line names, for the retriever; returns its number.
    long Describe(const HeaderScan& scan, const std::string& line, CurrentArticle& article);
    bool StillWanted(const CurrentArticle& article) const;
    bool BeginArticle(const CurrentArticle& article);
    // Several connections: the articles are fetched by one ConnectionLane per connection.
    void FetchOverConnections(const HeaderScan& scan, long& mark, long last);
    void NoteRemoved(long removed);
    void Abandon(bool authFailed);
    int Fetch(ArticlePipeline& pipeline, long number);
    bool LogInAgain(ArticlePipeline& pipeline);
    bool Reselect(ArticlePipeline& pipeline);

    EngineState& engine_;
    ArticleRetriever& retriever_;
    SaveDirectory dir_;
    // Changed by the connections' threads under the engine's work lock.
    long filesToRetrieve_ = 0;
    long retrieved_ = 0;
    std::atomic<bool> abandoned_{
        false};  // the rest of the group could not be fetched: its mark stays
    std::atomic<bool> authFailed_{
        false};  // logging in again (after a reconnect or a 480) was refused
};

}  // namespace qm
