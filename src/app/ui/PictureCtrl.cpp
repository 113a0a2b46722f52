#include "app/ui/PictureCtrl.h"

#include <QContextMenuEvent>
#include <QImageReader>
#include <QMouseEvent>
#include <QPainter>
#include <cstdlib>

namespace qm {

CPictureCtrl::CPictureCtrl(QWidget* parent) : QWidget(parent) {
    setAccessibleName(QStringLiteral("Thumbnail"));
    // A tab stop, so the keyboard reaches its context menu.
    setFocusPolicy(Qt::TabFocus);
}

void CPictureCtrl::Load(const QString& path) {
    if (path.isEmpty()) {
        Clear();
        return;
    }
    QImageReader reader(path);
    reader.setAutoTransform(true);
    QImage image = reader.read();
    if (image.isNull()) throw PictureError(reader.errorString().toStdString());
    SetPicture(image, image.size());
}

void CPictureCtrl::SetPicture(const QImage& image, QSize pictureSize) {
    image_ = image;
    pictureSize_ = pictureSize;
    scaled_ = QPixmap();
    update();
}

void CPictureCtrl::Clear() {
    SetPicture(QImage(), QSize(0, 0));
}

void CPictureCtrl::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (hasFocus()) {
        painter.setPen(QPen(palette().color(QPalette::Highlight), 1, Qt::DotLine));
        painter.drawRect(rect().adjusted(0, 0, -1, -1));
    }
    if (image_.isNull() || width() <= 0 || height() <= 0) return;
    QSize target = image_.size().scaled(size(), Qt::KeepAspectRatio);
    // Scaled for the screen's pixels, not the logical ones, so it stays sharp on high-DPI screens.
    const qreal ratio = devicePixelRatioF();
    const QSize device = (QSizeF(target) * ratio).toSize();
    if (scaled_.size() != device) {
        // An image made to fit already (the thumbnail loader's) is drawn as it is: a pixel of
        // rounding is not worth a smooth scaling on the window's thread.
        const QSize off = image_.size() - device;
        const bool fits = std::abs(off.width()) <= 1 && std::abs(off.height()) <= 1;
        scaled_ = QPixmap::fromImage(
            fits ? image_ : image_.scaled(device, Qt::KeepAspectRatio, Qt::SmoothTransformation));
        scaled_.setDevicePixelRatio(ratio);
    }
    painter.drawPixmap((width() - target.width()) / 2, (height() - target.height()) / 2, scaled_);
}

void CPictureCtrl::focusInEvent(QFocusEvent* event) {
    update();
    QWidget::focusInEvent(event);
}

void CPictureCtrl::focusOutEvent(QFocusEvent* event) {
    update();
    QWidget::focusOutEvent(event);
}

void CPictureCtrl::resizeEvent(QResizeEvent* event) {
    scaled_ = QPixmap();
    const QSize device = (QSizeF(size()) * devicePixelRatioF()).toSize();
    if (device != displaySize_) {
        displaySize_ = device;
        emit DisplaySizeChanged(device);
    }
    QWidget::resizeEvent(event);
}

void CPictureCtrl::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) {
        emit Clicked();
    }
    QWidget::mouseReleaseEvent(event);
}

void CPictureCtrl::contextMenuEvent(QContextMenuEvent* event) {
    emit ContextMenuAt(event->globalPos(), event->reason() == QContextMenuEvent::Keyboard);
    event->accept();
}

}  // namespace qm
