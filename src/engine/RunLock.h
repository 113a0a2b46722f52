#pragma once
// Keeps a second run off the files of a run in progress: an exclusive lock on a lock file (the
// data directory's, the profile's), held for the whole run and released when the object goes.
// Two runs at once would overwrite each other's history and read marks.

#include <string>
#include <vector>

namespace qm {

class RunLock {
public:
    RunLock() = default;
    ~RunLock();
    RunLock(const RunLock&) = delete;
    RunLock& operator=(const RunLock&) = delete;

    // Locks path + ".lock" for each of paths, or none of them. On refusal, error says who holds
    // which ("Error--another run (process 1234) is using /home/me/.local/share/quarrymoth/").
    bool Acquire(const std::vector<std::string>& paths, std::string& error);
    void Release();

private:
    std::vector<int> fds_;
};

}  // namespace qm
