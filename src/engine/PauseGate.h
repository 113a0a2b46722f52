#pragma once
// The point the engine passes before every line it reads and before every article: while the
// user has paused the run it waits here, and continues exactly where it was when resumed.

#include <atomic>
#include <condition_variable>
#include <mutex>

namespace qm {

class PauseGate {
public:
    void Pause() {
        std::lock_guard lock(mutex_);
        paused_ = true;
        closed_ = !released_;
    }
    void Resume() {
        {
            std::lock_guard lock(mutex_);
            paused_ = false;
            closed_ = false;
        }
        changed_.notify_all();
    }
    // A stop request also opens the gate, so a paused run can always be stopped.
    void Release() {
        {
            std::lock_guard lock(mutex_);
            released_ = true;
            closed_ = false;
        }
        changed_.notify_all();
    }
    bool Paused() const {
        std::lock_guard lock(mutex_);
        return paused_;
    }
    void Pass() {
        // Passed before every line: the common open case costs one atomic load.
        if (!closed_.load(std::memory_order_acquire)) return;
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return !paused_ || released_; });
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    bool paused_ = false;
    bool released_ = false;
    std::atomic<bool> closed_{false};  // paused and not released
};

}  // namespace qm
