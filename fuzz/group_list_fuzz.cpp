// A group list file: the names read from it, their read marks through a profile reload, and the
// per-group save directories named after them.

#include <map>

#include "FuzzSupport.h"
#include "engine/GroupProcessor.h"
#include "groups/GroupListFile.h"
#include "util/TextFiles.h"

using namespace qm;
using namespace qm::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static ScratchDir scratch;
    const std::string& dir = scratch.Fresh();
    WriteFile(dir + "Groups.news.example.com", AsText(data, size));
    auto groups = ReadGroupListFile(dir + "Groups.news.example.com");
    FUZZ_CHECK(groups.has_value());

    WriteFile(dir + "p.ini", "[DownloadDirs]\nEnable=1\nUseGroupName=1\n");
    ProfileStore profile(dir + "p.ini");
    const std::string base = dir + "save/";
    std::map<std::string, std::pair<std::string, long>> marks;
    long mark = 0;
    for (const std::string& group : *groups) {
        FUZZ_CHECK(group.find('\n') == std::string::npos);
        FUZZ_CHECK(group.empty() ||
                   (std::string_view(" \t\r").find(group.front()) == std::string::npos &&
                    std::string_view(" \t\r").find(group.back()) == std::string::npos));
        auto save = GroupProcessor::DeriveSaveDirectory(profile, base, group);
        fs::path normal = fs::path(save.path).lexically_normal();
        FUZZ_CHECK(save.separate && save.path.ends_with('/'));
        // A group whose directory would lie outside the base is refused, never used.
        FUZZ_CHECK(!save.usable || normal.string().starts_with(base));
        // Keys are without regard to case: the last write of a name in any case counts.
        if (marks.size() < 16 && profile.WriteInt(EngineRig::kHost, group, ++mark)) {
            marks[Lowercase(group)] = {group, mark};
        }
    }
    ProfileStore reloaded(dir + "p.ini");
    for (const auto& [lower, written] : marks) {
        FUZZ_CHECK(reloaded.GetInt(EngineRig::kHost, written.first, -1) == written.second);
    }
    return 0;
}
