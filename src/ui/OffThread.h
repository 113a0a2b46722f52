#pragma once
// OffThread: runs slow work (a call to the desktop keyring) on a thread of its own and hands the
// result to a function on the window thread. A result that comes after its owner has gone is
// dropped, so a window never waits for the work, not even when it closes.

#include <QObject>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace qm {

class OffThread : public QObject {
public:
    explicit OffThread(QObject* parent) : QObject(parent), mailbox_(std::make_shared<Mailbox>()) {
        mailbox_->receiver = this;
    }
    ~OffThread() override {
        std::lock_guard lock(mailbox_->mutex);
        mailbox_->receiver = nullptr;
    }
    OffThread(const OffThread&) = delete;
    OffThread& operator=(const OffThread&) = delete;

    // work runs on a new thread; done then runs with its result on this object's thread, unless
    // this object was destroyed first. work must not use anything that may go before it ends.
    template <typename Result>
    void Run(std::function<Result()> work, std::function<void(const Result&)> done) {
        std::thread([mailbox = mailbox_, work = std::move(work), done = std::move(done)] {
            const Result result = work();
            // Held while posting: the receiver cannot be destroyed in between, and a post to it
            // is dropped with it.
            std::lock_guard lock(mailbox->mutex);
            if (!mailbox->receiver) return;
            QMetaObject::invokeMethod(
                mailbox->receiver, [done, result] { done(result); }, Qt::QueuedConnection);
        }).detach();
    }

private:
    struct Mailbox {
        std::mutex mutex;
        QObject* receiver = nullptr;
    };
    std::shared_ptr<Mailbox> mailbox_;
};

}  // namespace qm
