#include "support/NewsModel.h"

#include <random>

namespace qm::test {
namespace {

long Number(const std::string& text) {
    try {
        return std::stol(text);
    } catch (...) {
        return -1;
    }
}

std::string CrLf(const std::string& text) {
    std::string out;
    size_t start = 0;
    while (start < text.size()) {
        size_t nl = text.find('\n', start);
        std::string line =
            text.substr(start, nl == std::string::npos ? std::string::npos : nl - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty() && line[0] == '.') out += '.';
        out += line + "\r\n";
        if (nl == std::string::npos) break;
        start = nl + 1;
    }
    return out;
}

}  // namespace

void NewsModel::AddArticle(const std::string& group, long number, ModelArticle article) {
    std::lock_guard lock(mutex_);
    groups_[group][number] = std::move(article);
}

void NewsModel::Serve(ScriptServer& server) {
    server.On("GROUP ",
              ScriptServer::TextResponder([this](const std::string& c) { return Group(c); }));
    server.On("LIST OVERVIEW.FMT",
              ScriptServer::TextResponder([this](const std::string&) { return overviewFormat; }));
    server.On("XOVER ",
              ScriptServer::TextResponder([this](const std::string& c) { return Xover(c); }));
    server.On("ARTICLE ",
              ScriptServer::TextResponder([this](const std::string& c) { return Article(c); }));
}

std::string NewsModel::Group(const std::string& command) {
    std::lock_guard lock(mutex_);
    std::string name = command.substr(6);
    auto it = groups_.find(name);
    if (it == groups_.end()) return "411 no such group\r\n";
    current_ = name;
    const auto& articles = it->second;
    if (articles.empty()) return "211 0 0 0 " + name + "\r\n";
    return "211 " + std::to_string(articles.size()) + " " +
           std::to_string(articles.begin()->first) + " " +
           std::to_string(articles.rbegin()->first) + " " + name + "\r\n";
}

std::string NewsModel::Xover(const std::string& command) const {
    std::lock_guard lock(mutex_);
    std::string range = command.substr(6);
    size_t dash = range.find('-');
    long from = Number(range.substr(0, dash));
    long to = dash == std::string::npos ? from : Number(range.substr(dash + 1));
    auto it = groups_.find(current_);
    if (it == groups_.end()) return "412 no group selected\r\n";
    std::string reply = "224 overview follows\r\n";
    for (const auto& [number, a] : it->second) {
        if (number < from || number > to) continue;
        reply += std::to_string(number) + "\t" + a.subject + "\t" + a.from +
                 "\tMon, 7 Dec 2026 10:00:00 +0000\t<" + std::to_string(number) + "." + current_ +
                 "@test>\t\t" + std::to_string(a.body.size()) + "\t" + std::to_string(a.lines);
        if (!a.xref.empty()) reply += "\t" + a.xref;
        reply += "\r\n";
    }
    return reply + ".\r\n";
}

std::string NewsModel::ArticleText(const std::string& group, long number) const {
    std::lock_guard lock(mutex_);
    const ModelArticle& a = groups_.at(group).at(number);
    return "From: " + a.from + "\nSubject: " + a.subject + "\nNewsgroups: " + group + "\n\n" +
           a.body;
}

std::string NewsModel::Article(const std::string& command) const {
    long number = Number(command.substr(8));
    {
        std::lock_guard lock(mutex_);
        auto g = groups_.find(current_);
        if (g == groups_.end() || !g->second.count(number)) return "430 no such article\r\n";
    }
    return "220 " + std::to_string(number) + " <" + std::to_string(number) + "@test>\r\n" +
           CrLf(ArticleText(current_, number)) + ".\r\n";
}

std::string UuencodeBody(const std::string& data, const std::string& name) {
    auto enc = [](unsigned v) { return static_cast<char>(v == 0 ? '`' : v + 32); };
    std::string out = "begin 644 " + name + "\n";
    for (size_t i = 0; i < data.size(); i += 45) {
        size_t n = std::min<size_t>(45, data.size() - i);
        out += enc(static_cast<unsigned>(n));
        for (size_t j = 0; j < n; j += 3) {
            unsigned char b[3] = {0, 0, 0};
            for (size_t k = 0; k < 3 && j + k < n; ++k)
                b[k] = static_cast<unsigned char>(data[i + j + k]);
            out += enc(b[0] >> 2);
            out += enc(((b[0] << 4) | (b[1] >> 4)) & 63);
            out += enc(((b[1] << 2) | (b[2] >> 6)) & 63);
            out += enc(b[2] & 63);
        }
        out += "\n";
    }
    return out + "`\nend\n";
}

std::string Base64Lines(const std::string& data, size_t lineChars) {
    static const char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string text;
    for (size_t i = 0; i < data.size(); i += 3) {
        unsigned v = static_cast<unsigned char>(data[i]) << 16;
        if (i + 1 < data.size()) v |= static_cast<unsigned char>(data[i + 1]) << 8;
        if (i + 2 < data.size()) v |= static_cast<unsigned char>(data[i + 2]);
        text += kAlphabet[(v >> 18) & 63];
        text += kAlphabet[(v >> 12) & 63];
        text += i + 1 < data.size() ? kAlphabet[(v >> 6) & 63] : '=';
        text += i + 2 < data.size() ? kAlphabet[v & 63] : '=';
    }
    std::string out;
    for (size_t i = 0; i < text.size(); i += lineChars) out += text.substr(i, lineChars) + "\n";
    return out;
}

std::string RandomBytes(size_t size, unsigned seed) {
    std::mt19937 rng(seed);
    std::string out(size, '\0');
    for (char& c : out) c = static_cast<char>(rng() & 0xFF);
    return out;
}

std::string FakeJpeg(size_t size, unsigned seed) {
    std::string out = RandomBytes(size, seed);
    const unsigned char head[] = {0xFF, 0xD8, 0xFF, 0xE0};
    for (size_t i = 0; i < 4 && i < out.size(); ++i) out[i] = static_cast<char>(head[i]);
    return out;
}

}  // namespace qm::test
