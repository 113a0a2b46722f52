#pragma once
// Small builders for the texts a news server sends, for scripting ScriptServer conversations.

#include <string>
#include <vector>

namespace qm::test {

// A multi-line reply: the status line, the lines dot-stuffed (a leading "." doubled), each ended
// with CR LF, then the terminating ".\r\n". Lines are given without their line end.
inline std::string MultiLineReply(const std::string& status,
                                  const std::vector<std::string>& lines) {
    std::string reply = status + "\r\n";
    for (const std::string& line : lines) {
        if (!line.empty() && line.front() == '.') reply += '.';
        reply += line + "\r\n";
    }
    return reply + ".\r\n";
}

// One overview line (without line end): number, subject, from, date, message-id, references,
// bytes, lines, and the Xref field when one is given.
inline std::string OverviewLine(long number, const std::string& subject, const std::string& from,
                                const std::string& date, long bytes, long lines,
                                const std::string& xref = "") {
    std::string line = std::to_string(number) + "\t" + subject + "\t" + from + "\t" + date + "\t<" +
                       std::to_string(number) + "@test>\t\t" + std::to_string(bytes) + "\t" +
                       std::to_string(lines);
    if (!xref.empty()) line += "\t" + xref;
    return line;
}

}  // namespace qm::test
