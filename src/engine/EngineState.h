#pragma once
// What one download run knows: the settings snapshot, the connections, the counters of the current
// pass. The parts of the engine (group selection, header scan, article retrieval, the group loop)
// share it by reference. The engine thread owns it; while a group's articles are fetched over
// several connections, their threads change the records (journal, history, part store, counters,
// status, final status) only while holding `work`. The window sets the stop and catch-up flags.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "engine/ConnectionPool.h"
#include "engine/EngineStatus.h"
#include "engine/GroupPrompt.h"
#include "engine/MultiPartPosts.h"
#include "engine/PauseGate.h"
#include "engine/RecoveryJournal.h"
#include "engine/SharedState.h"
#include "session/NewsSession.h"
#include "settings/ProfileStore.h"

namespace qm {

class HistoryList;
class ArticleSelector;
class ContentIndex;

struct EngineSettings {
    bool logHistoryHits = false;
    bool enableLogging = false;
    std::string logFile;
    std::string subjectIncl, subjectIncl2, subjectExcl;
    long minLines = 500;
    long maxLines = 3000;
    bool limitCrossposts = false;
    long crosspostLimit = 0;
    long histSaveFrequency = 5;
    bool acdSeeDescription = false;
    bool saveAscii = false;
    bool showXP = false;
    std::string host;
    int port = 119;
    std::string downloadDirectory;
    long maxHist = 20000;
    bool loopOnList = false;
    long reconnect = 0;      // attempts after a lost connection; 0: a lost connection ends the run
    long pipelineDepth = 4;  // ARTICLE commands in flight; 1: one at a time
    long connections = 4;    // to the server, for fetching articles
    bool multiPart = true;   // put the parts of multi-part posts together
    long multiPartWaitDays = 7;
    long multiPartStoreMB = 1024;
    bool skipNearDuplicates = false;
    bool keepLargerCopy = false;

    static constexpr long kMaxReconnect = 100;
    static constexpr long kMaxPipelineDepth = 64;
    static constexpr long kMaxConnections = 16;

    static EngineSettings Snapshot(const ProfileStore& profile);
};

// The settings read afresh at the start of each group: the scan limits and the subject cache,
// which the windows may change between two groups of a run.
struct GroupSettings {
    bool cacheSubjects = false;
    bool useMaxDays = false;
    std::string maxDays;  // a decimal number of days, as typed
    bool useMaxHeaderCount = false;
    long maxHeaderCount = 0;
    bool useFirstHeaderCount = false;
    long firstHeaderCount = 0;
    bool useMaxCount = false;
    long maxCount = 0;

    static GroupSettings Snapshot(const ProfileStore& profile);
};

// The wall time during which articles were being retrieved. With several commands in flight a
// reply may already wait while the article before it is still worked on, so each article counts
// from its command going out or the previous article's end, whichever is later, to its reply
// dealt with: time in which two articles overlap counts once.
class RetrievalTime {
public:
    using Clock = std::chrono::steady_clock;
    void Add(Clock::time_point sent, Clock::time_point done);
    double Seconds() const { return seconds_; }  // to the microsecond

private:
    double seconds_ = 0;
    Clock::time_point lastDone_{};
};

struct PassCounters {
    std::int64_t bytes = 0;
    RetrievalTime retrieval;
    long headersScanned = 0;
    long articlesSaved = 0;
};

// The fields of an article being retrieved, set by the group loop before its retrieval.
struct CurrentArticle {
    std::string subject;
    std::string sender;
    std::string date;
    long lines = 0;
    std::optional<PartRef> part;  // one part of a multi-part post being put together
};

struct EngineState {
    EngineState(ProfileStore& p, EngineStatus& st, UserPrompt& pr, SharedState& sh);

    ProfileStore& profile;
    EngineStatus& status;
    UserPrompt& prompt;
    SharedState& shared;

