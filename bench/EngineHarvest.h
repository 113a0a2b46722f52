#pragma once
// One full engine run over a bench group, for the benchmarks that compare how the engine fetches:
// its own profile, history, log and pictures in a fresh directory, and the figures of the run.

#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>

#include "BenchArticles.h"
#include "BenchSupport.h"
#include "PipelinedFetcher.h"
#include "engine/ProcessGroups.h"
#include "engine/SharedState.h"
#include "settings/ProfileStore.h"
#include "support/NullStatus.h"
#include "util/TextFiles.h"

namespace qm::bench {

// Shows nothing; keeps what the figures need: when the retrieval loop ran, the pictures saved,
// the bytes read and the final status.
class CountingStatus : public qm::test::NullStatus {
public:
    void SetStatusText(const std::string& text) override {
        std::lock_guard lock(mutex);  // also from the threads opening further connections
        lastStatus = text;
    }
    void SetBytesTransferred(std::int64_t total) override { bytes = total; }
    void LoadThumbnail(const std::string&) override { ++saved; }
    void EnablePending(bool enable) override {
        (enable ? retrievalStart : retrievalEnd) = Clock::now();
    }

    std::mutex mutex;
    std::string lastStatus;
    long saved = 0;
    std::int64_t bytes = 0;
    Clock::time_point retrievalStart{}, retrievalEnd{};
};

struct HarvestResult {
    Rate retrieval;      // the retrieval loop alone
    double seconds = 0;  // the whole run: connect, group, overview scan, retrieval
    std::string status;
};

// Harvests group from 127.0.0.1:port over connections connections at pipeline depth depth, in
// the fresh directory dir; articles is how many pictures make the run a success.
inline HarvestResult HarvestGroup(int port, const std::string& group, long connections, long depth,
                                  const std::string& dir, long articles) {
    constexpr const char* kHost = "127.0.0.1";
    HarvestResult result;
    const std::string pictures = dir + "/pictures/";
    const std::string profilePath = dir + "/quarrymoth.ini";
    qm::MakeDirectories(pictures);
    const std::string text =
        RealisticProfile(kHost, port, pictures, dir + "/DownloadLog", false, 5, 150);
    if (!qm::ReplaceFileAtomically(profilePath, text) ||
        !qm::ReplaceFileAtomically(dir + "/Groups." + kHost, group + "\n") ||
        ::chdir(dir.c_str()) != 0) {
        result.status = "cannot prepare " + dir;
        return result;
    }
    qm::ProfileStore profile;
    profile.Load(profilePath);
    profile.WriteInt("Quarrymoth", "PipelineDepth", depth);
    profile.WriteInt(kHost, "Connections", connections);
    CountingStatus status;
    YesPrompt prompt;
    qm::SharedState shared;
    const auto start = Clock::now();
    {
        qm::CProcessGroups engine(profile, status, prompt, shared);
        engine.RunHere();
    }
    result.seconds = SecondsSince(start);
    if (::chdir("/") != 0) return result;
    result.status = status.lastStatus;
    result.retrieval.articles = status.saved;
    result.retrieval.bytes = status.bytes;
    result.retrieval.seconds =
        std::chrono::duration<double>(status.retrievalEnd - status.retrievalStart).count();
    result.retrieval.ok = status.saved == articles && status.lastStatus == "Operation complete";
    return result;
}

}  // namespace qm::bench
