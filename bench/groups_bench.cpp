// Many small groups in one run: each group's end moves its read mark, and the profile holding
// one mark per group grows with them. Prints the run time for 10,000 and 30,000 groups of one
// article each, against the scripted server.
//
//   groups_bench

#include <chrono>
#include <cstdio>
#include <string>

#include "engine/ProcessGroups.h"
#include "engine/SharedState.h"
#include "settings/ProfileStore.h"
#include "support/NntpFixtures.h"
#include "support/NullStatus.h"
#include "support/RecordingStatus.h"
#include "support/ScriptServer.h"
#include "support/TempDir.h"
#include "util/TextFiles.h"

namespace {

double RunGroups(int groups) {
    qm::test::ScriptServer server;
    server.On("GROUP ", qm::test::ScriptServer::TextResponder([](const std::string& c) {
                  return "211 1 1 1 " + c.substr(6) + "\r\n";
              }));
    server.On("LIST OVERVIEW.FMT", "215 fmt\r\nSubject:\r\n.\r\n");
    server.On("XOVER ",
              qm::test::MultiLineReply("224 overview",
                                       {qm::test::OverviewLine(1, "notes.txt", "f", "d", 10, 9)}));
    qm::test::TempDir dir;
    dir.Enter();
    qm::MakeDirectory(dir / "dl");
    qm::ProfileStore profile(dir / "p.ini");
    profile.WriteString("Quarrymoth", "NNTPHost", "127.0.0.1");
    profile.WriteString("Quarrymoth", "NNTPPort", std::to_string(server.port()));
    profile.WriteString("Quarrymoth", "DownloadDirectory", dir / "dl/");
    profile.WriteString("Quarrymoth", "SubjectIncl", "jpg");
    std::string list;
    for (int g = 0; g < groups; ++g)
        list += "alt.binaries.pictures.group" + std::to_string(g) + "\n";
    qm::test::TempDir::WriteFile("Groups.127.0.0.1", list);
    qm::test::NullStatus status;
    qm::test::ScriptedPrompt prompt;
    qm::SharedState shared;
    const auto start = std::chrono::steady_clock::now();
    {
        qm::CProcessGroups engine(profile, status, prompt, shared);
        engine.RunHere();
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    qm::ProfileStore reread(dir / "p.ini");
    const std::string last = "alt.binaries.pictures.group" + std::to_string(groups - 1);
    if (reread.GetInt("127.0.0.1", last, 0) != 1) std::printf("  (the last mark is missing!)\n");
    return seconds;
}

}  // namespace

int main() {
    std::printf("groups_bench: one run over many groups of one article each\n");
    for (int groups : {10000, 30000}) {
        std::printf("  %6d groups   %6.2f s\n", groups, RunGroups(groups));
    }
    return 0;
}
