#pragma once
// Everything one engine run needs in a test: a temporary working directory with a profile, an
// active group file and a download directory, a scripted server with a news model (or a real
// server on a given port), and the recording status and prompt.

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "engine/ProcessGroups.h"
#include "engine/SharedState.h"
#include "settings/ProfileStore.h"
#include "support/NewsModel.h"
#include "support/RecordingStatus.h"
#include "support/ScriptServer.h"
#include "support/TempDir.h"

namespace qm::test {

class EngineHarness {
public:
    static constexpr const char* kHost = "127.0.0.1";

    EngineHarness();
    // Points the profile at a news server already listening on 127.0.0.1:port (a real one); the
    // scripted server and its model then stay idle.
    explicit EngineHarness(int port);

    void SetGroups(const std::vector<std::string>& groups);
    void Set(const std::string& key, const std::string& value);        // main section
    void SetServer(const std::string& key, const std::string& value);  // host section
    long ReadMark(const std::string& group) const;
    std::string DownloadDir() const { return dir / "dl/"; }

    // Runs one whole run on the engine thread and waits for it to end.
    void Run();
    // Starts a run; the caller controls it through engine() and calls Wait().
    void Start();
    void Wait();
    CProcessGroups& engine() { return *engine_; }
    // For the server's thread: act on the run in progress.
    void RequestStop();
    void CatchUp();
    void Pause();
    void Resume();

    std::vector<std::string> Commands() const { return server.Received(); }
    int CountCommands(const std::string& prefix) const;
    std::string FinalStatus() const { return status.Last("status"); }
    std::vector<std::string> SavedFiles() const;  // names in the download dir, sorted

    // The run's connection timeouts, applied at Start.
    CLineSocket::Timeouts socketTimeouts;
    // The keyring the run reads passwords from, applied at Start (none: the desktop's).
    PasswordKeyring* keyring = nullptr;
    TempDir dir;
    ProfileStore profile;
    RecordingStatus status;
    ScriptedPrompt prompt;
    SharedState shared;
    NewsModel model;  // before the server: it answers from the model until it is stopped
    ScriptServer server;

private:
    std::unique_ptr<CProcessGroups> engine_;
    std::atomic<CProcessGroups*> running_{nullptr};
};

}  // namespace qm::test
