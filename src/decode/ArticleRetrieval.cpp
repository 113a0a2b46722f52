#include "decode/ArticleRetrieval.h"

#include <cerrno>
#include <cstring>
#include <ctime>

#include "decode/Base64Decoder.h"
#include "decode/SafeFileName.h"
#include "decode/UUDecoder.h"
#include "engine/DownloadLog.h"
#include "engine/GroupSelection.h"
#include "engine/HistoryList.h"
#include "engine/OverviewLine.h"
#include "settings/TextFiles.h"

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

std::string_view ArticleRetriever::Line(std::size_t i) const {
    std::size_t start = i == 0 ? 0 : lineEnds_[i - 1];
    return std::string_view(body_).substr(start, lineEnds_[i] - start);
}

int ArticleRetriever::RetrieveArticle(const std::string& number) {
    EngineState& e = engine_;
    e.profile.WriteIntSoon(e.settings.host, e.currentGroup, LeadingNumber(number));
    e.socket->SendLine("ARTICLE " + number + "\r\n");
    std::string reply = e.socket->ReadLine();
    if (ReplyCode(reply) != 220) {
        e.status.SetProgress(2, 0, 0, true);
        // No reply at all is a lost connection, not a missing article: it must be tried again.
        if (reply.empty() && !e.Connected()) {
            e.NoteConnectionLost();
            return 0;
        }
        return 1;
    }
    e.status.SetSubjectText(e.article.subject);
    e.status.SetSavingToText("(Looking for binary attachment)");
    std::time_t articleStart = std::time(nullptr);
    Names names;
    long linesCounted = 0;
    int result = ReadArticle(names, linesCounted) ? 1 : 0;
    if (!e.stop) e.status.SetProgress(2, e.article.lines, e.article.lines, false);
    return Save(names, result, articleStart);
}

// Reads the article up to its final "." line. False when it was broken off (stop, lost
// connection, or an article too large to hold).
bool ArticleRetriever::ReadArticle(Names& names, long& linesCounted) {
    EngineState& e = engine_;
    body_.clear();
    lineEnds_.clear();
    subjectText_.clear();
    std::string line;
    e.socket->ReadLine(line);
    while (line != ".\r\n") {
        if (!e.Connected()) e.NoteConnectionLost();
        if (e.stop) return false;
        if (body_.size() + line.size() > kMaxArticleBytes) {
            // Drain the rest so the connection stays in step, but keep nothing of it.
            while (e.socket->ReadLine(line) && line != ".\r\n") {
            }
            body_.clear();
            lineEnds_.clear();
            names = Names{};
            return false;
        }
        if (line.starts_with("Subject:")) subjectText_ = line.size() > 9 ? line.substr(9) : "";
        // A leading dot was doubled on the wire; the article's own line has one less.
        body_.append(line, !line.empty() && line[0] == '.' ? 1 : 0);
        lineEnds_.push_back(body_.size());
        WatchLine(Line(lineEnds_.size() - 1), names, linesCounted);
        e.pass.bytes += static_cast<std::int64_t>(line.size());
        if (++linesCounted % 10 == 0) e.status.SetProgress(2, linesCounted, e.article.lines, false);
        e.socket->ReadLine(line);
    }
    return true;
}

void ArticleRetriever::WatchLine(std::string_view line, Names& names, long& linesCounted) {
    EngineState& e = engine_;
    if (!names.uuencoded) {
        std::string posted = BeginLineName(line);
        if (!posted.empty() || CUUDecoder::IsBeginLine(line)) {
            names.uuencoded = true;
            names.output = SafeFileName(WithJpgWhenNoDot(posted));
            e.status.SetSavingToText(e.saveDirectory + names.output);
            linesCounted = 0;
        }
    }
    bool typeLine = StartsWithNoCase(line, "content-type: application/octet-stream") ||
                    StartsWithNoCase(line, "content-type: image/jpeg");
    if (typeLine || MentionsBase64(line)) {
        names.mimeMode = true;
        linesCounted = 0;
    }
    if (!names.mimeMode) return;
    if (typeLine || StartsWithNoCase(line, "content-disposition:")) {
        if (line.find('=') != std::string_view::npos) names.mime = MimeHeaderName(line);
        if (!names.mime.empty()) {
            names.mime = SafeFileName(WithJpgWhenNoDot(names.mime));
            if (!names.mime.empty()) e.status.SetSavingToText(e.saveDirectory + names.mime);
        }
    }
    if (line.starts_with("/9j/") && names.mime.empty()) {
        names.mime = SafeFileName(NameFromSubject(subjectText_));
        if (!names.mime.empty()) e.status.SetSavingToText(e.saveDirectory + names.mime);
    }
    // In a uuencoded article, MIME signs only rename the picture when they name one.
    if (!names.uuencoded || !names.mime.empty()) names.output = names.mime;
}

