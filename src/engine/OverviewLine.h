#pragma once
// One overview line of an XOVER reply, cut into the fields the engine uses. The line itself stays
// the pending list's record; this is the parse that every reader of that list shares.

#include <string>
#include <string_view>

#include "settings/TextFiles.h"

namespace qm {

struct OverviewRecord {
    std::string number;
    std::string subject;
    std::string sender;
    std::string date;
    long lines = 0;
    std::string_view afterLines;  // the Xref field and anything after it (a view into the line)
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
