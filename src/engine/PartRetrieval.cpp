// The multi-part half of article retrieval: a fetched part goes into the part store, and the part
// that completes its post has the picture put together and saved as a single picture is.

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <fstream>
#include <iterator>

#include "decode/UUDecoder.h"
#include "engine/ArticleRetrieval.h"
#include "engine/ArticleSelector.h"
#include "engine/HistoryList.h"
#include "settings/DataFiles.h"
#include "util/TextFiles.h"

namespace qm {
namespace {

// Copies a file's bytes into a new file at to. 0, or the errno of the failure.
int CopyFile(const std::string& from, const std::string& to) {
    const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) return errno;
    const int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (out < 0) {
        const int err = errno;
        ::close(in);
        return err;
    }
    std::vector<char> buffer(std::size_t{1} << 20);
    int err = 0;
    for (;;) {
        const ssize_t n = ::read(in, buffer.data(), buffer.size());
        if (n == 0) break;
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 ||
            !WriteWhole(out, std::string_view(buffer.data(), static_cast<std::size_t>(n)))) {
            err = errno != 0 ? errno : EIO;
            break;
        }
    }
    if (::close(out) != 0 && err == 0) err = errno;
    ::close(in);
    return err;
}

}  // namespace

std::string ArticleRetriever::SavingTo(const std::string& name) const {
    const EngineState& e = engine_;
    std::string text = e.saveDirectory + name;
    if (article.part) {
        text += " (part " + std::to_string(article.part->part) + " of " +
                std::to_string(article.part->total) + ")";
    }
    return text;
}

int ArticleRetriever::SavePart(const Names& names, long number) {
    EngineState& e = engine_;
    const PartRef& part = *article.part;
    // Given up, or found in the history, while this part was on its way.
    if (std::lock_guard lock(e.work); !e.posts->Fetching(part.key)) return 1;
    if (names.yenc) return StoreYEncPart(names, number, part);
    // A base64 attachment has no parts to join: it is what it is, a single article.
    if (names.mimeMode && !names.uuencoded) return Save(names, number);
    return StoreUUPart(names, number, part);
}

int ArticleRetriever::StoreYEncPart(const Names& names, long number, const PartRef& part) {
    EngineState& e = engine_;
    PartStore& store = e.posts->Store();
    bool historyHit = false;
    bool duplicate = false;
    // The part's bytes are decoded into its place in the post's file without holding the run's
    // records: another connection may be storing another part of the same post meanwhile.
    CYEncDecoder decoder(store.DataPath(part.key), [&](const YEncPartInfo& info) {
        std::lock_guard lock(e.work);
        const std::string entry = HistoryEntryFor(PictureNameFor(info.name));
        historyHit = !entry.empty() && e.history->Contains(entry);
        const StoredPost* post = store.Find(part.key);
        duplicate = post != nullptr && post->Find(static_cast<long>(info.part)) != nullptr;
        return !historyHit && !duplicate && store.Admits(part.key, part.total, info);
    });
    for (std::size_t i = 0; i < lineEnds_.size(); ++i) decoder.DecodeLine(Line(i));
    const YEncVerdict verdict = decoder.Close();
    std::lock_guard lock(e.work);
    // Given up (or completed) by another connection while these bytes were decoded.
    if (!e.posts->Fetching(part.key)) return 1;
    if (historyHit) {
        GiveUpPost(part.key, "", true);
        return 1;
    }
    if (duplicate) return 1;  // the same part posted again: the one kept stands
    switch (verdict) {
        case YEncVerdict::kOk:
            break;
        case YEncVerdict::kWriteError:
            e.NoteWriteFailure(decoder.LastErrno() != 0 ? decoder.LastErrno() : EIO,
                               CurrentDirectory() + kPartStoreDirectory);
            return 0;
        case YEncVerdict::kForeignPart:
            e.status.SetStatusText("Skipped " + names.output + " part " +
                                   std::to_string(part.part) + ": it does not belong to its post");
            if (e.selector != nullptr) e.selector->CountOtherSkipped();
            return 1;
        default:
            return PartFailed(part, names.output, verdict);
    }
    // The same part, reposted, may have been stored by another connection meanwhile.
    if (const StoredPost* kept = store.Find(part.key);
        kept != nullptr && kept->Find(static_cast<long>(decoder.PartInfo().part)) != nullptr) {
        return 1;
    }
    if (!store.RecordYEncPart(part.key, decoder.PartInfo(), e.currentGroup, std::time(nullptr))) {
        e.NoteWriteFailure(errno, CurrentDirectory() + kPartStoreDirectory);
        return 0;
    }
    const StoredPost* post = store.Find(part.key);
    return post != nullptr && post->Complete() ? CompletePost(part.key, number) : 1;
}

