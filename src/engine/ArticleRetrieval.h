#pragma once
// Turns one chosen article into a saved picture: fetches it with ARTICLE, watches its lines for a
// uuencode "begin" line, a yEnc "=ybegin" line or the signs of a base64 JPEG, names the file,
// decodes it under a temporary name in the group's save directory and gives it its name only once
// it is whole, then reports the result to the history, the log, the counters and the thumbnail.
// Each connection has its own: reading and decoding run on the connection's thread, and only the
// steps that touch the run's shared records (journal, history, part store, counters) take turns.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "decode/YEncDecoder.h"
#include "engine/ArticleQueue.h"
#include "engine/EngineState.h"
#include "engine/PictureFingerprint.h"

namespace qm {

class ArticleRetriever {
public:
    using Clock = std::chrono::steady_clock;

    // Over the engine's own connection.
    explicit ArticleRetriever(EngineState& engine) : ArticleRetriever(engine, engine.session) {}
    // Over session, one of several connections of the run.
    ArticleRetriever(EngineState& engine, NewsSession& session)
        : engine_(engine), session_(session) {}

    // The article about to be read, set by the caller before each retrieval.
    CurrentArticle article;
    // When the command of the article read next went out (its retrieval time counts from then).
    void SetCommandSent(Clock::time_point at) { commandSent_ = at; }
    // One of several connections: a lost connection is left to the caller, which hands its
    // articles to the others, instead of ending or reconnecting the run.
    void LeaveLossToCaller() { reportsLoss_ = false; }
    // One of several connections: a picture decoded is named only once every article before it
    // is dealt with (the read mark then covers it), so after a kill no picture stands named
    // whose article the next run fetches again. The naming is handed to the caller instead.
    void DeferCommits() { defers_ = true; }
    // The naming prepared for the article just read (empty when there is none).
    ArticleQueue::Deferred TakeDeferred();

    // 1 when the article was dealt with (the read mark may move past it), 0 when it was not,
    // kLoginAsked when the server answered 480 and the settings say to log in.
    int RetrieveArticle(long number);
    static constexpr int kLoginAsked = 2;
    // A part of a multi-part post failed its check: it is asked for once more.
    static constexpr int kFetchAgain = 3;

    // The two halves of RetrieveArticle, for callers that keep several commands in flight:
    // the replies come back in the order the commands went out.
    static void SendArticleCommand(CLineSocket& socket, long number);
    int ReceiveArticle(long number);
    // Reads one ARTICLE reply to its end and keeps nothing (an article removed from the pending
    // list after its command went out). False when the connection is gone or a stop abandoned it.
    static bool DiscardReply(CLineSocket& socket, const std::atomic<bool>& stop);

    // A post whose parts were all kept when a run ended before it was saved (a kill): saved now
    // into the current save directory, or found in the history and let go. The caller sets the
    // current group and save directory; mark is the group's read mark as it stands.
    int FinishStoredPost(const std::string& key, long mark);

    // Articles larger than this (their lines and the index of them) are not held in memory: they
    // are read to their end and skipped.
    static constexpr std::size_t kMaxArticleBytes = std::size_t{256} << 20;

private:
    enum class Outcome { Complete, TooLarge, BrokenOff };

    struct Names {
        std::string output;  // as posted (after making it safe)
        std::string mime;
        bool uuencoded = false;
        bool yenc = false;  // a "=ybegin" line came first
        bool mimeMode = false;
    };

    Outcome ReadArticle(Names& names);
    bool ReadArticleLine(std::string& line, Clock::time_point& stopSeen);
    bool Drain(std::string& line, Clock::time_point& stopSeen);
    bool WatchLine(std::string_view line, Names& names);
    int Save(const Names& names, long number);
    int Decode(const Names& names, const std::string& path, bool& whole);
    int DecodeUuencoded(const std::string& path, bool& whole);
    int DecodeBase64(const std::string& path);
    int DecodeYEnc(const std::string& path, YEncVerdict& verdict);
    int SkipYEnc(const Names& names, YEncVerdict verdict, const std::string& partial);
    struct CommitJob {
        Names names;
        long number = 0;
        std::string partial, group, directory, sender, subject;
        std::string textCopy;  // written beside a base64 picture when asked for
        bool shown = true;     // its retriever's article is the one shown
        std::function<void()> afterSaved;
        PictureFingerprint print;  // of the decoded picture; not valid when not made
    };
    // What the content index says of a picture about to be named.
    struct Repost {
        enum class Kind { None, Same, Near, Larger } kind = Kind::None;
        std::string of;  // the saved picture it repeats
    };
    int Commit(const Names& names, long number, const std::string& partial,
               const PictureFingerprint& print, std::function<void()> afterSaved = {});
    static int CommitPicture(EngineState& e, const CommitJob& job);
    static Repost JudgeRepost(const EngineState& e, const PictureFingerprint& print);
    static int SkipRepost(EngineState& e, const CommitJob& job, const std::string& entry,
                          const Repost& repost);
    // The picture's fingerprint, when the run compares content.
    PictureFingerprint Fingerprint(const std::string& partial) const;
    static void DropPartial(EngineState& e, const std::string& partial);
    std::string TextCopy() const;
    std::string MakePartial();
    // Multi-part posts: the part just read goes into the part store; the last one missing
    // completes the post, which is then saved as a single picture is.
    int SavePart(const Names& names, long number);
    int StoreYEncPart(const Names& names, long number, const PartRef& part);
    int StoreUUPart(const Names& names, long number, const PartRef& part);
    int PartFailed(const PartRef& part, const std::string& name, YEncVerdict verdict);
    int CompletePost(const std::string& key, long number);
    int FillFromParts(const StoredPost& post, const std::string& partial, bool& whole);
    void GiveUpPost(const std::string& key, const std::string& status, bool historyHit);
    std::string SavingTo(const std::string& name) const;
    void ReportRates();
    void ForgetBody();
    void NoteLost();
    // Whether this connection's article is the one the window shows (the one most recently
    // started): only its progress and names reach the status.
    bool Shown() const;
    void ShowSavingTo(const std::string& text);
    void ShowLinesDecoded(long position, long total, bool reset);

    std::string_view Line(std::size_t i) const;

    EngineState& engine_;
    NewsSession& session_;
    bool reportsLoss_ = true;
    bool defers_ = false;
    ArticleQueue::Deferred deferred_;
    Clock::time_point commandSent_{};
    std::int64_t bytes_ = 0;               // read for this article, not yet in the run's count
    std::string body_;                     // every article line after the reply, back to back
    std::vector<std::uint32_t> lineEnds_;  // end offset of each line in body_
    std::string subjectText_;
    std::unordered_set<std::string> refetched_;  // parts asked for a second time this run
};

// The name a picture is saved under for a posted name: made safe, ".jpg" added when it has no
// dot.
std::string PictureNameFor(std::string name);
// The name on a uuencode "begin" line (the text after its mode), or "" when it is not one.
std::string BeginLineName(std::string_view line);
// The name after the first "=" of a MIME header line, without quotes, spaces or line end.
std::string MimeHeaderName(std::string_view line);
// The name derived from a subject: up to and including its first ".jpg", else its first three
// characters, lowercased.
std::string NameFromSubject(std::string_view subject);
// The history entry a saved name gives: lowercased, "" when it has no "." or contains "index".
std::string HistoryEntryFor(const std::string& name);

}  // namespace qm
