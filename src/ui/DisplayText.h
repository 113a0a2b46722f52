#pragma once
// Texts from the server (subjects, senders) and from our own files and settings arrive as bytes:
// UTF-8 when they are valid UTF-8, otherwise the Latin-1 of older posting software and of files
// kept in the system code page. What is shown from Latin-1 goes back as Latin-1, so a value the
// user did not change is written back byte for byte.

#include <QString>
#include <QStringDecoder>
#include <string>

namespace qm {

inline bool IsUtf8(const std::string& bytes) {
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    // The decoding happens when the result becomes a QString, and only then is an error known.
    const QString decoded =
        utf8.decode(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())));
    return !utf8.hasError();
}

inline QString DisplayText(const std::string& bytes) {
    if (IsUtf8(bytes)) return QString::fromStdString(bytes);
    return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

// The bytes to store for text a control shows, shownFrom being the bytes it was shown from (the
// value stored before). Shown from Latin-1, it goes back as Latin-1 while every character fits;
// anything else is stored as UTF-8.
inline std::string StoredText(const QString& text, const std::string& shownFrom = {}) {
    if (!IsUtf8(shownFrom)) {
        bool fits = true;
        for (QChar c : text) fits = fits && c.unicode() <= 0xFF;
        if (fits) return text.toLatin1().toStdString();
    }
    return text.toStdString();
}

}  // namespace qm
