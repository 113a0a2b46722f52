#include "engine/GroupProcessor.h"

#include "decode/ArticleRetrieval.h"
#include "engine/ArticleSelector.h"
#include "engine/GroupSelection.h"
#include "engine/HeaderScan.h"
#include "engine/HistoryList.h"
#include "settings/SettingsKeys.h"
#include "settings/TextFiles.h"

namespace qm {

GroupProcessor::SaveDirectory GroupProcessor::DeriveSaveDirectory(const ProfileStore& profile,
                                                                  const std::string& base,
                                                                  const std::string& group) {
    SaveDirectory dir;
    dir.separate = profile.GetInt(kDownloadDirsSection, "Enable", 0) != 0;
    if (!dir.separate) {
        dir.path = base;
        return dir;
    }
    std::string path = base;
    if (profile.GetInt(kDownloadDirsSection, "UseGroupName", 0) != 0) {
        path = base + group;
    } else {
        std::string sub = profile.GetString(kDownloadDirsSection, group, "");
        if (!sub.empty()) path = base + sub;
    }
    dir.exists = DirectoryExists(path);
    dir.path = path + "/";
    return dir;
}

GroupOutcome GroupProcessor::Process(const std::string& group) {
    EngineState& e = engine_;
    e.selector->BeginGroup(ReadInt(e.profile, "CacheSubjects") != 0);
    e.currentGroup = group;
    // A group never processed has no mark: it starts with its first article.
    long readMark = e.profile.GetInt(e.settings.host, group, 0);
    dir_ = DeriveSaveDirectory(e.profile, e.settings.downloadDirectory, group);
    e.saveDirectory = dir_.path;

    GroupReply reply;
    switch (
        OpenGroup(*e.socket, e.profile, e.settings.host, group, e.prompt, e.authenticated, reply)) {
        case GroupOpen::AuthFailed:
            return GroupOutcome::AuthFailed;
        case GroupOpen::Skipped:
            return GroupOutcome::Ended;
        case GroupOpen::Selected:
            break;
    }
    HeaderScan scan(e);
    ScanRange range;
    if (!scan.Run(readMark, reply.first, reply.last, reply.count, range))
        return GroupOutcome::Ended;
    long mark = range.mark;
    RetrievalLoop(scan, mark, range.last);
    e.profile.WriteInt(e.settings.host, group, e.stop ? mark : range.last);
    return GroupOutcome::Done;
}

void GroupProcessor::RetrievalLoop(HeaderScan& scan, long& mark, long last) {
    EngineState& e = engine_;
    filesToRetrieve_ = static_cast<long>(e.shared.PendingCount());
    retrieved_ = 0;
    if (filesToRetrieve_ > 0) e.status.EnablePending(true);
    std::string line;
    long removed = 0;
    while (e.shared.TakeNextPending(line, removed)) {
        if (removed > 0) {
            filesToRetrieve_ -= removed;
            e.status.SetProgress(1, retrieved_, filesToRetrieve_, false);
        }
        if (!e.Connected()) e.NoteConnectionLost();
        if (e.stop) break;
        RetrieveOne(scan, line, mark, last);
    }
    e.shared.ClearPending();
    e.status.EnablePending(false);
}

void GroupProcessor::RetrieveOne(HeaderScan& scan, const std::string& line, long& mark, long last) {
    EngineState& e = engine_;
    e.pause.Pass();
    ++retrieved_;
    e.status.SetProgress(1, retrieved_, filesToRetrieve_, false);
    long frequency = e.settings.histSaveFrequency;
    if (frequency > 0 && retrieved_ % frequency == 0) e.history->Save(e.status);
    long crossposts = 0;
    OverviewRecord record = scan.Parse(line, crossposts);
    e.article = CurrentArticle{std::string(record.subject), std::string(record.sender),
                               std::string(record.date), record.lines};
    e.status.SetFromText(e.article.sender);
    if (dir_.separate && !dir_.exists) {
        // Tried once per group; a failure shows as the failure to create the picture.
        MakeDirectories(dir_.path);
        dir_.exists = true;
    }
    std::string number(record.number);
    int result = retriever_.RetrieveArticle(number);
    e.status.SetArticlesSaved(++e.pass.articlesSaved);
    if (result == 1) mark = LeadingNumber(number);
    if (e.catchUp) mark = last;
}

}  // namespace qm