int ArticleRetriever::StoreUUPart(const Names& names, long number, const PartRef& part) {
    std::lock_guard lock(engine_.work);
    EngineState& e = engine_;
    PartStore& store = e.posts->Store();
    const StoredPost* post = store.Find(part.key);
    if (post != nullptr && post->Find(part.part) != nullptr) return 1;
    if (post != nullptr && !post->parts.empty() && post->encoding != StoredPost::Encoding::UU) {
        e.status.SetStatusText("Skipped " +
                               (names.output.empty() ? article.subject : names.output) +
                               ": it does not belong to its post");
        if (e.selector != nullptr) e.selector->CountOtherSkipped();
        return 1;
    }
    const std::string entry = names.uuencoded ? HistoryEntryFor(names.output) : std::string();
    if (!entry.empty() && e.history->Contains(entry)) {
        GiveUpPost(part.key, "", true);
        return 1;
    }
    // The body only: the headers of each part would break the stream the parts make together.
    std::size_t first = 0;
    while (first < lineEnds_.size() && !WithoutLineEnd(Line(first)).empty()) ++first;
    const std::size_t from = first < lineEnds_.size() ? lineEnds_[first] : body_.size();
    const std::string_view body = std::string_view(body_).substr(from);
    if (!store.StoreUUPart(part.key, part.total, part.part, names.uuencoded ? names.output : "",
                           body, e.currentGroup, std::time(nullptr))) {
        e.NoteWriteFailure(errno, CurrentDirectory() + kPartStoreDirectory);
        return 0;
    }
    post = store.Find(part.key);
    return post != nullptr && post->Complete() ? CompletePost(part.key, number) : 1;
}

// A part whose bytes fail their check is asked for once more; failing again, its post is given
// up: the rest of it would never make a whole picture.
int ArticleRetriever::PartFailed(const PartRef& part, const std::string& name,
                                 YEncVerdict verdict) {
    if (refetched_.insert(part.key + "\t" + std::to_string(part.part)).second) return kFetchAgain;
    GiveUpPost(part.key,
               "yEnc check failed for " + name + " part " + std::to_string(part.part) + ": " +
                   YEncVerdictText(verdict),
               false);
    return 1;
}

void ArticleRetriever::GiveUpPost(const std::string& key, const std::string& status,
                                  bool historyHit) {
    std::lock_guard lock(engine_.work);
    EngineState& e = engine_;
    if (!status.empty()) e.status.SetStatusText(status);
    if (e.selector != nullptr) {
        if (historyHit) {
            e.selector->CountHistorySkipped();
        } else {
            e.selector->CountOtherSkipped();
        }
    }
    e.posts->Store().Remove(key);
    e.posts->Drop(key);
}

