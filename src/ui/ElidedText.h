#pragma once
// One-line texts that fit the space their window gives them: a text too long for it is shortened
// with "…" where it is drawn, and never widens the window. The whole text stays the widget's own
// (text(), the accessible description, the tooltip while shortened).

#include <QGroupBox>
#include <QLabel>
#include <QString>

namespace qm {

// A value label (as MakeValue makes) that elides; SetValue sets it as any other.
class ElidedLabel : public QLabel {
    Q_OBJECT
public:
    ElidedLabel(Qt::TextElideMode mode, int widthInChars, QWidget* parent);

    QString DisplayedText() const;  // the text as drawn at the present width

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    bool event(QEvent* event) override;

private:
    Qt::TextElideMode mode_;
    int widthInChars_;
};

// A group box whose caption elides in the middle, so both ends of a long name stay in sight.
class ElidedTitleBox : public QGroupBox {
    Q_OBJECT
public:
    explicit ElidedTitleBox(QWidget* parent);

    // The caption as it should read; "&" is shown as it is, never taken as a mnemonic. Its last
    // keepLast characters (a picture's size after its name, say) are never elided.
    void SetCaption(const QString& caption, qsizetype keepLast = 0);

    QSize minimumSizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void Fit();

    QString caption_;
    qsizetype keepLast_ = 0;
};

}  // namespace qm
