// The server's group list at the size of a real server: 100,000 groups in the private INN
// instance, fetched with LIST through the group filter and handed over one name at a time with
// its acknowledgement, then written as the two list files. Prints the times.
//
//   groups_list_bench [GROUPS]

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "groups/GroupListFile.h"
#include "groups/GroupListWorker.h"
#include "settings/SettingsKeys.h"
#include "support/InnServer.h"
#include "support/RecordingStatus.h"
#include "support/TempDir.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

// Creating a group through the server's control channel takes a moment each; for a listing
// the groups need only be in the active file, which the readers read afresh for every LIST.
bool AddGroups(const qm::test::InnServer& server, int count) {
    std::ofstream active(server.stateDir() + "/db/active", std::ios::app);
    char line[96];
    for (int i = 0; i < count; ++i) {
        std::snprintf(line, sizeof line,
                      "alt.binaries.pictures.bench.g%06d 0000000000 0000000001 y\n", i);
        active << line;
    }
    return static_cast<bool>(active.flush());
}

class Collector : public qm::GroupListSink {
public:
    qm::GroupListWorker* worker = nullptr;
    std::vector<std::string> names;
    std::string status;
    void ListStatus(std::string text) override { status = std::move(text); }
    void ListCleared() override {}
    void ListGroup(std::string name) override {
        names.push_back(std::move(name));
        worker->Acknowledge();
    }
    void ListSelectFirst() override {}
    void ListDone() override {}
};

}  // namespace

int main(int argc, char** argv) {
    const int groups = argc > 1 ? std::atoi(argv[1]) : 100000;
    qm::test::InnServer server;
    if (!server.Start()) {
        std::fprintf(stderr, "INN: %s\n", server.error().c_str());
        return 1;
    }
    auto start = Clock::now();
    if (!AddGroups(server, groups)) return 1;
    std::printf("%d groups added to the active file in %.2f s\n", groups, Seconds(start));

    qm::test::TempDir dir;
    dir.Enter();
    qm::ProfileStore profile(dir / "p.ini");
    profile.WriteString(qm::kMainSection, "NNTPHost", "127.0.0.1");
    profile.WriteString(qm::kMainSection, "NNTPPort", std::to_string(server.port()));
    qm::test::ScriptedPrompt prompt;
    Collector sink;
    qm::GroupListWorker worker(profile, prompt, sink);
    sink.worker = &worker;

    start = Clock::now();
    worker.Start({""});
    worker.Join();
    std::printf("LIST with the hand-over: %zu names in %.2f s (%s)\n", sink.names.size(),
                Seconds(start), sink.status.c_str());

    start = Clock::now();
    bool written = qm::WriteListLines(qm::AllGroupFileName("127.0.0.1"), sink.names) &&
                   qm::WriteListLines(qm::ActiveGroupFileName("127.0.0.1"),
                                      {sink.names.begin(), sink.names.begin() + 50});
    std::printf("both list files written in %.3f s%s\n", Seconds(start),
                written ? "" : " (FAILED)");
    start = Clock::now();
    std::vector<std::string> back = qm::ReadListLines(qm::AllGroupFileName("127.0.0.1"));
    std::printf("all-groups file read back: %zu names in %.3f s\n", back.size(), Seconds(start));
    return written && back.size() == sink.names.size() ? 0 : 1;
}
