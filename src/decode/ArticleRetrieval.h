#pragma once
// Turns one chosen article into a saved picture: fetches it with ARTICLE, watches its lines for a
// uuencode "begin" line or the signs of a base64 JPEG, names the file, decodes it into the group's
// save directory, and reports the result to the log, the history, the counters and the thumbnail.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/EngineState.h"

namespace qm {

class ArticleRetriever {
public:
    explicit ArticleRetriever(EngineState& engine) : engine_(engine) {}

    // 1 when the article was dealt with (the read mark may move past it), 0 when it was not.
    int RetrieveArticle(const std::string& number);

    // Articles larger than this are abandoned rather than held in memory.
    static constexpr std::size_t kMaxArticleBytes = std::size_t{256} << 20;

private:
    struct Names {
        std::string output;  // as posted (after making it safe)
        std::string mime;
        bool uuencoded = false;
        bool mimeMode = false;
    };

    bool ReadArticle(Names& names, long& linesCounted);
    void WatchLine(std::string_view line, Names& names, long& linesCounted);
    int Save(const Names& names, int result, std::time_t articleStart);
    bool Decode(const Names& names, const std::string& path, int& result);
    bool DecodeUuencoded(const std::string& path, int& result);
    bool DecodeBase64(const std::string& path);
    void ReportDiskFull();
    void ReportSaved(const std::string& savedName, std::time_t articleStart);
    void Remember(const std::string& postedName, const std::string& savedName, int result);

    std::string_view Line(std::size_t i) const;

    EngineState& engine_;
    std::string body_;                   // every article line after the reply, back to back
    std::vector<std::size_t> lineEnds_;  // end offset of each line in body_
    std::string subjectText_;
};

// The name on a uuencode "begin" line (the text after its mode), or "" when it is not one.
std::string BeginLineName(std::string_view line);
// The name after the first "=" of a MIME header line, without quotes, spaces or line end.
std::string MimeHeaderName(std::string_view line);
// The name derived from a subject: up to and including its first ".jpg", else its first three
// characters, lowercased.
std::string NameFromSubject(std::string_view subject);

}  // namespace qm
