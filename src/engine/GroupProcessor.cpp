#include "engine/GroupProcessor.h"

#include "decode/PartialPicture.h"
#include "engine/ArticlePipeline.h"
#include "engine/ArticleQueue.h"
#include "engine/ArticleRetrieval.h"
#include "engine/ArticleSelector.h"
#include "engine/ConnectionLane.h"
#include "engine/GroupSelection.h"
#include "engine/HeaderScan.h"
#include "engine/HistoryList.h"
#include "settings/SettingsKeys.h"
#include "util/TextFiles.h"

namespace qm {
namespace {

// A sub-path below the download directory that stays below it: relative, no ".." component.
bool StaysInside(const std::string& sub) {
    if (sub.empty() || sub[0] == '/') return false;
    size_t start = 0;
    while (start <= sub.size()) {
        size_t slash = sub.find('/', start);
        if (slash == std::string::npos) slash = sub.size();
        if (sub.compare(start, slash - start, "..") == 0 && slash - start == 2) return false;
        start = slash + 1;
    }
    return true;
}

}  // namespace

bool ValidGroupName(const std::string& group) {
    if (group.empty()) return false;
    for (char c : group) {
        auto u = static_cast<unsigned char>(c);
        if (u <= 0x20 || u == 0x7f) return false;  // it goes into commands as one word
    }
    return true;
}

GroupProcessor::SaveDirectory GroupProcessor::DeriveSaveDirectory(const ProfileStore& profile,
                                                                  const std::string& base,
                                                                  const std::string& group) {
    SaveDirectory dir;
    dir.separate = kSeparateDirectories.IsOn(profile);
    if (!dir.separate) {
        dir.path = base;
        return dir;
    }
    std::string path = base;
    if (kUseGroupName.IsOn(profile)) {
        // The name comes from the server's group list: it must be one plain path component.
        dir.usable = group != "." && group != ".." && group.find('/') == std::string::npos;
        path = base + group;
    } else {
        std::string sub = GroupDirectory(profile, group);
        if (!sub.empty()) {
            dir.usable = StaysInside(sub);
            path = base + sub;
        }
    }
    dir.exists = DirectoryExists(path);
    dir.path = path + "/";
    return dir;
}

GroupOutcome GroupProcessor::Process(const std::string& group) {
    for (;;) {
        const GroupOutcome outcome = ProcessOnce(group);
        if (outcome != GroupOutcome::Lost) return outcome;
        // Lost before any article was fetched: the group starts over on a new connection.
        engine_.shared.ClearPending();
        if (!engine_.EnsureConnected()) return GroupOutcome::Ended;
    }
}

GroupOutcome GroupProcessor::ProcessOnce(const std::string& group) {
    EngineState& e = engine_;
    abandoned_ = false;
    authFailed_ = false;
    e.currentGroup = group;
    if (!ValidGroupName(group) || !ProfileStore::StorableKey(group)) {
        e.status.SetStatusText("Skipped group " + group + ": its name cannot be used");
        return GroupOutcome::Ended;
    }
    e.groupSettings = GroupSettings::Snapshot(e.profile);
    e.sessionPrompt.BeginGroup();
    e.selector->BeginGroup(e.groupSettings.cacheSubjects);
    // A group never processed has no mark: it starts with its first article.
    long readMark = ReadMark(e.profile, e.settings.host, group, 0);
    dir_ = DeriveSaveDirectory(e.profile, e.settings.downloadDirectory, group);
    e.saveDirectory = dir_.path;
    if (!dir_.usable) {
        e.status.SetStatusText("Skipped group " + group + ": its directory would lie outside " +
                               e.settings.downloadDirectory);
        return GroupOutcome::Ended;
    }
    if (dir_.exists && !SaveDirectoryWritable()) return GroupOutcome::Ended;

    GroupReply reply;
    switch (OpenGroup(e.session, group, reply)) {
        case GroupOpen::AuthFailed:
            return GroupOutcome::AuthFailed;
        case GroupOpen::Skipped:
            return LostOr(GroupOutcome::Ended);
        case GroupOpen::Invalid:
            e.status.SetStatusText("Skipped group " + group +
                                   ": the server's article numbers are out of range");
            return GroupOutcome::Ended;
        case GroupOpen::Selected:
            break;
    }
    // Articles beyond the mark: the further connections are opened while the headers are read.
    if (e.settings.connections > 1 && reply.last > readMark) e.connections.OpenAhead();
    HeaderScan scan(e);
    ScanRange range;
    if (!scan.Run(readMark, reply.first, reply.last, reply.count, range)) {
        if (e.session.LoginFailed()) return GroupOutcome::AuthFailed;
        // A mark beyond the group's end (renumbered, or another server of the same name) would
        // hide every new article until the numbers pass it again.
        if (!e.Connected()) return LostOr(GroupOutcome::Ended);
        if (readMark > reply.last && !e.stop) e.SetReadMark(group, reply.last);
        return GroupOutcome::Ended;
    }
    e.NoteProgress();
    long mark = range.mark;
    RetrievalLoop(scan, mark, range.last);
    e.SetReadMark(group, e.stop || abandoned_ ? mark : range.last);
    return authFailed_ ? GroupOutcome::AuthFailed : GroupOutcome::Done;
}

// A connection lost where the group can simply start over (a stop, or no reconnecting, ends it).
GroupOutcome GroupProcessor::LostOr(GroupOutcome outcome) const {
    const EngineState& e = engine_;
    return !e.Connected() && !e.stop && e.MayReconnect() ? GroupOutcome::Lost : outcome;
}

bool GroupProcessor::SaveDirectoryWritable() {
    int err = ProbeWritable(dir_.path);
    if (err == 0) return true;
    engine_.NoteWriteFailure(err, dir_.path);
    return false;
}

void GroupProcessor::RetrievalLoop(HeaderScan& scan, long& mark, long last) {
    EngineState& e = engine_;
    filesToRetrieve_ = static_cast<long>(e.shared.PendingCount());
    retrieved_ = 0;
    e.shared.BeginRetrieval();
    if (filesToRetrieve_ > 0) e.status.EnablePending(true);
    if (e.settings.connections > 1 && filesToRetrieve_ > 0) {
        FetchOverConnections(scan, mark, last);
    } else {
        ArticlePipeline pipeline(e, static_cast<std::size_t>(e.settings.pipelineDepth));
        std::string line;
        long removed = 0;
        while (e.shared.TakeNextPending(line, removed)) {
            NoteRemoved(removed);
            if (!e.Connected() && !Reselect(pipeline)) break;
            if (e.stop || abandoned_) break;
            RetrieveOne(scan, pipeline, line, mark, last);
        }
        pipeline.Finish();
    }
    e.shared.EndRetrieval();
    e.shared.ClearPending();
    e.status.EnablePending(false);
}

void GroupProcessor::RetrieveOne(HeaderScan& scan, ArticlePipeline& pipeline,
                                 const std::string& line, long& mark, long last) {
    EngineState& e = engine_;
    e.pause.Pass();
    CurrentArticle& article = retriever_.article;
    const long number = Describe(scan, line, article);
    if (!BeginArticle(article)) {
        if (!e.stop) {
            mark = e.catchUp ? last : number;
            e.SetReadMark(e.currentGroup, number);
        }
        return;
    }
    // The scan kept only lines whose number is valid; the command is built from the number.
    int result = Fetch(pipeline, number);
    e.status.SetArticlesSaved(++e.pass.articlesSaved);
    if (result == 1) {
        mark = number;
        e.SetReadMark(e.currentGroup, number);
    }
    if (e.catchUp) mark = last;
}

// The articles go out over every connection the server grants, each on its own thread (this one
// works the engine's own connection). Should all of them be lost with articles left, the engine's
// connection is made again as after any lost connection, and the others with it.
void GroupProcessor::FetchOverConnections(const HeaderScan& scan, long& mark, long last) {
    EngineState& e = engine_;
    ArticleQueue queue(
        e.shared, [this] { return engine_.stop || abandoned_; }, mark,
        [this](long moved) { engine_.SetReadMark(engine_.currentGroup, moved); });
    ArticlePipeline none(e, 1);
    while (!e.stop && !abandoned_) {
        if (!e.Connected() && !Reselect(none)) break;
        e.connections.Fetch(
            [&](NewsSession& session) { ConnectionLane(*this, scan, session, queue).Run(); },
            [&] { return queue.Finished() || e.stop || abandoned_; });
        // The engine's own connection lost while another lived on: the next group goes on
        // with that one.
        e.connections.ReplaceLostOwn();
        if (queue.Exhausted() || e.stop || abandoned_) break;
        e.NoteConnectionLost();  // every connection is gone: the last one's rules apply
    }
    mark = e.catchUp ? last : queue.Mark();
}

void GroupProcessor::NoteRemoved(long removed) {
    if (removed <= 0) return;
    std::lock_guard lock(engine_.work);
    filesToRetrieve_ -= removed;
    engine_.status.SetProgress(ProgressBar::Article, retrieved_, filesToRetrieve_, false);
}

void GroupProcessor::Abandon(bool authFailed) {
    if (authFailed) authFailed_ = true;
    abandoned_ = true;
}

long GroupProcessor::Describe(const HeaderScan& scan, const std::string& line,
                              CurrentArticle& article) {
    std::lock_guard lock(engine_.work);
    long crossposts = 0;
    OverviewRecord record = scan.Parse(line, crossposts);
    article = CurrentArticle{std::string(record.subject), std::string(record.sender),
                             std::string(record.date), record.lines, std::nullopt};
    if (engine_.posts != nullptr) {
        // The post is named by the subject as posted, without the crosspost count shown.
        const OverviewRecord posted = ParseOverviewLine(line);
        article.part = PartOf(posted.subject, posted.sender);
    }
    return StrictLeadingNumber(record.number);
}

bool GroupProcessor::StillWanted(const CurrentArticle& article) const {
    std::lock_guard lock(engine_.work);
    return !article.part || engine_.posts->Fetching(article.part->key);
}

// Counts the article as started. False when it is not to be asked for: its post was given up (or
// found in the history) since its parts were listed, or the save directory cannot be made
// (the run is then stopping).
bool GroupProcessor::BeginArticle(const CurrentArticle& article) {
    EngineState& e = engine_;
    std::lock_guard lock(e.work);
    ++retrieved_;
    e.status.SetProgress(ProgressBar::Article, retrieved_, filesToRetrieve_, false);
    long frequency = e.settings.histSaveFrequency;
    if (frequency > 0 && retrieved_ % frequency == 0) e.history->Save(e.status);
    if (!StillWanted(article)) return false;
    e.status.SetFromText(article.sender);
    if (dir_.separate && !dir_.exists) {
        // Tried once per group; a failure shows in the write test that follows.
        MakeDirectories(dir_.path);
        dir_.exists = true;
        if (!SaveDirectoryWritable()) return false;
    }
    return true;
}

// Reads number's reply, with the commands after it kept in flight. A connection lost on the way
// is made again and the same article asked for anew: nothing of the broken reply was kept. A
// server that asks for a login gets one, and the article is asked for once more.
int GroupProcessor::Fetch(ArticlePipeline& pipeline, long number) {
    EngineState& e = engine_;
    bool loggedIn = false;
    for (;;) {
        if (pipeline.Prepare(number, e.shared.PendingNumbers(pipeline.Room()))) {
            retriever_.SetCommandSent(pipeline.OldestSent());
            int result = retriever_.ReceiveArticle(number);
            pipeline.Received();
            if (result == ArticleRetriever::kLoginAsked && !loggedIn) {
                if (LogInAgain(pipeline)) {
                    loggedIn = true;
                    continue;
                }
                if (abandoned_) return 0;
                result = 0;  // the connection broke on the way: made again below
            } else if (result == ArticleRetriever::kLoginAsked) {
                result = 1;  // asked again right after a login: refused like any other article
            } else if (result == ArticleRetriever::kFetchAgain) {
                continue;  // a part that failed its check, asked for once more
            }
            if (result == 1) e.NoteProgress();
            if (result == 1 || e.Connected() || e.stop) return result;
        }
        if (!Reselect(pipeline)) return 0;
    }
}

// The server wants a login before it hands out articles. The replies to the commands sent ahead
// are read and dropped first (they come before any answer to the login), then the login runs;
// the articles still owed are asked for again afterwards. False when the connection broke while
// dropping (the caller reconnects) or the login was refused (the group is abandoned).
bool GroupProcessor::LogInAgain(ArticlePipeline& pipeline) {
    EngineState& e = engine_;
    if (e.stop || !pipeline.DropAll()) return false;
    if (e.session.AnswerLoginRequest(false) == NewsSession::LoginAnswer::LoggedIn) return true;
    authFailed_ = true;
    abandoned_ = true;
    return false;
}

// After a lost connection: a new one, logged in again, with the current group selected.
bool GroupProcessor::Reselect(ArticlePipeline& pipeline) {
    EngineState& e = engine_;
    pipeline.Forget();
    while (e.EnsureConnected()) {
        GroupReply reply;
        switch (OpenGroup(e.session, e.currentGroup, reply)) {
            case GroupOpen::Selected:
                return true;
            case GroupOpen::AuthFailed:
                authFailed_ = true;
                abandoned_ = true;
                return false;
            case GroupOpen::Skipped:
            case GroupOpen::Invalid:
                if (!e.Connected()) continue;  // lost again: the next attempt
                // The server no longer offers the group: the rest of it waits for the next run.
                e.status.SetStatusText("Skipped the rest of " + e.currentGroup +
                                       ": the server no longer selects it");
                abandoned_ = true;
                return false;
        }
    }
    return false;
}

}  // namespace qm
