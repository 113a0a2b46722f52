#pragma once
// CFullSizeDlg: the picture at full size in a window of its own at the screen's top-left corner,
// as large as the picture and no larger than the screen. A click, Escape or the close box closes
// it.

#include <QDialog>
#include <QRect>
#include <QSize>
#include <QString>

namespace qm {

class CPictureCtrl;

// The viewer's geometry for a picture on a screen: the client area and, inside it, the picture.
struct FullSizeLayout {
    bool closeAtOnce = false;  // too small to show (a picture that could not be read)
    QSize client;
    QRect picture;
    bool tallerThanScreen = false;
};
FullSizeLayout LayOutFullSize(double pictureWidth, double pictureHeight, QSize screen);

class CFullSizeDlg : public QDialog {
    Q_OBJECT
public:
    explicit CFullSizeDlg(QWidget* parent = nullptr);

    void SetPath(const QString& path) { path_ = path; }
    // Loads the picture and shows it modally on the screen given (the main window's); returns at
    // once when there is nothing to show.
    int Run(const QRect& screen);

private:
    QString path_;
    CPictureCtrl* picture_;
};

}  // namespace qm
