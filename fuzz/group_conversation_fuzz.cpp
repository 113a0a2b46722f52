// A whole group's conversation: GROUP, NEWNEWS and HEAD, LIST OVERVIEW.FMT, XOVER and ARTICLE.
// The first input byte switches settings on (bits below); the rest is everything the server sends.

#include <limits>

#include "FuzzSupport.h"
#include "engine/ArticleRetrieval.h"
#include "engine/GroupProcessor.h"
#include "util/TextFiles.h"

using namespace qm;
using namespace qm::fuzz;

namespace {

constexpr long kStoredMark = 5;

std::string Settings(uint8_t bits) {
    std::string s;
    if (bits & 1) s += "UseMaxDays=1\nMaxDays=30\n";  // NEWNEWS and HEAD narrow the range
    if (bits & 2) s += "LimitCrossposts=1\nCrosspostLimit=2\nShowXP=1\n";
    if (bits & 4) s += "UseMaxCount=1\nMaxCount=2\n";
    if (bits & 8) s += "UseMaxHeaderCount=1\nMaxHeaderCount=3\n";
    if (bits & 16) s += "HistSaveFrequency=1\n";
    if (bits & 64) s += "PipelineDepth=1\n";  // one command at a time instead of four ahead
    if (bits & 32) s += "[DownloadDirs]\nEnable=1\nUseGroupName=1\n";
    if (bits & 128) {  // the group was handled up to a read mark by an earlier run
        s += "[" + std::string(EngineRig::kHost) + "]\n" + EngineRig::kGroup + "=" +
             std::to_string(kStoredMark) + "\n";
    }
    return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static ScratchDir scratch;
    if (size == 0) return 0;
    const std::string& root = scratch.Fresh();
    EngineRig rig(root, Settings(data[0]));
    ScriptedPeer server(AsText(data + 1, size - 1));
    rig.Connect(server);
    ArticleRetriever retriever(rig.engine);
    rig.InDataDirectory([&] { GroupProcessor(rig.engine, retriever).Process(EngineRig::kGroup); });
    rig.engine.session.Close();

    std::string sent = server.Received();
    size_t articles = 0;
    long previous = std::numeric_limits<long>::min();  // a scan may start below article 1
    // Nothing at or below a stored read mark is scanned or fetched again: an age limit or a
    // header count only narrows the range.
    const long handled = (data[0] & 128) != 0 ? kStoredMark : previous;
    for (std::string_view line : Lines(sent)) {
        FUZZ_CHECK(IsCommandLine(line));
        if (line.starts_with("XOVER ")) FUZZ_CHECK(StrictLeadingNumber(line.substr(6)) > handled);
        if (!line.starts_with("ARTICLE ")) continue;
        ++articles;
        // Sent ahead or not, each article is asked for once, in the order of the scan.
        const long number = StrictLeadingNumber(line.substr(8));
        FUZZ_CHECK(number > previous && number > handled);
        previous = number;
    }
    rig.CheckFiles(articles);
    // The read mark reaches the file as the engine left it.
    FUZZ_CHECK(rig.profile.Flush());
    ProfileStore reloaded(rig.data + "quarrymoth.ini");
    FUZZ_CHECK(reloaded.GetInt(EngineRig::kHost, EngineRig::kGroup, -1) ==
               rig.profile.GetInt(EngineRig::kHost, EngineRig::kGroup, -1));
    return 0;
}
