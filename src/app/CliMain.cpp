// quarrymoth-cli: runs one download run with the settings of the profile, in a terminal; or makes
// the content index anew from the pictures already saved.

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "app/AppPaths.h"
#include "app/TerminalStatus.h"
#include "engine/ContentIndexRebuild.h"
#include "engine/ProcessGroups.h"
#include "engine/RunLock.h"
#include "engine/SharedState.h"
#include "settings/DataFiles.h"
#include "settings/ProfileStore.h"
#include "settings/SettingsKeys.h"
#include "util/TextFiles.h"

namespace {

const char kUsage[] =
    "Usage: quarrymoth-cli run [--profile FILE] [--datadir DIR] [--yes] [--verbose]\n"
    "       quarrymoth-cli index [--profile FILE] [--datadir DIR] [DIR...]\n"
    "\n"
    "run performs one download run with the settings of the profile: walks the active groups\n"
    "of the configured news server and saves the pictures it finds.\n"
    "\n"
    "index makes the content index (which knows saved pictures by their content) anew from\n"
    "the pictures in the DIRs and their subdirectories, by default the download directory.\n"
    "It waits for no run: while one uses the data directory it refuses.\n"
    "\n"
    "  --profile FILE  use FILE as the profile instead of\n"
    "                  $XDG_CONFIG_HOME/quarrymoth/quarrymoth.ini\n"
    "  --datadir DIR   use DIR as the working directory (group lists, history, excludes)\n"
    "                  instead of $XDG_DATA_HOME/quarrymoth/\n"
    "  --yes           answer Yes to questions (without it, and without a terminal,\n"
    "                  questions are answered No)\n"
    "  --verbose       also show counters, rates and progress as they change\n"
    "  --help          show this text\n"
    "\n"
    "Ctrl-C asks the run to stop as the Stop button does; a second Ctrl-C ends at once.\n"
    "Exit status: 0 when the run ended with \"Operation complete\", 1 otherwise, 2 for a\n"
    "usage error.\n";

struct Options {
    bool index = false;  // the index command rather than run
    std::string profile;
    std::string dataDir;
    bool yes = false;
    bool verbose = false;
    std::vector<std::string> directories;  // of the index command
};

// 0: parsed, 1: help shown, 2: usage error.
int ParseOptions(int argc, char** argv, Options& options) {
    if (argc >= 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::fputs(kUsage, stdout);
        return 1;
    }
    if (argc < 2 || (std::strcmp(argv[1], "run") != 0 && std::strcmp(argv[1], "index") != 0))
        return 2;
    options.index = std::strcmp(argv[1], "index") == 0;
    for (int i = 2; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return 1;
        } else if (!options.index && (arg == "--yes" || arg == "-y")) {
            options.yes = true;
        } else if (!options.index && (arg == "--verbose" || arg == "-v")) {
            options.verbose = true;
        } else if ((arg == "--profile" || arg == "--datadir") && i + 1 < argc) {
            (arg == "--profile" ? options.profile : options.dataDir) = qm::AbsolutePath(argv[++i]);
        } else if (options.index && !arg.starts_with("-")) {
            options.directories.push_back(qm::AbsolutePath(arg));
        } else {
            return 2;
        }
    }
    return 0;
}

// Watches for Ctrl-C (and termination requests) while the run goes on. SIGUSR1 is its own wake-up
// call, so it ends the moment the run is over.
class InterruptWatcher {
public:
    explicit InterruptWatcher(qm::CProcessGroups& engine) : engine_(engine) {
        sigemptyset(&set_);
        sigaddset(&set_, SIGINT);
        sigaddset(&set_, SIGTERM);
        sigaddset(&set_, SIGUSR1);
        pthread_sigmask(SIG_BLOCK, &set_, nullptr);
    }
    void Start() {
        thread_ = std::thread([this] { Watch(); });
    }
    ~InterruptWatcher() {
        done_ = true;
        if (thread_.joinable()) {
            pthread_kill(thread_.native_handle(), SIGUSR1);
            thread_.join();
        }
    }

private:
    void Watch() {
        int count = 0;
        while (!done_) {
            int signal = 0;
            if (sigwait(&set_, &signal) != 0 || signal == SIGUSR1) continue;
            if (++count == 1) {
                engine_.RequestStop();
            } else {
                _exit(1);
            }
        }
    }

    qm::CProcessGroups& engine_;
    sigset_t set_{};
    std::thread thread_;
    std::atomic<bool> done_{false};
};

int Run(const Options& options) {
    const qm::AppFiles files = qm::ChooseAppFiles(options.profile, options.dataDir);
    const std::string& profilePath = files.profile;
    const std::string& dataDir = files.dataDir;
    qm::ProfileStore profile;
    if (!profile.Load(profilePath)) {
        std::fprintf(stdout, "Quarrymoth: cannot read the profile %s: %s\n", profilePath.c_str(),
                     std::strerror(errno));
    }
    if (!qm::EnterDataDirectory(dataDir)) {
        std::fprintf(stdout, "Quarrymoth: cannot use the working directory %s: %s\n",
                     dataDir.c_str(), std::strerror(errno));
        return 1;
    }
    if (qm::kNNTPHost.Read(profile).empty()) {
        std::fputs("Quarrymoth: No news server specified\n\nPlease choose 'Setup'\n", stdout);
        return 1;
    }
    qm::SharedState shared;
    qm::TerminalStatus terminal(stdout, shared, options.verbose);
    qm::StatusModel status(shared, terminal);
    qm::TerminalPrompt prompt(stdout, options.yes);
    qm::CProcessGroups engine(profile, status, prompt, shared);
    InterruptWatcher watcher(engine);
    engine.Start(static_cast<int>(qm::kPriority.Read(profile)));
    watcher.Start();
    engine.Join();
    terminal.PrintSummary(status);
    return status.LastStatus() == "Operation complete" ? 0 : 1;
}

// Rebuilds the content index in the data directory, holding the run lock throughout so that no
// run appends to the index while it is replaced.
int Index(const Options& options) {
    const qm::AppFiles files = qm::ChooseAppFiles(options.profile, options.dataDir);
    qm::ProfileStore profile;
    profile.Load(files.profile);
    if (!qm::EnterDataDirectory(files.dataDir)) {
        std::fprintf(stdout, "Quarrymoth: cannot use the working directory %s: %s\n",
                     files.dataDir.c_str(), std::strerror(errno));
        return 1;
    }
    std::vector<std::string> dirs = options.directories;
    if (dirs.empty()) dirs.push_back(qm::kDownloadDirectory.Read(profile));
    qm::RunLock lock;
    std::string error;
    if (!lock.Acquire({qm::CurrentDirectory(), files.profile}, error)) {
        std::fprintf(stdout, "Quarrymoth: %s\n", error.c_str());
        return 1;
    }
    const std::atomic<bool> never{false};
    const qm::ContentIndexRebuild::Result result = qm::ContentIndexRebuild::Run(
        dirs, qm::kContentIndexFile, qm::kMaxHist.Read(profile), {}, never);
    if (!result.written) {
        std::fprintf(stdout, "Quarrymoth: cannot write %s: %s\n", qm::kContentIndexFile,
                     std::strerror(result.err));
        return 1;
    }
    std::fprintf(stdout, "Indexed %zu pictures\n", result.pictures);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    switch (ParseOptions(argc, argv, options)) {
        case 1:
            return 0;
        case 2:
            std::fputs(kUsage, stderr);
            return 2;
        default:
            break;
    }
    return options.index ? Index(options) : Run(options);
}
