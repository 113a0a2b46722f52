#include "app/ui/ThumbnailLoader.h"

#include <QImageReader>

namespace qm {

ThumbnailLoader::ThumbnailLoader(QSize maxSize, QObject* parent)
    : QObject(parent), maxSize_(maxSize) {
    qRegisterMetaType<PictureOrigin>();
    thread_ = std::thread([this] { Work(); });
}

ThumbnailLoader::~ThumbnailLoader() {
    {
        std::lock_guard lock(mutex_);
        quit_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

void ThumbnailLoader::Request(const std::string& path, PictureOrigin origin) {
    {
        std::lock_guard lock(mutex_);
        next_ = Job{path, std::move(origin)};
    }
    wake_.notify_all();
}

void ThumbnailLoader::SetDisplaySize(QSize devicePixels) {
    std::lock_guard lock(mutex_);
    displaySize_ = devicePixels;
}

// Smooth scaling of a picture to a high-density screen's pixels takes tens of milliseconds: done
// here, the window only copies the result to the screen. Also in the screen's pixel format.
QImage ThumbnailLoader::FitDisplay(QImage image) {
    QSize display;
    {
        std::lock_guard lock(mutex_);
        display = displaySize_;
    }
    if (!display.isEmpty()) {
        const QSize fit = image.size().scaled(display, Qt::KeepAspectRatio);
        if (fit != image.size() && !fit.isEmpty()) {
            image = image.scaled(fit, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        }
    }
    return image.convertToFormat(image.hasAlphaChannel() ? QImage::Format_ARGB32_Premultiplied
                                                         : QImage::Format_RGB32);
}

QImage ThumbnailLoader::Decode(const QString& path, QSize maxSize, QSize& pictureSize) {
    QImageReader reader(path);
    reader.setAutoTransform(true);
    pictureSize = reader.size();
    if (pictureSize.isValid() && !maxSize.isEmpty() &&
        (pictureSize.width() > maxSize.width() || pictureSize.height() > maxSize.height())) {
        // Large JPEGs decode at a fraction of their size, which is far quicker.
        reader.setScaledSize(pictureSize.scaled(maxSize, Qt::KeepAspectRatio));
    }
    QImage image = reader.read();
    if (!image.isNull() && !pictureSize.isValid()) pictureSize = image.size();
    return image;
}

void ThumbnailLoader::Work() {
    auto lastStart = std::chrono::steady_clock::now() - kPace;
    for (;;) {
        Job job;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return quit_ || next_.has_value(); });
            // No more than a few pictures a second: nobody sees more, and every decode takes a
            // processor from the harvest and the window. What arrives meanwhile replaces the wait.
            wake_.wait_until(lock, lastStart + kPace, [this] { return quit_; });
            if (quit_) return;
            job = std::move(*next_);
            next_.reset();
        }
        lastStart = std::chrono::steady_clock::now();
        QString name = QString::fromStdString(job.path);
        QSize size;
        QImage image = Decode(name, maxSize_, size);
        if (image.isNull()) {
            emit Failed(name);
        } else {
            emit Loaded(name, FitDisplay(std::move(image)), size, job.origin);
        }
    }
}

}  // namespace qm
