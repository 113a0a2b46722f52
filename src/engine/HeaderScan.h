#pragma once
// The header scan of one selected group: the scan range (read mark, age limit, header count
// limits), the overview format, and the XOVER pass whose accepted lines fill the pending list.

#include <atomic>
#include <string>
#include <string_view>
#include <vector>

#include "engine/EngineState.h"
#include "engine/OverviewLine.h"
#include "net/Nntp.h"

namespace qm {

struct ScanRange {
    long mark = 0;   // m: articles after it are scanned
    long last = 0;   // L
    long count = 0;  // c: the estimated number of headers
};

class HeaderScan {
public:
    explicit HeaderScan(EngineState& engine) : engine_(engine) {}

    // Runs the scan for the current group from its read mark and the GROUP reply's numbers.
    // Returns false when the group ends early (no articles, XOVER refused): no read mark is then
    // written. On true, range holds the final m and L and the pending list is filled.
    bool Run(long readMark, long first, long last, long count, ScanRange& range);

    // Parses an overview line as this group's scan saw it: with the crosspost count and, when
    // asked for, the subject prefixed with it. The record is valid until the next Parse.
    OverviewRecord Parse(const std::string& line, long& crossposts) const;

    // The article's number in group from an Xref line (used when a HEAD reply by message-id
    // gives 0 as the number); 0 when the group is not named, -1 when the number does not fit.
    static long ArticleNumberFromXref(const std::string& xrefLine, const std::string& group);

private:
    bool ApplyAgeLimit(ScanRange& range);
    void ApplyHeaderLimits(ScanRange& range);
    void ReadOverviewFormat();
    bool ScanOverview(ScanRange& range);
    void JudgeLine(const std::string& line);
    void JudgePosts();
    long HeadArticleNumber(std::string_view messageId, bool& answered);
    std::vector<std::string> NewArticleIds(long limit);

    EngineState& engine_;
    bool xrefPresent_ = false;
    bool xrefFull_ = false;
    long groupCount_ = 0;                  // the GROUP reply's article count
    mutable std::string prefixedSubject_;  // the subject with its crosspost count in front
};

// printf-style formatting of the status texts, which carry one number and one name.
std::string FormatCountIn(const char* format, long count, const std::string& name);

}  // namespace qm
