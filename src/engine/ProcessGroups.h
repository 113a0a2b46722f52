#pragma once
// CProcessGroups: one download run on its own thread. It checks the active group file and the
// download directory, connects, walks the active groups pass by pass, and always ends by telling
// the status interface that it has finished.

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "engine/EngineState.h"
#include "engine/RunLock.h"

namespace qm {

class CProcessGroups {
public:
    CProcessGroups(ProfileStore& profile, EngineStatus& status, UserPrompt& prompt,
                   SharedState& shared);
    ~CProcessGroups();  // waits for the run to end
    CProcessGroups(const CProcessGroups&) = delete;
    CProcessGroups& operator=(const CProcessGroups&) = delete;

    // Starts the run on a new thread at priority 1 (low) to 5 (high).
    void Start(int priority = 3);
    // Runs the whole run on the calling thread (the command-line runner and tests may).
    void RunHere();
    void Join();

    void RequestStop();
    void SetCatchUp(int value);
    // The timeouts of the run's connections; before Start.
    void SetSocketTimeouts(const CLineSocket::Timeouts& timeouts) {
        engine_.socketTimeouts = timeouts;
    }
    // The keyring the run reads a password kept there from (the desktop's unless tests hand in
    // their own); before Start.
    void UseKeyring(PasswordKeyring& keyring) { engine_.keyring.Use(keyring); }
    // Whether pictures are compared by content with those saved before; before Start. Always on
    // but for the benchmark that measures what the comparison costs.
    void SetContentChecks(bool on) { engine_.contentChecks = on; }
    void Pause();
    void Resume();
    bool Paused() const;
    // Changes the engine thread's priority, also while it runs. 0, or the system's errno when it
    // refused (an unprivileged user may lower the priority but not raise it again): the thread
    // then keeps the level it runs at.
    int SetPriority(int level);
    int Priority() const { return priority_; }  // the level the thread runs at

    // The nice value for a priority level 1..5.
    static int NiceForPriority(int level);

private:
    void InitInstance();
    void ExitInstance();
    void TakeSnapshot();
    void ResetWindow();
    void MainSequence();
    bool LockFiles();
    void Recover();
    bool ReadGroupFile();
    bool CheckDownloadDirectory();
    bool DirectoryWritable();
    bool Connect();
    void PassLoop();
    bool RunPass(long groupCount);  // false when the run must end at once
    void EndRun(bool showFinalStatus);
    int ApplyPriority(int level);
    std::string GroupFileName() const;
    void LoadContentIndex();
    void OpenPartStore();
    void TidyPartStore(class ArticleRetriever& retriever);
    void FinishLeftover(class ArticleRetriever& retriever, const std::string& key);
    void ReportWaitingPosts();

    EngineState engine_;
    std::unique_ptr<class HistoryList> history_;
    std::unique_ptr<class ContentIndex> contentIndex_;
    std::unique_ptr<class ArticleSelector> selector_;
    std::unique_ptr<class PartStore> partStore_;
    std::unique_ptr<class MultiPartPosts> posts_;
    bool partStoreTidied_ = false;
    std::vector<std::string> groups_;
    RunLock lock_;
    std::thread thread_;
    std::atomic<int> priority_{3};
    std::atomic<int> tid_{0};
};

}  // namespace qm
