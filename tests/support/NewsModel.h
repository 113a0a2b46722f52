#pragma once
// A small news server model for scripted conversations: groups of numbered articles, answered
// through ScriptServer rules for GROUP, LIST OVERVIEW.FMT, XOVER, ARTICLE and HEAD. Tests change
// the model between runs and add their own rules for faults.

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "support/ScriptServer.h"

namespace qm::test {

struct ModelArticle {
    std::string subject;
    std::string from = "poster@example.com";
    long lines = 1000;
    std::string body;  // article text after the headers, "\n" line ends; dot-stuffed on the wire
    std::string xref;  // Xref field of the overview line ("" for none)
};

class NewsModel {
public:
    void AddArticle(const std::string& group, long number, ModelArticle article);
    // Installs the rules on server. The model must outlive the server's use of them.
    void Serve(ScriptServer& server);

    std::string overviewFormat =
        "215 Order of fields in overview database.\r\nSubject:\r\n"
        "From:\r\nDate:\r\nMessage-ID:\r\nReferences:\r\nBytes:\r\n"
        "Lines:\r\nXref:full\r\n.\r\n";
    std::string ArticleText(const std::string& group, long number) const;
    // The XOVER reply for command in the group last selected.
    std::string Xover(const std::string& command) const;

private:
    std::string Group(const std::string& command);
    std::string Article(const std::string& command) const;

    mutable std::mutex mutex_;
    std::map<std::string, std::map<long, ModelArticle>> groups_;
    std::string current_;
};

// An article that only its overview line matters for.
inline ModelArticle Picture(const std::string& subject, long lines = 1000) {
    ModelArticle a;
    a.subject = subject;
    a.lines = lines;
    return a;
}

// Encoders for making test articles.
std::string UuencodeBody(const std::string& data, const std::string& name);
std::string Base64Lines(const std::string& data, size_t lineChars = 76);
std::string RandomBytes(size_t size, unsigned seed);
// Bytes that begin like a JPEG file, so the base64 text begins "/9j/".
std::string FakeJpeg(size_t size, unsigned seed);

}  // namespace qm::test
