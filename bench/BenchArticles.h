#pragma once
// The picture articles the server benchmarks post to the INN test instance: random bytes,
// uuencoded as single-part pictures named PREFIX_00001.jpg on, and a prompt that says Yes.

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include <unistd.h>

#include <filesystem>

#include "BenchSupport.h"
#include "engine/EngineStatus.h"
#include "engine/ProcessGroups.h"
#include "engine/SharedState.h"
#include "net/UserPrompt.h"
#include "settings/ProfileStore.h"
#include "settings/SettingsKeys.h"
#include "support/InnServer.h"
#include "support/NewsModel.h"
#include "util/TextFiles.h"

namespace qm::bench {

inline std::string RandomBytes(Random& random, size_t size) {
    std::string data(size, '\0');
    for (size_t i = 0; i < size; i += 8) {
        std::uint64_t v = random.Next();
        for (size_t k = 0; k < 8 && i + k < size; ++k)
            data[i + k] = static_cast<char>(v >> (8 * k));
    }
    return data;
}

// "PREFIX_00001.jpg" for index 0.
inline std::string PictureName(const std::string& prefix, long index) {
    char number[32];
    std::snprintf(number, sizeof number, "_%05ld.jpg", index + 1);
    return prefix + number;
}

inline std::string PictureArticle(Random& random, const std::string& group, const std::string& name,
                                  size_t bytes) {
    return "From: Bench Poster <bench@quarrymoth.invalid>\nNewsgroups: " + group +
           "\nSubject: " + name + " (1/1)\nMessage-ID: <" + name + "." +
           std::to_string(random.Next() % 1000000007) + "@bench.quarrymoth.invalid>\n\n" +
           test::UuencodeBody(RandomBytes(random, bytes), name);
}

// Posts count pictures of bytes each to group, a hundred at a time (so memory stays small), and
// waits until the server lists them all.
inline bool PostPictures(test::InnServer& server, const std::string& group,
                         const std::string& prefix, long count, size_t bytes, std::uint64_t seed) {
    constexpr long kBatch = 100;
    Random random(seed);
    for (long first = 0; first < count; first += kBatch) {
        std::vector<std::string> batch;
        for (long i = first; i < std::min(count, first + kBatch); ++i) {
            batch.push_back(PictureArticle(random, group, PictureName(prefix, i), bytes));
        }
        if (!server.PostAll(batch)) return false;
    }
    return server.WaitForArticles(group, count, std::chrono::seconds(120));
}

// Answers every question Yes (a missing download directory is made).
class YesPrompt : public UserPrompt {
public:
    void ShowMessage(const std::string&) override {}
    bool AskYesNo(const std::string&) override { return true; }
    bool AskPassword(std::string&) override { return false; }
};

// One whole engine run over group on the server at port, from a fresh profile (no read marks) in
// a fresh directory; extra settings are added to the profile. before, when given, is called just
// before the engine starts; the run's connections have the given timeouts. Returns the seconds
// the run took, or -1 with error set.
inline double HarvestFresh(int port, const std::string& group,
                           const std::vector<ProfileStore::Change>& extra, EngineStatus& status,
                           UserPrompt& prompt, std::string& error,
                           const std::function<void()>& before = {},
                           const CLineSocket::Timeouts& timeouts = {}) {
    constexpr const char* kHost = "127.0.0.1";
    WorkDir dir("/tmp/qm-bench-harvest-");
    const std::string pictures = dir.path() + "/pictures/";
    std::filesystem::create_directories(pictures);
    if (!ReplaceFileAtomically(dir.path() + "/Groups." + kHost, group + "\n") ||
        ::chdir(dir.path().c_str()) != 0) {
        error = "cannot prepare " + dir.path();
        return -1;
    }
    ProfileStore profile(dir.path() + "/quarrymoth.ini");
    std::vector<ProfileStore::Change> changes{
        kNNTPHost.Change(kHost), kNNTPPort.Change(std::to_string(port)),
        kDownloadDirectory.Change(pictures), kMinLines.Change(1), kMaxLines.Change(1000000)};
    changes.insert(changes.end(), extra.begin(), extra.end());
    profile.Apply(changes);
    SharedState shared;
    if (before) before();
    const auto start = Clock::now();
    {
        CProcessGroups engine(profile, status, prompt, shared);
        engine.SetSocketTimeouts(timeouts);
        engine.RunHere();
    }
    const double seconds = SecondsSince(start);
    if (::chdir("/") != 0) error = "chdir failed";
    return seconds;
}

}  // namespace qm::bench
