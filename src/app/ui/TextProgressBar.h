#pragma once
// A progress bar that shows a text of its own in its middle ("3 of 12 (25%)"), taken as it is:
// QProgressBar's format would read the "%" in it as a placeholder.

#include <QProgressBar>

namespace qm {

class TextProgressBar : public QProgressBar {
public:
    explicit TextProgressBar(QWidget* parent = nullptr) : QProgressBar(parent) {
        setRange(0, 100);
        setValue(0);
        setAlignment(Qt::AlignCenter);
        setTextVisible(true);
    }
    void SetText(const QString& text) {
        if (text == text_) return;
        text_ = text;
        update();
    }
    QString text() const override { return text_; }

private:
    QString text_;
};

}  // namespace qm