    EngineSettings settings;
    GroupSettings groupSettings;  // of the current group
    std::atomic<bool> stop{false};
    std::atomic<bool> catchUp{false};
    PauseGate pause;
    // What the connections ask the user, once per group.
    GroupPrompt sessionPrompt;
    // Whether the run's connections still ask for compression (off after one stalled).
    CompressionChoice compression;
    // The timeouts of the run's sockets (tests shorten them).
    CLineSocket::Timeouts socketTimeouts;
    // The passwords the run's connections read from the keyring, asked for once a run.
    KeyringPasswords keyring;
    // The connection and its login; its socket obeys the pause gate and the stop flag.
    NewsSession session;

    std::string finalStatus = "Operation complete";
    std::time_t runStart = 0;
    PassCounters pass;

    std::string currentGroup;
    std::string saveDirectory;
    // Held by a connection's thread while it changes the run's records; the engine thread's own
    // steps take it too, so they may be reached from any connection.
    std::recursive_mutex work;
    // Partial pictures being written or waiting for their names: journaled again whenever the
    // journal is emptied, so a kill never leaves one the next run does not know of.
    std::set<std::string> openPartials;
    // The retriever whose article was started last: the window shows its progress.
    std::atomic<const void*> shownRetriever{nullptr};
    // The further connections of the run (beyond session), kept from group to group.
    ConnectionPool connections{*this};

    HistoryList* history = nullptr;
    // The content of the saved pictures; null when the run does not check content.
    ContentIndex* contentIndex = nullptr;
    // Whether saved pictures are compared by content (off only to measure what that costs).
    bool contentChecks = true;
    ArticleSelector* selector = nullptr;
    MultiPartPosts* posts = nullptr;  // null: multi-part posts are not put together
    RecoveryJournal journal;

    // Makes a new connection for a reconnect, with its status lines (set by the run).
    std::function<bool()> connect;
    // Reconnect attempts made since the last article or group scan went through.
    long reconnectsSinceProgress = 0;

    bool Connected() const { return session.Connected(); }
    // A further connection's session, with the same status lines, prompt and pause gate; it
    // stops on a stop and also once giveUp answers true.
    std::unique_ptr<NewsSession> MakeSession(std::function<bool()> giveUp);
    // Marks the run as stopping because the connection is gone (a stop the user asked for while
    // the server was silent is not a lost connection). Where reconnecting is allowed, the run goes
    // on and the caller's next EnsureConnected reconnects.
    void NoteConnectionLost();
    // Where the connection is gone: reconnects when allowed, waiting 1, 2, 4 ... seconds (at most
    // 30) before each attempt, until an attempt succeeds, the attempts run out or a stop comes.
    // False (the run stopping) when no connection could be had. The caller logs in and selects
    // its group again on the new connection.
    bool EnsureConnected();
    // A lost connection is made again: Reconnect allows it, or a compressed one stalled and the
    // run falls back to plain connections (once, whatever Reconnect says).
    bool MayReconnect() const;
    void NoteProgress() { reconnectsSinceProgress = 0; }
    // A compressed connection stalled: the run's connections from now on are plain. True for the
    // call that turned compression off, which tells the user.
    bool TurnOffCompressionAfterStall();

    // Moves a group's read mark: journaled at once, in the profile's memory at once, and in its
    // file at most a second later (a crash in between is made good from the journal).
    void SetReadMark(const std::string& group, long number);
    // Ends the run because a file could not be written: a full disk, or a directory (where) that
    // refuses the file, with the system's reason.
    void NoteWriteFailure(int err, const std::string& where);
    void NoteJournalFailure(int err);
    // Ends the run because the profile file, which holds the read marks, could not be written.
    void NoteMarksUnsaved(int err);

private:
    StatusLine SessionStatusLine();
    void SetUpSession(NewsSession& made, std::function<bool()> giveUp);
    bool StallFallbackDue() const;
    bool ReconnectAfterStall();
};

}  // namespace qm
