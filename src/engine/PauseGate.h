#pragma once
// The point the engine passes before every line it reads and before every article: while the
// user has paused the run it waits here, and continues exactly where it was when resumed.

#include <condition_variable>
#include <mutex>

namespace qm {

class PauseGate {
public:
    void Pause() {
        std::lock_guard lock(mutex_);
        paused_ = true;
    }
    void Resume() {
        {
            std::lock_guard lock(mutex_);
            paused_ = false;
        }
        changed_.notify_all();
    }
    // A stop request also opens the gate, so a paused run can always be stopped.
    void Release() {
        {
            std::lock_guard lock(mutex_);
            released_ = true;
        }
        changed_.notify_all();
    }
    bool Paused() const {
        std::lock_guard lock(mutex_);
        return paused_;
    }
    void Pass() {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return !paused_ || released_; });
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    bool paused_ = false;
    bool released_ = false;
};

}  // namespace qm
