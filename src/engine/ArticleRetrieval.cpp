#include "engine/ArticleRetrieval.h"

#include <malloc.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <utility>

#include "decode/Base64Decoder.h"
#include "decode/PartialPicture.h"
#include "decode/SafeFileName.h"
#include "decode/UUDecoder.h"
#include "decode/YEncDecoder.h"
#include "engine/ArticleSelector.h"
#include "engine/ContentIndex.h"
#include "engine/DownloadLog.h"
#include "engine/HistoryList.h"
#include "engine/OverviewLine.h"
#include "engine/RecoveryJournal.h"
#include "util/TextFiles.h"

namespace qm {
namespace {

// Whether the line mentions "base64" in any case. Looks for the digits first: they are rare
// next to each other in encoded data, so most lines are passed over with one memmem.
bool MentionsBase64(std::string_view line) {
    const char* begin = line.data();
    const char* end = begin + line.size();
    const char* p = begin + std::min<size_t>(4, line.size());
    while (p < end) {
        const void* hit = memmem(p, static_cast<size_t>(end - p), "64", 2);
        if (!hit) return false;
        const char* digits = static_cast<const char*>(hit);
        if (StartsWithNoCase(std::string_view(digits - 4, 4), "base")) return true;
        p = digits + 1;
    }
    return false;
}

std::string WithJpgWhenNoDot(std::string name) {
    if (!name.empty() && name.find('.') == std::string::npos) name += ".jpg";
    return name;
}

}  // namespace

std::string PictureNameFor(std::string name) {
    return SafeFileName(WithJpgWhenNoDot(std::move(name)));
}

std::string BeginLineName(std::string_view line) {
    if (!CUUDecoder::IsBeginLine(line)) return "";
    size_t first = line.find(' ');
    size_t second = line.find(' ', first + 1);
    return std::string(WithoutLineEnd(line.substr(second + 1)));
}

std::string MimeHeaderName(std::string_view line) {
    size_t eq = line.find('=');
    if (eq == std::string_view::npos) return "";
    std::string name;
    for (char c : WithoutLineEnd(line.substr(eq + 1))) {
        if (c != ' ' && c != '"') name += c;
    }
    return name;
}

std::string NameFromSubject(std::string_view subject) {
    std::string lower = Lowercase(WithoutLineEnd(subject));
    size_t jpg = lower.find(".jpg");
    if (jpg != std::string::npos) return lower.substr(0, jpg + 4);
    return lower.substr(0, 3);
}

std::string HistoryEntryFor(const std::string& name) {
    std::string lower = Lowercase(name);
    if (lower.find('.') == std::string::npos || lower.find("index") != std::string::npos) return "";
    return lower;
}

std::string_view ArticleRetriever::Line(std::size_t i) const {
    std::size_t start = i == 0 ? 0 : lineEnds_[i - 1];
    return std::string_view(body_).substr(start, lineEnds_[i] - start);
}

int ArticleRetriever::RetrieveArticle(long number) {
    commandSent_ = Clock::now();
    SendArticleCommand(session_.Socket(), number);
    return ReceiveArticle(number);
}

void ArticleRetriever::SendArticleCommand(CLineSocket& socket, long number) {
    socket.SendLine("ARTICLE " + std::to_string(number) + "\r\n");
}

bool ArticleRetriever::DiscardReply(CLineSocket& socket, const std::atomic<bool>& stop) {
    std::string reply;
    if (!socket.ReadLine(reply)) return false;
    if (ReplyCode(reply) != 220) return true;
    return ReadMultiLine(socket, stop, [](const std::string&) {});
}

int ArticleRetriever::ReceiveArticle(long number) {
    EngineState& e = engine_;
    std::string reply = session_.Socket().ReadLine();
    if (ReplyCode(reply) != 220) {
        ShowLinesDecoded(0, 0, true);
        // No reply at all is a lost connection, not a missing article: it must be tried again.
        if (reply.empty() && !session_.Connected()) {
            NoteLost();
            return 0;
        }
        if (ReplyCode(reply) == 480 && session_.LogsInWhenAsked()) return kLoginAsked;
        return 1;
    }
    {
        std::lock_guard lock(e.work);
        e.shownRetriever = this;
        e.status.SetSubjectText(article.subject);
        ShowSavingTo("(Looking for binary attachment)");
    }
    Names names;
    int result = 0;
    bytes_ = 0;
    const Outcome outcome = ReadArticle(names);
    if (outcome != Outcome::Complete) {
        std::lock_guard lock(e.work);
        e.pass.bytes += bytes_;
    }
    switch (outcome) {
        case Outcome::Complete:
            ShowLinesDecoded(article.lines, article.lines, false);
            result =
                article.part && e.posts != nullptr ? SavePart(names, number) : Save(names, number);
            ReportRates();
            break;
        case Outcome::TooLarge: {
            std::lock_guard lock(e.work);
            e.status.SetStatusText("Article " + std::to_string(number) + " is too large to hold");
            result = 1;  // fetching it again would fail again
            break;
        }
        case Outcome::BrokenOff:
            break;  // nothing of it is kept: it is fetched again next time
    }
    ForgetBody();
    ShowSavingTo("");
    ShowLinesDecoded(0, 0, true);
    return result;
}

void ArticleRetriever::NoteLost() {
    if (reportsLoss_) engine_.NoteConnectionLost();
}

bool ArticleRetriever::Shown() const {
    return engine_.shownRetriever.load() == this;
}

// Another connection's article shown meanwhile keeps the window: no need to wait for its lock.
void ArticleRetriever::ShowSavingTo(const std::string& text) {
    if (!Shown()) return;
    std::lock_guard lock(engine_.work);
    if (Shown()) engine_.status.SetSavingToText(text);
}

void ArticleRetriever::ShowLinesDecoded(long position, long total, bool reset) {
    if (!Shown()) return;
    std::lock_guard lock(engine_.work);
    if (Shown()) engine_.status.SetProgress(ProgressBar::LinesDecoded, position, total, reset);
}

// Reads the article up to its final "." line, keeping its lines (a leading dot unstuffed).
ArticleRetriever::Outcome ArticleRetriever::ReadArticle(Names& names) {
    long linesCounted = 0;
    body_.clear();
    lineEnds_.clear();
    subjectText_.clear();
    Clock::time_point stopSeen{};
    std::string line;
    for (;;) {
        if (!ReadArticleLine(line, stopSeen)) return Outcome::BrokenOff;
        if (line == ".\r\n") return Outcome::Complete;
        // The index of the lines counts too: a flood of empty lines must not slip past the cap.
        const std::size_t held = body_.size() + (lineEnds_.size() + 1) * sizeof(std::uint32_t);
        if (held + line.size() > kMaxArticleBytes) {
            names = Names{};
            return Drain(line, stopSeen) ? Outcome::TooLarge : Outcome::BrokenOff;
        }
        if (line.starts_with("Subject:")) subjectText_ = line.size() > 9 ? line.substr(9) : "";
        // A leading dot was doubled on the wire; the article's own line has one less.
        body_.append(line, !line.empty() && line[0] == '.' ? 1 : 0);
        lineEnds_.push_back(static_cast<std::uint32_t>(body_.size()));
        if (WatchLine(Line(lineEnds_.size() - 1), names)) linesCounted = 0;
        bytes_ += static_cast<std::int64_t>(line.size());
        if (++linesCounted % 10 == 0) ShowLinesDecoded(linesCounted, article.lines, false);
    }
}

// The next line of the article. A stop lets the article finish if it arrives within the stop
// grace, so a picture almost complete is still saved; a lost connection ends it at once.
bool ArticleRetriever::ReadArticleLine(std::string& line, Clock::time_point& stopSeen) {
    if (engine_.stop) {
        const Clock::time_point now = Clock::now();
        if (stopSeen == Clock::time_point{}) stopSeen = now;
        if (now - stopSeen > session_.Socket().StopGrace()) {
            session_.Socket().AbandonForStop();
            return false;
        }
    }
    if (session_.Socket().ReadLine(line)) return true;
    NoteLost();
    return false;
}

// Reads an over-large article to its end, keeping nothing, so the connection stays in step.
bool ArticleRetriever::Drain(std::string& line, Clock::time_point& stopSeen) {
    ForgetBody();
    while (ReadArticleLine(line, stopSeen)) {
        if (line == ".\r\n") return true;
    }
    return false;
}

// Learns the picture's name and kind from one line. True when the line starts the attachment
// (a begin line, a "=ybegin" line, a MIME sign), from which the Lines Decoded bar counts anew.
// Whichever of uuencode and yEnc starts first is the article's; the other is passed over.
bool ArticleRetriever::WatchLine(std::string_view line, Names& names) {
    bool starts = false;
    EngineState& e = engine_;
    if (!names.uuencoded && !names.yenc) {
        std::string posted = BeginLineName(line);
        if (!posted.empty() || CUUDecoder::IsBeginLine(line)) {
            names.uuencoded = true;
            names.output = SafeFileName(WithJpgWhenNoDot(posted));
            ShowSavingTo(SavingTo(names.output));
            starts = true;
        } else if (line.starts_with("=ybegin")) {
            if (std::optional<YEncBegin> begin = CYEncDecoder::ParseBegin(line)) {
                names.yenc = true;
                names.output = SafeFileName(WithJpgWhenNoDot(begin->name));
                ShowSavingTo(SavingTo(names.output));
                starts = true;
            }
        }
    }
    bool typeLine = StartsWithNoCase(line, "content-type: application/octet-stream") ||
                    StartsWithNoCase(line, "content-type: image/jpeg");
    if (typeLine || MentionsBase64(line)) {
        names.mimeMode = true;
        starts = true;
    }
    if (!names.mimeMode) return starts;
    if (typeLine || StartsWithNoCase(line, "content-disposition:")) {
        if (line.find('=') != std::string_view::npos) names.mime = MimeHeaderName(line);
        if (!names.mime.empty()) {
            names.mime = SafeFileName(WithJpgWhenNoDot(names.mime));
            if (!names.mime.empty()) ShowSavingTo(e.saveDirectory + names.mime);
        }
    }
    if (line.starts_with("/9j/") && names.mime.empty()) {
        names.mime = SafeFileName(NameFromSubject(subjectText_));
        if (!names.mime.empty()) ShowSavingTo(e.saveDirectory + names.mime);
    }
    // In a uuencoded or yEnc article, MIME signs only rename the picture when they name one.
    if ((!names.uuencoded && !names.yenc) || !names.mime.empty()) names.output = names.mime;
    return starts;
}

int ArticleRetriever::Save(const Names& names, long number) {
    EngineState& e = engine_;
    if (names.output.empty()) return 0;  // no name found: nothing can be created
    const std::string partial = MakePartial();
    if (partial.empty()) return 0;
    YEncVerdict verdict = YEncVerdict::kOk;
    bool whole = true;
    const int err = names.yenc ? DecodeYEnc(partial, verdict) : Decode(names, partial, whole);
    if (err != 0) {
        DropPartial(e, partial);
        e.NoteWriteFailure(err, e.saveDirectory);
        return 0;
    }
    if (verdict != YEncVerdict::kOk) return SkipYEnc(names, verdict, partial);
    // Read and hashed here, on the connection's own thread, before the run's records are held.
    const PictureFingerprint print = whole ? Fingerprint(partial) : PictureFingerprint{};
    std::lock_guard lock(e.work);
    if (!whole) {
        // The data ended before its closing line: the article is cut short, or it is one of the
        // first parts of a post split over several articles. Never a whole picture.
        DropPartial(e, partial);
        e.status.SetStatusText("Skipped " + names.output +
                               ": the uuencoded picture ends before its end line");
        if (e.selector != nullptr) e.selector->CountOtherSkipped();
        return 1;
    }
    return Commit(names, number, partial, print);
}

PictureFingerprint ArticleRetriever::Fingerprint(const std::string& partial) const {
    return engine_.contentIndex != nullptr ? FingerprintFile(partial) : PictureFingerprint{};
}

// A new temporary file in the save directory, journaled before it exists; "" when it cannot be
// made (the run is then ending and the status says why).
std::string ArticleRetriever::MakePartial() {
    std::lock_guard lock(engine_.work);
    EngineState& e = engine_;
    bool journaled = true;
    std::string partial = CreatePartialPicture(e.saveDirectory, [&](const std::string& path) {
        journaled = e.journal.NotePartial(path);
        if (journaled) e.openPartials.insert(path);
        return journaled;
    });
    if (partial.empty()) {
        const int err = errno;
        if (journaled) {
            e.NoteWriteFailure(err, e.saveDirectory);
        } else {
            e.NoteJournalFailure(err);
        }
    }
    return partial;
}

// Decodes the stored lines into path. 0, or the errno of a failed write.
int ArticleRetriever::Decode(const Names& names, const std::string& path, bool& whole) {
    if (names.uuencoded) return DecodeUuencoded(path, whole);
    if (names.mimeMode) return DecodeBase64(path);
    return 0;
}

// The decoder's error flag means a failed create, write or close: never a whole picture.
int ArticleRetriever::DecodeUuencoded(const std::string& path, bool& whole) {
    CUUDecoder decoder(path);
    for (std::size_t i = 0; i < lineEnds_.size() && !decoder.ErrorFlag(); ++i) {
        decoder.DecodeLine(Line(i));
    }
    whole = decoder.WholeFile();
    if (decoder.Close()) return 0;
    return decoder.LastErrno() != 0 ? decoder.LastErrno() : EIO;
}

int ArticleRetriever::DecodeBase64(const std::string& path) {
    CBase64Decoder decoder;
    if (decoder.OpenOutput(path) != 0) return decoder.LastErrno() != 0 ? decoder.LastErrno() : EIO;
    bool decoding = false;
    bool ended = false;
    for (std::size_t i = 0; i < lineEnds_.size() && !ended; ++i) {
        std::string_view line = Line(i);
        if (line.starts_with("/9j/")) decoding = true;
        // "-" is no base64 character: any line beginning "--" (a MIME delimiter, whatever its
        // boundary) ends the picture, and a later picture of the article is not appended to it.
        if (decoding && line.starts_with("--")) ended = true;
        if (decoding && !ended && decoder.DecodeAndWrite(line) < 0) break;
    }
    if (decoder.Close()) return 0;
    return decoder.LastErrno() != 0 ? decoder.LastErrno() : EIO;
}

// Decodes the stored lines into path and checks them against the yEnc trailer. 0, or the errno of
// a failed write.
int ArticleRetriever::DecodeYEnc(const std::string& path, YEncVerdict& verdict) {
    CYEncDecoder decoder(path);
    for (std::size_t i = 0; i < lineEnds_.size(); ++i) decoder.DecodeLine(Line(i));
    verdict = decoder.Close();
    if (verdict != YEncVerdict::kWriteError) return 0;
    return decoder.LastErrno() != 0 ? decoder.LastErrno() : EIO;
}

// A yEnc article that failed its check, or one part of a larger file, is never saved as a broken
// picture. Fetching it again would give the same bytes, so the read mark may move past it.
int ArticleRetriever::SkipYEnc(const Names& names, YEncVerdict verdict,
                               const std::string& partial) {
    std::lock_guard lock(engine_.work);
    EngineState& e = engine_;
    DropPartial(e, partial);
    if (verdict == YEncVerdict::kMultiPart) {
        e.status.SetStatusText("Skipped " + names.output +
                               ": multi-part yEnc posts are not supported");
    } else {
        e.status.SetStatusText("yEnc check failed for " + names.output + ": " +
                               YEncVerdictText(verdict));
    }
    if (e.selector != nullptr) e.selector->CountOtherSkipped();
    return 1;
}

// The text copy beside a base64 picture: every stored line followed by one more line end.
std::string ArticleRetriever::TextCopy() const {
    std::string text;
    text.reserve(body_.size() + lineEnds_.size());
    for (std::size_t i = 0; i < lineEnds_.size(); ++i) {
        text.append(Line(i));
        text += '\n';
    }
    return text;
}

// Gives the decoded picture its name, at once or, for one of several connections, once every
// article before it is dealt with (see DeferCommits).
int ArticleRetriever::Commit(const Names& names, long number, const std::string& partial,
                             const PictureFingerprint& print, std::function<void()> afterSaved) {
    EngineState& e = engine_;
    CommitJob job{names,          number,          partial, e.currentGroup, e.saveDirectory,
                  article.sender, article.subject, {},      !defers_,       std::move(afterSaved),
                  print};
    if (e.settings.saveAscii && !names.uuencoded && !names.yenc) job.textCopy = TextCopy();
    if (!defers_) return CommitPicture(e, job);
    EngineState* engine = &e;
    deferred_ = ArticleQueue::Deferred{[engine, job] { return CommitPicture(*engine, job); },
                                       [engine, partial] { DropPartial(*engine, partial); }};
    return 1;
}

ArticleQueue::Deferred ArticleRetriever::TakeDeferred() {
    return std::exchange(deferred_, ArticleQueue::Deferred{});
}

void ArticleRetriever::DropPartial(EngineState& e, const std::string& partial) {
    std::lock_guard lock(e.work);
    ::unlink(partial.c_str());
    e.openPartials.erase(partial);
}

// The journal learns of the picture first and the history entry is written before the name is
// given, so a kill at any instant leaves either a partial file the next run finishes or removes,
// or a named picture whose history entry and read mark are safe.
int ArticleRetriever::CommitPicture(EngineState& e, const CommitJob& job) {
    std::lock_guard lock(e.work);
    const Names& names = job.names;
    const std::string entry = HistoryEntryFor(names.output);
    const Repost repost = JudgeRepost(e, job.print);
    if (repost.kind == Repost::Kind::Same ||
        (repost.kind == Repost::Kind::Near && e.settings.skipNearDuplicates))
        return SkipRepost(e, job, entry, repost);
    std::optional<ContentIndex::Entry> content;
    if (e.contentIndex != nullptr && job.print.valid)
        content = ContentIndex::Entry::Of(job.print, names.output);
    if (!e.journal.NoteSaved(SavedArticle{e.settings.host, job.group, job.number, job.partial,
                                          job.directory, names.output, entry, content})) {
        DropPartial(e, job.partial);
        e.NoteJournalFailure(errno);
        return 0;
    }
    if (!entry.empty()) {
        e.history->Add(entry);
        e.history->Save(e.status);
    }
    if (content && !e.contentIndex->Add(*content))
        e.status.SetStatusText(std::string("Unable to write ") + kContentIndexFile);
    const std::string saved = CommitPartialPicture(job.partial, job.directory, names.output);
    if (saved.empty()) {
        const int err = errno;
        DropPartial(e, job.partial);
        if (!entry.empty()) {
            e.history->RemoveLast();
            e.history->Save(e.status);
        }
        if (content) e.contentIndex->RemoveLast();
        if (!IsNameRefusedError(err)) {
            e.NoteWriteFailure(err, job.directory);
            return 0;
        }
        // Only this name is refused: the article is passed over and the run goes on.
        e.status.SetStatusText("Unable to save " + names.output + ": " + std::strerror(err));
        if (job.afterSaved) job.afterSaved();
        return 1;
    }
    e.openPartials.erase(job.partial);
    // Named otherwise (the name was taken): the index learns the name it has.
    if (content && saved != names.output)
        e.contentIndex->Add(ContentIndex::Entry::Of(job.print, saved));
    if (saved != names.output && job.shown) e.status.SetSavingToText(job.directory + saved);
    if (e.settings.saveAscii && !names.uuencoded && !names.yenc &&
        !ReplaceFileAtomically(job.directory + saved + "a", job.textCopy))
        e.NoteWriteFailure(errno, job.directory);
    if (e.settings.enableLogging) {
        std::string note;
        if (repost.kind == Repost::Kind::Near) note = "near-duplicate of " + repost.of;
        if (repost.kind == Repost::Kind::Larger) note = "larger copy of " + repost.of;
        AppendDownloadLog(e.settings.logFile, job.directory, saved, job.sender, note);
    }
    e.status.LoadThumbnail(job.directory + saved);
    if (e.settings.acdSeeDescription) {
        AppendDescription(job.directory, Lowercase(saved), job.subject, job.sender);
    }
    if (job.afterSaved) job.afterSaved();
    return 1;
}

// The same bytes saved before are never saved again. A picture that only looks the same is
// skipped when the user asks for that, unless it has more pixels and the user keeps larger copies.
ArticleRetriever::Repost ArticleRetriever::JudgeRepost(const EngineState& e,
                                                       const PictureFingerprint& print) {
    if (e.contentIndex == nullptr || !print.valid) return {};
    if (const ContentIndex::Entry* same = e.contentIndex->FindSame(print.digest))
        return {Repost::Kind::Same, same->name};
    if (!print.shape) return {};
    const std::optional<ContentIndex::NearHit> near = e.contentIndex->FindNear(*print.shape);
    if (!near) return {};
    const bool larger = e.settings.keepLargerCopy && print.Pixels() > near->entry->Pixels();
    return {larger ? Repost::Kind::Larger : Repost::Kind::Near, near->entry->name};
}

// A repost is a history hit by content: counted so, and its name goes into the history as a
// saved picture's would, so the next run passes it over by name without fetching it.
int ArticleRetriever::SkipRepost(EngineState& e, const CommitJob& job, const std::string& entry,
                                 const Repost& repost) {
    DropPartial(e, job.partial);
    e.status.SetStatusText(
        (repost.kind == Repost::Kind::Same ? "  Duplicate of " : "  Near-duplicate of ") +
        repost.of + " -- not saved");
    if (e.selector != nullptr) e.selector->CountHistorySkipped();
    if (!entry.empty() && !e.history->Contains(entry)) {
        e.history->Add(entry);
        e.history->Save(e.status);
    }
    if (job.afterSaved) job.afterSaved();
    return 1;
}

// The article counts from its command going out: with commands sent ahead, its reply was mostly
// on its way while the articles before it were worked on.
void ArticleRetriever::ReportRates() {
    std::lock_guard lock(engine_.work);
    EngineState& e = engine_;
    e.pass.bytes += bytes_;
    bytes_ = 0;
    e.pass.retrieval.Add(commandSent_, Clock::now());
    const double seconds = e.pass.retrieval.Seconds();
    e.status.SetBytesTransferred(e.pass.bytes);
    e.status.ShowRateSince(RateKind::Overall, e.runStart, std::time(nullptr), e.pass.bytes);
    e.status.ShowRate(RateKind::Binary, seconds, e.pass.bytes);
    const double rate = seconds > 0 ? static_cast<double>(e.pass.bytes) / seconds : 0;
    e.shared.SetBinaryRate(static_cast<std::int64_t>(rate));
    e.status.UpdateGroupTimeLeft();
}

// Keeps the buffers for the next article, unless a large one blew them up.
void ArticleRetriever::ForgetBody() {
    constexpr std::size_t kKeep = std::size_t{8} << 20;
    const bool large =
        body_.capacity() > kKeep || lineEnds_.capacity() * sizeof(std::uint32_t) > kKeep;
    body_.clear();
    lineEnds_.clear();
    if (!large) return;
    std::string().swap(body_);
    std::vector<std::uint32_t>().swap(lineEnds_);
    ::malloc_trim(0);  // the smaller steps of the buffers' growth stay in the heap otherwise
}

}  // namespace qm
