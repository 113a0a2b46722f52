// Reply lines as the header scan reads them: overview lines, GROUP replies and Xref headers.

#include <fuzzer/FuzzedDataProvider.h>

#include <climits>

#include "FuzzSupport.h"
#include "engine/GroupSelection.h"
#include "engine/HeaderScan.h"

using namespace qm;
using namespace qm::fuzz;

namespace {

void CheckOverview(std::string_view line) {
    OverviewRecord r = ParseOverviewLine(line);
    std::vector<std::string_view> fields = Split(line, '\t');
    FUZZ_CHECK(r.number == fields[0]);
    FUZZ_CHECK(r.subject == (fields.size() > 1 ? fields[1] : ""));
    FUZZ_CHECK(r.date == (fields.size() > 3 ? fields[3] : ""));
    FUZZ_CHECK(r.lines == (fields.size() > 7 ? LeadingNumber(fields[7]) : 0));
    FUZZ_CHECK(r.lines == OverviewLineCount(line));
    FUZZ_CHECK(r.hasAfterLines == (fields.size() > 8));
    if (r.hasAfterLines) {
        FUZZ_CHECK(r.afterLines.data() == fields[8].data() && line.ends_with(r.afterLines));
        long colons = static_cast<long>(std::count(r.afterLines.begin(), r.afterLines.end(), ':'));
        FUZZ_CHECK(CrosspostCount(r.afterLines, true) == colons - 2);
    }
}

void CheckGroupReply(const std::string& line, FuzzedDataProvider& in) {
    std::vector<std::string_view> tokens = Split(line, ' ');
    GroupReply r = ParseGroupReply(line);
    FUZZ_CHECK(r.code == LeadingNumber(tokens[0]));
    // A number that does not fit makes the reply invalid; the others read by the integer rule.
    if (r.valid) {
        FUZZ_CHECK(r.count == (tokens.size() > 1 ? LeadingNumber(tokens[1]) : 0));
        FUZZ_CHECK(r.last == (tokens.size() > 3 ? LeadingNumber(tokens[3]) : 0));
    }
    // Numbers a server can send come back as they were sent.
    long count = in.ConsumeIntegralInRange<long>(0, LONG_MAX);
    long first = in.ConsumeIntegralInRange<long>(0, LONG_MAX);
    long last = in.ConsumeIntegralInRange<long>(0, LONG_MAX);
    GroupReply sent = ParseGroupReply("211 " + std::to_string(count) + " " + std::to_string(first) +
                                      " " + std::to_string(last) + " alt.pics\r\n");
    FUZZ_CHECK(sent.valid && sent.code == 211 && sent.count == count && sent.first == first &&
               sent.last == last);
}

void CheckXref(const std::string& line, FuzzedDataProvider& in) {
    FUZZ_CHECK(HeaderScan::ArticleNumberFromXref(line, "alt.pics") >= -1);  // -1: no valid number
    std::string group = std::string(Split(line, ' ')[0]);
    if (group.empty() || group.find_first_of("\t\r\n") != std::string::npos) group = "alt.pics";
    long number = in.ConsumeIntegralInRange<long>(0, LONG_MAX);
    std::string xref = "Xref: news.example.com " + group + ":" + std::to_string(number) + "\r\n";
    FUZZ_CHECK(HeaderScan::ArticleNumberFromXref(xref, group) == number);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string line(AsText(data, size));
    FuzzedDataProvider in(data, size);
    CheckOverview(line);
    CheckGroupReply(line, in);
    CheckXref(line, in);
    return 0;
}
