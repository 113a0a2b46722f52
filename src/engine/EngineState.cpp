#include "engine/EngineState.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <thread>

#include "keyring/SecretServiceKeyring.h"
#include "settings/SettingsKeys.h"
#include "util/TextFiles.h"

namespace qm {

EngineSettings EngineSettings::Snapshot(const ProfileStore& profile) {
    EngineSettings s;
    s.logHistoryHits = kLogHistAct.Read(profile) == "yes";
    s.enableLogging = kEnableLogging.IsOn(profile);
    s.logFile = kLogFile.Read(profile);
    s.subjectIncl = kSubjectIncl.Read(profile);
    s.subjectIncl2 = kSubjectIncl2.Read(profile);
    s.subjectExcl = kSubjectExcl.Read(profile);
    s.minLines = kMinLines.Read(profile);
    s.maxLines = kMaxLines.Read(profile);
    s.limitCrossposts = kLimitCrossposts.IsOn(profile);
    s.crosspostLimit = s.limitCrossposts ? kCrosspostLimit.Read(profile) : 0;
    s.histSaveFrequency = kHistSaveFrequency.Read(profile);
    s.acdSeeDescription = kACDSeeDescription.IsOn(profile);
    s.saveAscii = kSaveAscii.IsOn(profile);
    s.showXP = kShowXP.IsOn(profile);
    s.host = kNNTPHost.Read(profile);
    s.port = ConfiguredPort(profile);
    s.downloadDirectory = kDownloadDirectory.Read(profile);
    s.maxHist = kMaxHist.Read(profile);
    s.loopOnList = kLoopOnList.IsOn(profile);
    s.reconnect = std::clamp(kReconnect.Read(profile), 0L, kMaxReconnect);
    s.pipelineDepth = std::clamp(kPipelineDepth.Read(profile), 1L, kMaxPipelineDepth);
    s.connections = std::clamp(kConnections.Read(profile, s.host), 1L, kMaxConnections);
    s.multiPart = kMultiPart.IsOn(profile);
    s.multiPartWaitDays = std::max(0L, kMultiPartWaitDays.Read(profile));
    s.multiPartStoreMB = std::max(0L, kMultiPartStoreMB.Read(profile));
    s.skipNearDuplicates = kSkipNearDuplicates.IsOn(profile);
    s.keepLargerCopy = kKeepLargerCopy.IsOn(profile);
    return s;
}

void RetrievalTime::Add(Clock::time_point sent, Clock::time_point done) {
    const Clock::time_point start = std::max(sent, lastDone_);
    if (done > start) seconds_ += std::chrono::duration<double>(done - start).count();
    lastDone_ = std::max(done, lastDone_);
}

GroupSettings GroupSettings::Snapshot(const ProfileStore& profile) {
    GroupSettings s;
    s.cacheSubjects = kCacheSubjects.IsOn(profile);
    s.useMaxDays = kUseMaxDays.IsOn(profile);
    s.maxDays = kMaxDays.Read(profile);
    s.useMaxHeaderCount = kUseMaxHeaderCount.IsOn(profile);
    s.maxHeaderCount = kMaxHeaderCount.Read(profile);
    s.useFirstHeaderCount = kUseFirstHeaderCount.IsOn(profile);
    s.firstHeaderCount = kFirstHeaderCount.Read(profile);
    s.useMaxCount = kUseMaxCount.IsOn(profile);
    s.maxCount = kMaxCount.Read(profile);
    return s;
}

EngineState::EngineState(ProfileStore& p, EngineStatus& st, UserPrompt& pr, SharedState& sh)
    : profile(p),
      status(st),
      prompt(pr),
      shared(sh),
      sessionPrompt(pr),
      keyring(DesktopKeyring()),
      session(p, sessionPrompt, LoginRule::Lenient, SessionStatusLine()) {
    SetUpSession(session, {});
}

// Status lines of the run's sessions may come from any connection's thread.
StatusLine EngineState::SessionStatusLine() {
    return [this](const std::string& text) {
        std::lock_guard lock(work);
        status.SetStatusText(text);
    };
}

// Every session of the run shares the compression choice and the keyring; its sockets obey the
// pause gate and the stop, and also giveUp where one is given.
void EngineState::SetUpSession(NewsSession& made, std::function<bool()> giveUp) {
    made.SetCompressionChoice(&compression);
    made.SetKeyring(&keyring);
    made.SetSocketSetup([this, giveUp = std::move(giveUp)](CLineSocket& socket) {
        socket.SetTimeouts(socketTimeouts);
        socket.SetBeforeReadHook([this] { pause.Pass(); });
        socket.SetStopCheck([this, giveUp] { return stop.load() || (giveUp && giveUp()); });
    });
}

std::unique_ptr<NewsSession> EngineState::MakeSession(std::function<bool()> giveUp) {
    auto made = std::make_unique<NewsSession>(profile, sessionPrompt, LoginRule::Lenient,
                                              SessionStatusLine());
    SetUpSession(*made, std::move(giveUp));
    return made;
}

void EngineState::SetReadMark(const std::string& group, long number) {
    std::lock_guard lock(work);
    if (!journal.NoteMark(settings.host, group, number)) NoteJournalFailure(errno);
    const std::uint64_t saves = profile.SaveCount();
    if (!profile.WriteIntSoon(settings.host, group, number)) {
        NoteMarksUnsaved(errno);
        return;
    }
    // Everything journaled so far is in the file now, but for the pictures still on their way.
    if (profile.SaveCount() == saves) return;
    bool journaled = journal.Reset(profile.DiskIdentity());
    for (const std::string& partial : openPartials) {
        journaled = journaled && journal.NotePartial(partial);
    }
    if (!journaled) NoteJournalFailure(errno);
}

void EngineState::NoteWriteFailure(int err, const std::string& where) {
    std::lock_guard lock(work);
    stop = true;
    if (IsDiskFullError(err)) {
        finalStatus = "Error--disk or directory full";
    } else {
        finalStatus = "Error--unable to write to " + where + ": " + std::strerror(err);
    }
}

void EngineState::NoteJournalFailure(int err) {
    NoteWriteFailure(err, CurrentDirectory());
}

void EngineState::NoteMarksUnsaved(int err) {
    std::lock_guard lock(work);
    stop = true;
    finalStatus = "Error--unable to save the read marks in " + profile.Path() + ": " +
                  std::strerror(err != 0 ? err : EIO);
}

void EngineState::NoteConnectionLost() {
    if (session.AbortedByStop()) {
        stop = true;
        return;
    }
    if (MayReconnect() && connect && !stop) return;
    stop = true;
    finalStatus = "Error--connection to " + settings.host + " lost";
}

namespace {

// Sleeps for the back-off before a reconnect attempt; false when a stop cut it short.
bool WaitBeforeAttempt(long attempt, const std::atomic<bool>& stop) {
    constexpr std::chrono::milliseconds kSlice{50};
    const long seconds = attempt > 5 ? 30 : std::min(30L, 1L << (attempt - 1));
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (std::chrono::steady_clock::now() < until) {
        if (stop) return false;
        std::this_thread::sleep_for(kSlice);
    }
    return !stop;
}

}  // namespace

bool EngineState::MayReconnect() const {
    return settings.reconnect > 0 || StallFallbackDue();
}

bool EngineState::StallFallbackDue() const {
    return session.Stalled() && compression.Wanted();
}

// A compressed connection that stalled is made again without compression, for the rest of the
// run, and the status line says so once; later losses follow Reconnect as before.
bool EngineState::ReconnectAfterStall() {
    if (!connect || !session.Stalled() || !TurnOffCompressionAfterStall()) return false;
    return connect();
}

bool EngineState::TurnOffCompressionAfterStall() {
    if (!compression.TurnOffAfterStall()) return false;
    std::lock_guard lock(work);
    status.SetStatusText("  Connection to " + settings.host +
                         " stalled -- reconnecting without compression");
    return true;
}

bool EngineState::EnsureConnected() {
    if (Connected()) return true;
    if (stop) return false;
    if (ReconnectAfterStall()) return true;
    if (settings.reconnect <= 0 || !connect || session.AbortedByStop()) {
        NoteConnectionLost();
        return false;
    }
    while (reconnectsSinceProgress < settings.reconnect) {
        const long attempt = ++reconnectsSinceProgress;
        status.SetStatusText("  Connection to " + settings.host +
                             " lost -- reconnecting (attempt " + std::to_string(attempt) + " of " +
                             std::to_string(settings.reconnect) + ")");
        if (!WaitBeforeAttempt(attempt, stop)) break;
        if (connect()) return true;
        if (stop) break;
    }
    stop = true;
    finalStatus = "Error--connection to " + settings.host + " lost";
    return false;
}

}  // namespace qm
