#include "engine/OverviewLine.h"

namespace qm {
namespace {

// Takes the text up to the next tab and moves past it; the rest of the line when there is none.
std::string_view CutField(std::string_view& rest, bool& hadTab) {
    size_t tab = rest.find('\t');
    hadTab = tab != std::string_view::npos;
    std::string_view field = rest.substr(0, hadTab ? tab : rest.size());
    rest.remove_prefix(hadTab ? tab + 1 : rest.size());
    return field;
}

}  // namespace

OverviewRecord ParseOverviewLine(std::string_view line) {
    OverviewRecord r;
    std::string_view rest = line;
    bool tab = false;
    r.number = CutField(rest, tab);
    r.subject = CutField(rest, tab);
    r.sender = CutField(rest, tab);
    r.date = CutField(rest, tab);
    for (int skipped = 0; skipped < 3; ++skipped) CutField(rest, tab);
    r.lines = LeadingNumber(CutField(rest, tab));
    r.hasAfterLines = tab;
    r.afterLines = rest;
    return r;
}

long OverviewLineCount(std::string_view line) {
    std::string_view rest = line;
    bool tab = false;
    for (int field = 0; field < 7; ++field) CutField(rest, tab);
    return LeadingNumber(CutField(rest, tab));
}

long CrosspostCount(std::string_view afterLines, bool xrefFull) {
    long colons = 0;
    for (char c : afterLines) colons += c == ':';
    return colons - (xrefFull ? 2 : 1);
}

}  // namespace qm
