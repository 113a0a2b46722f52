#include "engine/ProcessGroups.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>

#include "decode/PartialPicture.h"
#include "engine/ArticleRetrieval.h"
#include "engine/ArticleSelector.h"
#include "engine/ContentIndex.h"
#include "engine/GroupProcessor.h"
#include "engine/HistoryList.h"
#include "engine/MultiPartPosts.h"
#include "engine/PartStore.h"
#include "engine/RecoveryJournal.h"
#include "engine/RecoveryScope.h"
#include "groups/GroupListFile.h"
#include "settings/DataFiles.h"
#include "settings/SettingsKeys.h"
#include "util/TextFiles.h"

namespace qm {

CProcessGroups::CProcessGroups(ProfileStore& profile, EngineStatus& status, UserPrompt& prompt,
                               SharedState& shared)
    : engine_(profile, status, prompt, shared) {
    engine_.connect = [this] { return Connect(); };
}

CProcessGroups::~CProcessGroups() {
    RequestStop();
    Join();
}

void CProcessGroups::Start(int priority) {
    priority_ = priority;
    thread_ = std::thread([this] { RunHere(); });
}

void CProcessGroups::RunHere() {
    tid_ = static_cast<int>(::syscall(SYS_gettid));
    ApplyPriority(priority_);
    InitInstance();
}

void CProcessGroups::Join() {
    if (thread_.joinable()) thread_.join();
}

// Also reaches an engine that waits: paused, asking the user, or parked for the pending dialog.
void CProcessGroups::RequestStop() {
    engine_.stop = true;
    engine_.pause.Release();
    engine_.prompt.CancelQuestions();
    engine_.shared.ReleasePendingDialog();
}

void CProcessGroups::SetCatchUp(int value) {
    engine_.catchUp = value != 0;
}
void CProcessGroups::Pause() {
    engine_.pause.Pause();
}
void CProcessGroups::Resume() {
    engine_.pause.Resume();
}
bool CProcessGroups::Paused() const {
    return engine_.pause.Paused();
}

int CProcessGroups::NiceForPriority(int level) {
    if (level < 1 || level > 5) level = 3;  // a stored value out of range runs at normal priority
    return (3 - level) * 5;
}

int CProcessGroups::SetPriority(int level) {
    return ApplyPriority(level);
}

// Before the thread has begun, the level is only noted: the thread applies it as it starts.
int CProcessGroups::ApplyPriority(int level) {
    const int tid = tid_;
    if (tid != 0 &&
        ::setpriority(PRIO_PROCESS, static_cast<id_t>(tid), NiceForPriority(level)) != 0) {
        return errno;
    }
    priority_ = level;
    return 0;
}

std::string CProcessGroups::GroupFileName() const {
    return ActiveGroupFileName(engine_.settings.host);
}

void CProcessGroups::InitInstance() {
    TakeSnapshot();
    ResetWindow();
    engine_.finalStatus = "Operation complete";
    MainSequence();
    ExitInstance();
}

void CProcessGroups::ExitInstance() {
    groups_.clear();
    engine_.posts = nullptr;
    posts_.reset();
    partStore_.reset();
    history_.reset();
    contentIndex_.reset();
    selector_.reset();
    engine_.history = nullptr;
    engine_.contentIndex = nullptr;
    engine_.selector = nullptr;
    engine_.profile.Flush();
    lock_.Release();
    engine_.status.EngineFinished();
}

void CProcessGroups::TakeSnapshot() {
    engine_.prompt.AllowQuestions();
    engine_.shared.ClearSubjectCache();
    engine_.stop = false;
    engine_.catchUp = false;
    engine_.settings = EngineSettings::Snapshot(engine_.profile);
    const EngineSettings& s = engine_.settings;
    history_ = std::make_unique<HistoryList>();
    selector_ = std::make_unique<ArticleSelector>(s, engine_.status, engine_.shared, *history_);
    engine_.history = history_.get();
    engine_.selector = selector_.get();
}

void CProcessGroups::ResetWindow() {
    EngineStatus& st = engine_.status;
    st.SetHistorySkipped(0);
    st.SetOtherSkipped(0);
    st.ShowRate(RateKind::Overall, 0, 0);
    engine_.shared.SetBinaryRate(0);
    st.ShowRate(RateKind::Binary, 0, 0);
    st.SetArticlesSaved(0);
    st.SetArticlesScanned(0);
    st.SetBytesTransferred(0);
    for (ProgressBar bar : {ProgressBar::Group, ProgressBar::Article, ProgressBar::LinesDecoded}) {
        st.SetProgress(bar, 0, 0, true);
    }
}

void CProcessGroups::MainSequence() {
    if (!LockFiles()) return;
    Recover();
    if (!ReadGroupFile() || !CheckDownloadDirectory() || !Connect()) return;
    engine_.runStart = std::time(nullptr);
    history_->Load(engine_.settings.maxHist);
    LoadContentIndex();
    OpenPartStore();
    if (!engine_.journal.Reset(engine_.profile.DiskIdentity())) {
        engine_.NoteJournalFailure(errno);
        engine_.session.Close();
        engine_.status.SetStatusText(engine_.finalStatus);
        return;
    }
    PassLoop();
}

// One run at a time may use a data directory and a profile: two would overwrite each other's
// history and read marks.
bool CProcessGroups::LockFiles() {
    std::vector<std::string> paths{CurrentDirectory()};
    if (!engine_.profile.Path().empty()) paths.push_back(engine_.profile.Path());
    std::string error;
    if (lock_.Acquire(paths, error)) return true;
    engine_.status.SetStatusText(error);
    return false;
}

// Makes good what a run killed in the middle left. A journal record that names anything outside
// this server and its download directories is passed over, and said once.
void CProcessGroups::Recover() {
    const EngineSettings& s = engine_.settings;
    const RecoveryResult result =
        RecoverInterruptedRun(kRunJournalFile, engine_.profile, kHistoryFile, kContentIndexFile,
                              RecoveryScope(engine_.profile, s.host, s.downloadDirectory));
    if (result.named > 0) {
        engine_.status.SetStatusText("Finished " + std::to_string(result.named) +
                                     " pictures of an interrupted run");
    }
    if (result.skipped > 0) {
        engine_.status.SetStatusText("Recovery skipped " + std::to_string(result.skipped) +
                                     " journal records that name nothing of this run");
    }
}

// Kept to as many pictures as the history keeps names. Lines a kill tore or that are no entries
// are passed over (and gone from the file): the run goes on with the rest.
void CProcessGroups::LoadContentIndex() {
    if (!engine_.contentChecks) return;
    contentIndex_ = std::make_unique<ContentIndex>(kContentIndexFile);
    contentIndex_->Load(engine_.settings.maxHist);
    engine_.contentIndex = contentIndex_.get();
}

// Read once, before connecting: what is walked is what was checked.
bool CProcessGroups::ReadGroupFile() {
    const std::string& host = engine_.settings.host;
    auto lines = ReadGroupListFile(GroupFileName());
    if (!lines) {
        engine_.prompt.ShowMessage("Group list for host '" + host +
                                   "' not found\n\nPlease select 'Groups'");
        return false;
    }
    groups_ = std::move(*lines);
    if (groups_.empty()) {
        engine_.prompt.ShowMessage("Active group list for host '" + host +
                                   "' is empty\n\nPlease select 'Groups'");
        return false;
    }
    return true;
}

bool CProcessGroups::CheckDownloadDirectory() {
    const std::string& dir = engine_.settings.downloadDirectory;
    if (!dir.empty() && DirectoryExists(dir) && ::access(dir.c_str(), X_OK) == 0) {
        return DirectoryWritable();
    }
    if (!engine_.prompt.AskYesNo("Directory " + dir +
                                 " does not exist.\n\nWould you like to create it?")) {
        return false;
    }
    if (dir.empty() || !MakeDirectory(dir)) {
        engine_.prompt.ShowMessage("Unable to create directory " + dir);
        return false;
    }
    return DirectoryWritable();
}

// A real write test: modes, read-only mounts and quotas all show only when a file is made.
bool CProcessGroups::DirectoryWritable() {
    const std::string dir = WithTrailingSlash(engine_.settings.downloadDirectory);
    if (int err = ProbeWritable(dir); err != 0) {
        engine_.NoteWriteFailure(err, dir);
        engine_.status.SetStatusText(engine_.finalStatus);
        return false;
    }
    return true;
}

bool CProcessGroups::Connect() {
    const EngineSettings& s = engine_.settings;
    engine_.status.SetStatusText("Connecting to " + s.host);
    const NewsConnectOutcome outcome = engine_.session.Connect(s.host, s.port);
    if (outcome != NewsConnectOutcome::Connected) {
        // A refused TLS connection has said why; its status line is the last one of the run.
        if (outcome == NewsConnectOutcome::NoConnection)
            engine_.status.SetStatusText("Can't connect to server");
        return false;
    }
    // Over TLS the user sees that the connection is encrypted; plain keeps its old text.
    engine_.status.SetStatusText("Connected to " + s.host +
                                 (engine_.session.UsesTls() ? " (TLS)" : ""));
    return true;
}

void CProcessGroups::PassLoop() {
    long groupCount = static_cast<long>(groups_.size());
    for (;;) {
        if (!RunPass(groupCount)) return;
        if (engine_.stop || !engine_.settings.loopOnList || engine_.pass.headersScanned <= 0) break;
    }
    EndRun(true);
}

bool CProcessGroups::RunPass(long groupCount) {
    engine_.pass = PassCounters{};
    selector_->ResetPassCounters();
    ArticleRetriever retriever(engine_);
    TidyPartStore(retriever);
    GroupProcessor processor(engine_, retriever);
    long k = 0;
    for (const std::string& group : groups_) {
        if (!engine_.Connected()) engine_.EnsureConnected();
        if (engine_.stop) return true;
        engine_.status.SetProgress(ProgressBar::Group, ++k, groupCount, false);
        if (processor.Process(group) == GroupOutcome::AuthFailed) {
            engine_.session.ReportLoginFailure();
            EndRun(false);
            return false;
        }
        // Also in the last group: a connection lost there must not end as a success.
        if (!engine_.Connected()) engine_.EnsureConnected();
        engine_.status.SetProgress(ProgressBar::Group, 0, 0, true);
        engine_.status.SetProgress(ProgressBar::Article, 0, 0, true);
        engine_.status.SetSubjectText("");
    }
    return true;
}

// The history and the read marks reach their files before the run reports its end.
void CProcessGroups::EndRun(bool showFinalStatus) {
    engine_.session.Close();
    engine_.connections.CloseAll();
    ReportWaitingPosts();
    const bool historySaved = history_->Save(engine_.status);
    const bool marksSaved = engine_.profile.Flush();
    if (!marksSaved) {
        engine_.NoteMarksUnsaved(errno);
        showFinalStatus = true;
    }
    if (historySaved && marksSaved) engine_.journal.Remove();
    if (showFinalStatus) engine_.status.SetStatusText(engine_.finalStatus);
}

// The parts of multi-part posts kept by earlier runs. A store that cannot be opened leaves the run
// as it was before posts were put together: each part is then an article of its own.
void CProcessGroups::OpenPartStore() {
    partStoreTidied_ = false;
    if (!engine_.settings.multiPart) return;
    const std::string dir = CurrentDirectory() + kPartStoreDirectory;
    partStore_ = std::make_unique<PartStore>(dir);
    if (!partStore_->Load(std::time(nullptr))) {
        engine_.status.SetStatusText("Unable to open " + dir + ": " + std::strerror(errno) +
                                     " -- multi-part posts are not put together");
        partStore_.reset();
        return;
    }
    posts_ = std::make_unique<MultiPartPosts>(*partStore_);
    engine_.posts = posts_.get();
}

namespace {

std::string PostLabel(const StoredPost& post) {
    return post.name.empty() ? "of " + post.group : post.name;
}

}  // namespace

// Once a run, in its first pass (whose counters it moves): posts a killed run left whole are
// saved, then posts that waited too long or do not fit the store's bound go.
void CProcessGroups::TidyPartStore(ArticleRetriever& retriever) {
    if (!posts_ || partStoreTidied_) return;
    partStoreTidied_ = true;
    std::vector<std::string> whole;
    for (const StoredPost* post : partStore_->Posts()) {
        if (post->Complete()) whole.push_back(post->key);
    }
    for (const std::string& key : whole) FinishLeftover(retriever, key);
    const EngineSettings& s = engine_.settings;
    for (const StoredPost& post : partStore_->Expire(std::time(nullptr), s.multiPartWaitDays)) {
        engine_.status.SetStatusText("Dropped the multi-part post " + PostLabel(post) +
                                     ": its missing parts did not come within " +
                                     std::to_string(s.multiPartWaitDays) + " days");
        selector_->CountOtherSkipped();
    }
    const std::uint64_t bound = static_cast<std::uint64_t>(s.multiPartStoreMB) << 20;
    for (const StoredPost& post : partStore_->Bound(bound)) {
        engine_.status.SetStatusText("Dropped the multi-part post " + PostLabel(post) +
                                     ": the store of waiting parts is full");
        selector_->CountOtherSkipped();
    }
}

// Saves a whole post into the directory of the group it was fetched for, as it would have been.
void CProcessGroups::FinishLeftover(ArticleRetriever& retriever, const std::string& key) {
    const StoredPost* post = partStore_->Find(key);
    if (post == nullptr || !ValidGroupName(post->group)) return;
    const GroupProcessor::SaveDirectory dir = GroupProcessor::DeriveSaveDirectory(
        engine_.profile, engine_.settings.downloadDirectory, post->group);
    if (!dir.usable || !dir.exists) return;  // it waits for its group's directory
    engine_.currentGroup = post->group;
    engine_.saveDirectory = dir.path;
    retriever.article = CurrentArticle{};
    retriever.FinishStoredPost(key,
                               ReadMark(engine_.profile, engine_.settings.host, post->group, 0));
    engine_.currentGroup.clear();
}

void CProcessGroups::ReportWaitingPosts() {
    if (!partStore_) return;
    const std::size_t waiting = partStore_->PendingCount();
    if (waiting == 0) return;
    engine_.status.SetStatusText(
        waiting == 1 ? std::string("1 multi-part post waits for missing parts")
                     : std::to_string(waiting) + " multi-part posts wait for missing parts");
}

}  // namespace qm
