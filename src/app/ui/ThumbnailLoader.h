#pragma once
// Decodes the pictures the thumbnail is asked to show, on a thread of its own and one at a time.
// While it decodes, only the latest request waits, so a fast harvest skips to the newest picture
// instead of queueing work for the window.

#include <QImage>
#include <QObject>
#include <QSize>
#include <QString>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace qm {

// Where a picture came from: the subject and sender of its own article.
struct PictureOrigin {
    std::string subject;
    std::string from;
};

class ThumbnailLoader : public QObject {
    Q_OBJECT
public:
    // Pictures come out scaled down to fit maxSize (the picture's own size is reported as well).
    explicit ThumbnailLoader(QSize maxSize, QObject* parent = nullptr);
    ~ThumbnailLoader() override;

    void Request(const std::string& path, PictureOrigin origin = {});  // any thread; at once
    // The size, in the screen's pixels, the pictures are drawn at (any thread). Pictures then come
    // out scaled to fit it, so the window's thread draws them as they are instead of scaling
    // them itself; an empty size leaves them at the decoded size.
    void SetDisplaySize(QSize devicePixels);

    // Decodes path scaled to fit maxSize; a null image when it cannot be read.
    static QImage Decode(const QString& path, QSize maxSize, QSize& pictureSize);

    // The shortest time between the starts of two decodes.
    static constexpr std::chrono::milliseconds kPace{100};

signals:
    // On the receiver's thread when it lives elsewhere.
    void Loaded(const QString& path, const QImage& image, QSize pictureSize,
                const qm::PictureOrigin& origin);
    void Failed(const QString& path);

private:
    struct Job {
        std::string path;
        PictureOrigin origin;
    };
    void Work();
    QImage FitDisplay(QImage image);

    QSize maxSize_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::optional<Job> next_;
    QSize displaySize_;
    bool quit_ = false;
    std::thread thread_;
};

}  // namespace qm

Q_DECLARE_METATYPE(qm::PictureOrigin)