int ArticleRetriever::CompletePost(const std::string& key, long number) {
    std::lock_guard lock(engine_.work);
    EngineState& e = engine_;
    PartStore& store = e.posts->Store();
    const StoredPost* post = store.Find(key);
    if (post == nullptr) return 1;
    Names names;
    names.output = PictureNameFor(post->name);
    names.yenc = post->encoding == StoredPost::Encoding::YEnc;
    names.uuencoded = !names.yenc;
    if (names.output.empty()) {
        GiveUpPost(key,
                   "Skipped a multi-part post of " + e.currentGroup + ": its parts name no file",
                   false);
        return 1;
    }
    const std::string entry = HistoryEntryFor(names.output);
    if (!entry.empty() && e.history->Contains(entry)) {
        GiveUpPost(key, "", true);
        return 1;
    }
    if (names.yenc && !store.VerifyWhole(*post)) {
        GiveUpPost(key, "yEnc check failed for " + names.output + ": CRC32 mismatch", false);
        return 1;
    }
    const std::string partial = MakePartial();
    if (partial.empty()) return 0;
    bool whole = true;
    if (const int err = FillFromParts(*post, partial, whole); err != 0) {
        DropPartial(e, partial);
        e.NoteWriteFailure(err, e.saveDirectory);
        return 0;
    }
    if (!whole) {
        DropPartial(e, partial);
        GiveUpPost(key,
                   "Skipped " + names.output + ": the uuencoded picture ends before its end line",
                   false);
        return 1;
    }
    ShowSavingTo(e.saveDirectory + names.output);
    // Hashed while the run's records are held: the parts were put together under them too, and
    // another connection could otherwise give the post up meanwhile.
    const PictureFingerprint print = Fingerprint(partial);
    // Saved, a repost, or its name refused: either way the parts have done their work. Until then
    // they stay in the store, so a run killed before the picture has its name makes it whole again.
    const int result = Commit(names, number, partial, print, [&store, key] {
        store.MarkCompleted(key, std::time(nullptr));
        store.Remove(key);
    });
    if (result == 1) e.posts->Drop(key);
    return result;
}

// Puts the whole picture into partial: a yEnc post's file is given the partial name as a second
// link (or copied where the two directories lie on different file systems); uuencoded parts are
// decoded in order as one stream. 0, or the errno of a failure.
int ArticleRetriever::FillFromParts(const StoredPost& post, const std::string& partial,
                                    bool& whole) {
    PartStore& store = engine_.posts->Store();
    if (post.encoding == StoredPost::Encoding::YEnc) {
        ::unlink(partial.c_str());
        if (::link(store.DataPath(post.key).c_str(), partial.c_str()) == 0) return 0;
        return CopyFile(store.DataPath(post.key), partial);
    }
    CUUDecoder decoder(partial);
    for (const StoredPost::Part& part : post.parts) {
        std::ifstream in(store.UUPartPath(post, part.number), std::ios::binary);
        const std::string text((std::istreambuf_iterator<char>(in)),
                               std::istreambuf_iterator<char>());
        for (std::size_t start = 0; start < text.size() && !decoder.ErrorFlag();) {
            std::size_t end = text.find('\n', start);
            end = end == std::string::npos ? text.size() : end + 1;
            decoder.DecodeLine(std::string_view(text).substr(start, end - start));
            start = end;
        }
    }
    whole = decoder.WholeFile();
    if (decoder.Close()) return 0;
    return decoder.LastErrno() != 0 ? decoder.LastErrno() : EIO;
}

int ArticleRetriever::FinishStoredPost(const std::string& key, long mark) {
    std::lock_guard lock(engine_.work);
    EngineState& e = engine_;
    const StoredPost* post = e.posts->Store().Find(key);
    if (post == nullptr) return 1;
    // Saved before the kill, with its history entry: only the parts are left to let go.
    const std::string entry = HistoryEntryFor(PictureNameFor(post->name));
    if (!entry.empty() && e.history->Contains(entry)) {
        e.posts->Store().MarkCompleted(key, std::time(nullptr));
        e.posts->Store().Remove(key);
        return 1;
    }
    return CompletePost(key, mark);
}

}  // namespace qm
