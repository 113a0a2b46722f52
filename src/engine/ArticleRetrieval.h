#pragma once
// Turns one chosen article into a saved picture: fetches it with ARTICLE, watches its lines for a
// uuencode "begin" line, a yEnc "=ybegin" line or the signs of a base64 JPEG, names the file,
// decodes it under a temporary name in the group's save directory and gives it its name only once
// it is whole, then reports the result to the history, the log, the counters and the thumbnail.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "decode/YEncDecoder.h"
#include "engine/EngineState.h"

namespace qm {

class ArticleRetriever {
public:
    explicit ArticleRetriever(EngineState& engine) : engine_(engine) {}

    // 1 when the article was dealt with (the read mark may move past it), 0 when it was not,
    // kLoginAsked when the server answered 480 and the settings say to log in.
    int RetrieveArticle(long number);
    static constexpr int kLoginAsked = 2;

    // The two halves of RetrieveArticle, for callers that keep several commands in flight:
    // the replies come back in the order the commands went out.
    static void SendArticleCommand(CLineSocket& socket, long number);
    int ReceiveArticle(long number);
    // Reads one ARTICLE reply to its end and keeps nothing (an article removed from the pending
    // list after its command went out). False when the connection is gone or a stop abandoned it.
    static bool DiscardReply(CLineSocket& socket, const std::atomic<bool>& stop);

    // Articles larger than this (their lines and the index of them) are not held in memory: they
    // are read to their end and skipped.
    static constexpr std::size_t kMaxArticleBytes = std::size_t{256} << 20;

private:
    using Clock = std::chrono::steady_clock;
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
    int Decode(const Names& names, const std::string& path);
    int DecodeUuencoded(const std::string& path);
    int DecodeBase64(const std::string& path);
    int DecodeYEnc(const std::string& path, YEncVerdict& verdict);
    int SkipYEnc(const Names& names, YEncVerdict verdict, const std::string& partial);
    bool WriteTextCopy(const std::string& path);
    int Commit(const Names& names, long number, const std::string& partial);
    void ReportRates();
    void ReportSaved(const std::string& savedName);
    void ForgetBody();

    std::string_view Line(std::size_t i) const;

    EngineState& engine_;
    std::string body_;                     // every article line after the reply, back to back
    std::vector<std::uint32_t> lineEnds_;  // end offset of each line in body_
    std::string subjectText_;
};

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
