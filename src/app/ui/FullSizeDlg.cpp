#include "app/ui/FullSizeDlg.h"

#include <algorithm>

#include "app/ui/PictureCtrl.h"

namespace qm {

FullSizeLayout LayOutFullSize(double pictureWidth, double pictureHeight, QSize screen) {
    const double availableWidth = screen.width() - 10;
    const double availableHeight = screen.height() - 50;
    FullSizeLayout layout;
    const int w = static_cast<int>(std::min(pictureWidth + 3, availableWidth));
    const int h = static_cast<int>(std::min(pictureHeight + 3, availableHeight));
    if (w < 50 || h < 50) {
        layout.closeAtOnce = true;
        return layout;
    }
    layout.client = QSize(w + 10, h + 2);
    layout.picture = QRect(2, 1, w, h);
    layout.tallerThanScreen = pictureHeight + 3 > availableHeight;
    return layout;
}

CFullSizeDlg::CFullSizeDlg(QWidget* parent) : QDialog(parent), picture_(new CPictureCtrl(this)) {
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    picture_->setAccessibleName(QStringLiteral("Picture"));
    connect(picture_, &CPictureCtrl::Clicked, this, &QDialog::accept);
}

int CFullSizeDlg::Run(const QRect& screen) {
    try {
        picture_->Load(path_);
    } catch (const PictureError&) {
        // Nothing to show: the size rules below close the viewer without a word.
        picture_->Clear();
    }
    setWindowTitle(path_);
    FullSizeLayout layout =
        LayOutFullSize(picture_->PictureWidth(), picture_->PictureHeight(), screen.size());
    if (layout.closeAtOnce) return QDialog::Accepted;
    resize(layout.client);
    move(screen.topLeft());
    picture_->setGeometry(layout.picture);
    return exec();
}

}  // namespace qm
