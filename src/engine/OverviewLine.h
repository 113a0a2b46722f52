#pragma once
// One overview line of an XOVER reply, cut into the fields the engine uses. The line itself stays
// the pending list's record; this is the parse that every reader of that list shares.

#include <string>
#include <string_view>

#include "util/TextFiles.h"

namespace qm {

// The fields are views into the parsed line: the record lives no longer than the line.
struct OverviewRecord {
    std::string_view number;
    std::string_view subject;
    std::string_view sender;
    std::string_view date;
    long lines = 0;
    std::string_view afterLines;  // the Xref field and anything after it
    bool hasAfterLines = false;
};

// Cuts the line at its tabs: number, subject, sender, date, three skipped fields, lines, rest.
OverviewRecord ParseOverviewLine(std::string_view line);

// The lines field (the eighth) read as a decimal number from its leading digits.
long OverviewLineCount(std::string_view line);

// Crossposts from the text after the lines field: colons minus 2 when the overview format says
// the Xref field carries its header name ("full"), minus 1 otherwise.
long CrosspostCount(std::string_view afterLines, bool xrefFull);

}  // namespace qm
