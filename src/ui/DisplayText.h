#pragma once
// Server texts (subjects, senders) arrive as bytes: UTF-8 when they are valid UTF-8, otherwise
// the Latin-1 that most older posting software sends.

#include <QString>
#include <QStringDecoder>
#include <string>

namespace qm {

inline QString DisplayText(const std::string& bytes) {
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())));
    if (!utf8.hasError()) return text;
    return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

}  // namespace qm
