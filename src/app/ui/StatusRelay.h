#pragma once
// Carries the status model's changes from the engine thread to the window's thread without ever
// making the engine wait: the latest value of each field, applied at most about 30 times a second;
// the Pending button's changes and the end of the run in order, never merged.

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <array>
#include <functional>
#include <mutex>
#include <vector>

#include "app/StatusModel.h"

namespace qm {

class StatusRelay : public QObject, public StatusView {
public:
    using Apply = std::function<void(const StatusChange&)>;
    using Thumbnail = std::function<void(const StatusChange&)>;

    // apply runs on the relay's (the window's) thread; thumbnail runs at once on the caller's
    // thread and must not block (it hands the picture to the thumbnail loader).
    StatusRelay(Apply apply, Thumbnail thumbnail, QObject* parent = nullptr);

    void Show(const StatusChange& change) override;  // any thread

    static constexpr int kFrameMilliseconds = 33;

private:
    void Drain();

    Apply apply_;
    Thumbnail thumbnail_;
    std::mutex mutex_;
    std::array<StatusChange, kStatusFieldCount> latest_{};
    std::array<bool, kStatusFieldCount> dirty_{};
    std::vector<StatusChange> ordered_;
    bool posted_ = false;
    QTimer frame_;
    QElapsedTimer sinceApplied_;
};

}  // namespace qm
