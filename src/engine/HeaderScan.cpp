#include "engine/HeaderScan.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <vector>

#include "engine/ArticleSelector.h"
#include "engine/HistoryList.h"
#include "engine/OverviewLine.h"
#include "settings/SettingsKeys.h"
#include "util/TextFiles.h"

namespace qm {

std::string FormatCountIn(const char* format, long count, const std::string& name) {
    std::string text = format;
    size_t d = text.find("%d");
    if (d != std::string::npos) text.replace(d, 2, std::to_string(count));
    size_t s = text.find("%s");
    if (s != std::string::npos) text.replace(s, 2, name);
    return text;
}

bool HeaderScan::Run(long readMark, long first, long last, long count, ScanRange& range) {
    range = ScanRange{readMark, last, count};
    groupCount_ = count;
    // A group never processed (no mark) or marked below its first article starts with that
    // article itself. A mark of 1 is what handling article 1 leaves, so it is taken as such.
    // (Articles are numbered from 1, so a mark of 0 is the lowest there is.)
    if (range.mark < first) range.mark = first > 0 ? first - 1 : 0;
    if (range.last - range.mark < range.count) range.count = range.last - range.mark;
    const std::string& group = engine_.currentGroup;
    if (range.count <= 0) {
        engine_.status.SetStatusText(FormatCountIn("No articles found in %s", 0, group));
        return false;
    }
    // A refused login ends the group before its next command.
    if (engine_.groupSettings.useMaxDays) ApplyAgeLimit(range);
    if (engine_.session.LoginFailed()) return false;
    ApplyHeaderLimits(range);
    ReadOverviewFormat();
    if (engine_.session.LoginFailed()) return false;
    return ScanOverview(range);
}

namespace {

std::string FormatTime(std::time_t t, const char* format, bool utc) {
    std::tm tm{};
    if (utc) {
        gmtime_r(&t, &tm);
    } else {
        localtime_r(&t, &tm);
    }
    char buf[64];
    size_t n = std::strftime(buf, sizeof buf, format, &tm);
    return std::string(buf, n);
}

}  // namespace

// The message-ids of a NEWNEWS reply, at most limit of them: a server cannot have more new
// articles than the group holds, so a longer list is not kept.
std::vector<std::string> HeaderScan::NewArticleIds(long limit) {
    std::vector<std::string> ids;
    ReadMultiLine(engine_.session.Socket(), engine_.stop, [&](const std::string& line) {
        std::string_view id = WithoutLineEnd(line);
        if (static_cast<long>(ids.size()) < limit && ValidMessageId(id)) ids.emplace_back(id);
    });
    return ids;
}

bool HeaderScan::ApplyAgeLimit(ScanRange& range) {
    NewsSession& session = engine_.session;
    // A limit before the epoch is no limit: MaxDays may be any number the user typed.
    const std::time_t now = std::time(nullptr);
    const long days = LeadingNumber(engine_.groupSettings.maxDays);
    const std::time_t limit =
        days >= now / 86400 ? 0 : now - static_cast<std::time_t>(days) * 86400;
    engine_.status.SetStatusText("Requesting new headers since: " +
                                 FormatTime(limit, "%d %b %Y %H:%M", false));
    std::string reply;
    if (!session.Request("NEWNEWS " + engine_.currentGroup + " " +
                             FormatTime(limit, "%y%m%d %H%M%S", true) + " GMT\r\n",
                         reply))
        return false;
    std::vector<std::string> ids;
    if (ReplyCode(reply) == 230) ids = NewArticleIds(groupCount_);
    size_t next = 0;
    bool any221 = false;
    long number = 0;
    while (next < ids.size() && session.Connected() && !engine_.stop && !session.LoginFailed()) {
        bool answered = false;
        long n = HeadArticleNumber(ids[next++], answered);
        if (!answered) continue;
        any221 = true;
        number = n;
        if (number > 0) break;
    }
    // The age limit only narrows the range: what lies at or below the read mark was handled by an
    // earlier run, and the history keeps a picture from being saved again only when its name is
    // in its subject.
    if (!any221 || number - 1 < range.mark) return false;
    range.mark = number - 1;
    range.count = static_cast<long>(ids.size() - next);
    return true;
}

long HeaderScan::HeadArticleNumber(std::string_view messageId, bool& answered) {
    NewsSession& session = engine_.session;
    std::string reply;
    answered = session.Request("HEAD " + std::string(messageId) + "\r\n", reply) &&
               ReplyCode(reply) == 221;
    if (!answered) return 0;
    long number = reply.size() > 4 ? StrictLeadingNumber(reply.substr(4)) : 0;
    long fromXref = 0;
    ReadMultiLine(session.Socket(), engine_.stop, [&](const std::string& line) {
        if (fromXref == 0 && StartsWithNoCase(line, "xref:")) {
            fromXref = ArticleNumberFromXref(line, engine_.currentGroup);
        }
    });
    return number > 0 ? number : std::max(fromXref, 0L);
}

long HeaderScan::ArticleNumberFromXref(const std::string& xrefLine, const std::string& group) {
    std::string_view text = WithoutLineEnd(xrefLine);
    std::string needle = group + ":";
    size_t pos = 0;
    while ((pos = text.find(needle, pos)) != std::string::npos) {
        bool startsWord = pos > 0 && (text[pos - 1] == ' ' || text[pos - 1] == '\t');
        if (startsWord) return StrictLeadingNumber(text.substr(pos + needle.size()));
        pos += needle.size();
    }
    return 0;
}

void HeaderScan::ApplyHeaderLimits(ScanRange& range) {
    const GroupSettings& s = engine_.groupSettings;
    if (s.useMaxHeaderCount) {
        long max = s.maxHeaderCount;
        if (max < range.count) {
            range.mark = range.last - max;
            range.count = max;
        }
    } else if (s.useFirstHeaderCount) {
        long firstCount = s.firstHeaderCount;
        if (firstCount < range.last - range.mark) {
            range.last = range.mark + firstCount;
            range.count = firstCount;
        }
    }
}

void HeaderScan::ReadOverviewFormat() {
    xrefPresent_ = false;
    xrefFull_ = false;
    NewsSession& session = engine_.session;
    std::string reply;
    if (!session.Request("LIST OVERVIEW.FMT\r\n", reply) || ReplyCode(reply) != 215) return;
    ReadMultiLine(session.Socket(), engine_.stop, [&](const std::string& line) {
        std::string lower = Lowercase(line);
        if (lower.compare(0, 5, "xref:") == 0) {
            xrefPresent_ = true;
            if (lower.find("full") != std::string::npos) xrefFull_ = true;
        }
    });
}

bool HeaderScan::ScanOverview(ScanRange& range) {
    std::string reply;
    if (!engine_.session.Request(
            "XOVER " + std::to_string(range.mark + 1) + "-" + std::to_string(range.last) + "\r\n",
            reply) ||
        ReplyCode(reply) != 224)
        return false;
    CLineSocket& socket = engine_.session.Socket();
    engine_.selector->RefreshHistory(*engine_.history);
    if (engine_.posts != nullptr) engine_.posts->BeginScan();
    const std::string& group = engine_.currentGroup;
    engine_.status.SetStatusText(
        FormatCountIn("Retrieving up to %d headers in %s", range.count, group));
    long scanned = 0;
    long previous = range.mark;
    std::string line;
    for (;;) {
        if (!socket.ReadLine(line)) {
            engine_.NoteConnectionLost();
            // Where a reconnect follows, the group is scanned again from its read mark.
            if (!engine_.stop) return false;
            break;
        }
        if (line == ".\r\n") break;
        if (engine_.catchUp) range.mark = range.last;
        if (engine_.stop) {
            socket.AbandonForStop();  // the rest of the reply would answer the next command
            break;
        }
        // Only lines of the range asked for, each article once and in order: anything else a
        // server sends is not an article of this scan, and keeping it would let the server
        // grow the pending list without end.
        const long number = StrictLeadingNumber(line);
        if (number <= previous || number > range.last) continue;
        previous = number;
        JudgeLine(line);
        if (++scanned % 10 == 0) engine_.status.SetScanProgress(scanned, range.count);
    }
    if (engine_.posts != nullptr) JudgePosts();
    engine_.pass.headersScanned += scanned;
    engine_.status.SetArticlesScanned(engine_.pass.headersScanned);
    long maxCount = engine_.groupSettings.maxCount;
    size_t pending = engine_.shared.PendingCount();
    if (engine_.groupSettings.useMaxCount && maxCount >= 1 &&
        static_cast<size_t>(maxCount) < pending) {
        engine_.shared.TrimPendingFront(static_cast<size_t>(maxCount));
        pending = static_cast<size_t>(maxCount);
    }
    if (pending > 0) {
        engine_.status.SetStatusText(
            FormatCountIn("Retrieving %d files from %s", static_cast<long>(pending), group));
    } else {
        engine_.status.SetStatusText(FormatCountIn("No articles found in %s", 0, group));
    }
    engine_.status.SetScanProgress(0, 0);
    return true;
}

OverviewRecord HeaderScan::Parse(const std::string& line, long& crossposts) const {
    const EngineSettings& s = engine_.settings;
    OverviewRecord record = ParseOverviewLine(line);
    crossposts = 0;
    if (s.limitCrossposts && xrefPresent_) {
        crossposts = CrosspostCount(record.afterLines, xrefFull_);
        if (s.showXP) {
            prefixedSubject_.assign("[").append(std::to_string(crossposts)).append("] ");
            prefixedSubject_.append(record.subject);
            record.subject = prefixedSubject_;
        }
    }
    return record;
}

void HeaderScan::JudgeLine(const std::string& line) {
    long crossposts = 0;
    OverviewRecord record = Parse(line, crossposts);
    if (engine_.settings.limitCrossposts && crossposts > engine_.settings.crosspostLimit) return;
    MultiPartPosts* posts = engine_.posts;
    if (posts != nullptr) {
        // A part waits for the judgement of its post, made once the scan has listed them all.
        const OverviewRecord posted = ParseOverviewLine(line);
        if (std::optional<PartRef> part = PartOf(posted.subject, posted.sender)) {
            posts->AddPart(line, *part, posted.sender, record.lines);
            return;
        }
    }
    if (!engine_.selector->Select(record.number, record.subject, record.sender, record.lines,
                                  record.date)) {
        return;
    }
    if (posts != nullptr) {
        posts->AddSingle(line);  // keeps its place among the parts
    } else {
        engine_.shared.AppendPending(line);
    }
}

// Each post the scan listed is judged once, as a single article is but on its subject without
// the part counter and on the lines of all its parts; the chosen lines go on the pending list in
// the order they were listed.
void HeaderScan::JudgePosts() {
    ArticleSelector& selector = *engine_.selector;
    const std::vector<std::string> chosen = engine_.posts->FinishScan(
        [&](const PostListing& post) {
            return selector.SelectPost(post.subject, post.from, post.totalLines);
        },
        [&](const PostListing&) { selector.CountHistorySkipped(); });
    for (const std::string& line : chosen) engine_.shared.AppendPending(line);
}

}  // namespace qm
