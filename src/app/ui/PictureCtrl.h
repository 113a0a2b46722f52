#pragma once
// CPictureCtrl: draws one picture scaled to its frame (keeping its proportions), tells the
// picture's own pixel size, and reports a click and a request for its context menu.

#include <QImage>
#include <QPixmap>
#include <QString>
#include <QWidget>
#include <stdexcept>

namespace qm {

class PictureError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class CPictureCtrl : public QWidget {
    Q_OBJECT
public:
    explicit CPictureCtrl(QWidget* parent = nullptr);

    // Loads and shows the file; an empty path clears the picture. Throws PictureError when the
    // file cannot be read, and then keeps what it showed.
    void Load(const QString& path);
    // Shows an image decoded elsewhere; pictureSize is the picture's own size.
    void SetPicture(const QImage& image, QSize pictureSize);
    void Clear();

    int PictureWidth() const { return pictureSize_.width(); }
    int PictureHeight() const { return pictureSize_.height(); }

signals:
    void Clicked();
    void ContextMenuAt(QPoint globalPos, bool fromKeyboard);
    // The space the picture is drawn in, in the screen's pixels, has changed.
    void DisplaySizeChanged(QSize devicePixels);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    QImage image_;
    QSize pictureSize_{0, 0};
    QPixmap scaled_;  // image_ at the size it is drawn, made once per size
    QSize displaySize_;
};

}  // namespace qm
