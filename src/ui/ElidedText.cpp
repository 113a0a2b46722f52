#include "ui/ElidedText.h"

#include <QEvent>
#include <QHelpEvent>
#include <QLayout>
#include <QPainter>
#include <QStyle>
#include <QToolTip>
#include <algorithm>

namespace qm {

namespace {

// The room the text is drawn in: inside the frame, less the label's indent (-1: none of its own).
QRect TextArea(const QLabel& label) {
    const int indent = std::max(label.indent(), 0);
    return label.contentsRect().adjusted(indent, 0, -indent, 0);
}

}  // namespace

ElidedLabel::ElidedLabel(Qt::TextElideMode mode, int widthInChars, QWidget* parent)
    : QLabel(parent), mode_(mode), widthInChars_(widthInChars) {}

QString ElidedLabel::DisplayedText() const {
    return fontMetrics().elidedText(text(), mode_, TextArea(*this).width());
}

// Sized by a width in characters, never by the text: a long text elides instead.
QSize ElidedLabel::sizeHint() const {
    const QMargins margins = contentsMargins();
    return {fontMetrics().averageCharWidth() * widthInChars_ + margins.left() + margins.right(),
            fontMetrics().height() + margins.top() + margins.bottom()};
}

QSize ElidedLabel::minimumSizeHint() const {
    return sizeHint();
}

// The frame as QLabel draws it; the text shortened to the room there is.
void ElidedLabel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    drawFrame(&painter);
    style()->drawItemText(&painter, TextArea(*this),
                          QStyle::visualAlignment(layoutDirection(), alignment()), palette(),
                          isEnabled(), DisplayedText(), foregroundRole());
}

bool ElidedLabel::event(QEvent* event) {
    if (event->type() == QEvent::ToolTip && toolTip().isEmpty()) {
        const auto* help = static_cast<QHelpEvent*>(event);
        if (DisplayedText() != text()) {
            QToolTip::showText(help->globalPos(), text(), this);
        } else {
            QToolTip::hideText();
        }
        return true;
    }
    return QLabel::event(event);
}

ElidedTitleBox::ElidedTitleBox(QWidget* parent) : QGroupBox(parent) {}

void ElidedTitleBox::SetCaption(const QString& caption, qsizetype keepLast) {
    caption_ = caption;
    keepLast_ = std::min(keepLast, caption.size());
    setAccessibleName(caption);
    Fit();
}

// As wide as what it holds needs; the caption takes what it is given. Its line is kept while
// there is none, so the first caption does not make the window taller.
QSize ElidedTitleBox::minimumSizeHint() const {
    const int captionLine = title().isEmpty() ? fontMetrics().height() : 0;
    const int held = layout() ? layout()->totalMinimumSize().width() : 0;
    return {held, QGroupBox::minimumSizeHint().height() + captionLine};
}

void ElidedTitleBox::resizeEvent(QResizeEvent* event) {
    QGroupBox::resizeEvent(event);
    Fit();
}

void ElidedTitleBox::showEvent(QShowEvent* event) {
    QGroupBox::showEvent(event);
    Fit();
}

// A hidden box has no width of its own yet: it keeps the whole caption until it is shown.
void ElidedTitleBox::Fit() {
    QString shown = caption_;
    if (isVisible()) {
        // The style draws the title inset from both edges by about a character.
        const QString kept = caption_.right(keepLast_);
        const int room =
            width() - 4 * fontMetrics().averageCharWidth() - fontMetrics().horizontalAdvance(kept);
        shown = fontMetrics().elidedText(caption_.left(caption_.size() - keepLast_),
                                         Qt::ElideMiddle, std::max(room, 0)) +
                kept;
    }
    setTitle(shown.replace(QLatin1Char('&'), QStringLiteral("&&")));
    setToolTip(title() == QString(caption_).replace(QLatin1Char('&'), QStringLiteral("&&"))
                   ? QString()
                   : caption_);
}

}  // namespace qm