int ArticleRetriever::Save(const Names& names, int result, std::time_t articleStart) {
    EngineState& e = engine_;
    if (names.output.empty()) return 0;  // no name found: nothing can be created
    std::string saved = CreateUniqueFile(e.saveDirectory, names.output);
    if (saved.empty()) {
        if (IsDiskFullError(errno)) ReportDiskFull();
        return 0;
    }
    if (saved != names.output) e.status.SetSavingToText(e.saveDirectory + saved);
    if (!Decode(names, e.saveDirectory + saved, result)) {
        ReportDiskFull();
        result = 0;
    }
    body_.clear();
    lineEnds_.clear();
    if (e.settings.enableLogging) {
        AppendDownloadLog(e.settings.logFile, e.saveDirectory, saved, e.article.sender);
    }
    ReportSaved(saved, articleStart);
    Remember(names.output, saved, result);
    e.status.SetProgress(2, 0, 0, true);
    return result;
}

// Decodes the stored lines into path. False only when the disk or directory is full.
bool ArticleRetriever::Decode(const Names& names, const std::string& path, int& result) {
    if (names.uuencoded) return DecodeUuencoded(path, result);
    if (names.mimeMode) return DecodeBase64(path);
    return true;
}

bool ArticleRetriever::DecodeUuencoded(const std::string& path, int& result) {
    CUUDecoder decoder(path);
    for (std::size_t i = 0; i < lineEnds_.size(); ++i) {
        decoder.DecodeLine(Line(i));
        if (decoder.ErrorFlag()) result = 0;
    }
    if (!decoder.Close()) result = 0;
    if (decoder.ErrorFlag() && IsDiskFullError(decoder.LastErrno())) return false;
    return true;
}

bool ArticleRetriever::DecodeBase64(const std::string& path) {
    CBase64Decoder decoder;
    if (decoder.OpenOutput(path) != 0) return !IsDiskFullError(decoder.LastErrno());
    std::string textCopy;
    bool decoding = false;
    bool full = false;
    for (std::size_t i = 0; i < lineEnds_.size(); ++i) {
        std::string_view line = Line(i);
        if (engine_.settings.saveAscii) {
            textCopy.append(line);
            textCopy += '\n';
        }
        if (line.starts_with("/9j/")) decoding = true;
        if (line.starts_with("----")) decoding = false;
        if (decoding && !full && decoder.DecodeAndWrite(line) < 0) {
            full = IsDiskFullError(decoder.LastErrno());
        }
    }
    if (!decoder.Close() && IsDiskFullError(decoder.LastErrno())) full = true;
    if (engine_.settings.saveAscii && !AppendToFile(path + "a", textCopy)) {
        full = full || IsDiskFullError(errno);
    }
    return !full;
}

void ArticleRetriever::ReportDiskFull() {
    engine_.finalStatus = "Error--disk or directory full";
    engine_.stop = true;
}

void ArticleRetriever::ReportSaved(const std::string& savedName, std::time_t articleStart) {
    EngineState& e = engine_;
    std::time_t now = std::time(nullptr);
    e.status.LoadThumbnail(e.saveDirectory + savedName);
    e.status.SetBytesTransferred(e.pass.bytes);
    e.status.ShowRateSince(0, e.runStart, now, e.pass.bytes);
    e.pass.seconds += static_cast<std::int64_t>(now - articleStart);
    e.status.ShowRate(1, e.pass.seconds, e.pass.bytes);
    e.shared.SetBinaryRate(e.pass.seconds > 0 ? e.pass.bytes / e.pass.seconds : 0);
    e.status.UpdateGroupTimeLeft();
}

void ArticleRetriever::Remember(const std::string& postedName, const std::string& savedName,
                                int result) {
    EngineState& e = engine_;
    if (result == 1) {
        std::string lower = Lowercase(postedName);
        if (lower.find('.') != std::string::npos && lower.find("index") == std::string::npos) {
            e.history->Add(lower);
        }
        if (e.settings.acdSeeDescription) {
            AppendDescription(e.saveDirectory, Lowercase(savedName), e.article.subject,
                              e.article.sender);
        }
    }
    e.status.SetSavingToText("");
}

}  // namespace qm
