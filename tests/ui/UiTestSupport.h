// Helpers the window tests share: finding controls by role, answering modal boxes as a person
// would, acting on the next modal dialog, and making small pictures.
#pragma once

#include <QApplication>
#include <QBuffer>
#include <QImage>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <functional>
#include <string>
#include <vector>

namespace qm::test {

// The control with this objectName; a missing one ends the test run with its name.
template <typename T>
T* Find(QWidget& window, const char* name) {
    T* widget = window.findChild<T*>(QString::fromLatin1(name));
    if (!widget) qFatal("no control %s", name);
    return widget;
}

inline QString LabelText(QWidget& window, const char* name) {
    return Find<QLabel>(window, name)->text();
}

// Answers the modal boxes that appear, as a person would: notes what the box shows, presses the
// next button asked for.
class BoxAnswerer : public QObject {
public:
    BoxAnswerer() {
        connect(&poll_, &QTimer::timeout, this, [this] { Look(); });
        poll_.start(10);
    }
    void Press(QMessageBox::StandardButton button) { answers_.push_back(button); }
    QStringList texts;
    QList<QMessageBox::Icon> icons;
    QStringList titles;
    QList<QMessageBox::StandardButton> defaults;
    QList<Qt::TextFormat> formats;

private:
    void Look() {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || !box->isVisible() || answers_.empty() || seen_ == box) return;
        seen_ = box;
        texts << box->text();
        icons << box->icon();
        titles << box->windowTitle();
        defaults << box->standardButton(box->defaultButton());
        formats << box->textFormat();
        QMessageBox::StandardButton answer = answers_.front();
        answers_.erase(answers_.begin());
        box->button(answer)->click();
    }
    QTimer poll_;
    std::vector<QMessageBox::StandardButton> answers_;
    QPointer<QMessageBox> seen_;
};

// Acts on the next modal dialog once it is up (a dialog the code under test runs with exec()).
inline void WhenModal(const std::function<void(QWidget*)>& act) {
    auto* timer = new QTimer;
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, act] {
        QWidget* dialog = QApplication::activeModalWidget();
        if (!dialog || !dialog->isVisible() || qobject_cast<QMessageBox*>(dialog)) return;
        timer->stop();
        timer->deleteLater();
        act(dialog);
    });
    timer->start();
}

// A plain JPEG of the given size, as a poster's picture.
inline std::string Jpeg(int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(QColor(200, 80, 40));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPEG");
    return bytes.toStdString();
}

}  // namespace qm::test
