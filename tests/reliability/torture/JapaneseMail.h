#pragma once

#include <QByteArray>
#include <QString>

namespace corvidan::test::torture {

/// A realistic Japanese message carrying the marker "[tag]" in its subject and
/// body. `kind` picks the shape: 0 ISO-2022-JP text, 1 Shift_JIS in base64,
/// 2 multipart with a UTF-8 text part and a binary attachment.
struct JapaneseMail {
    QString tag;
    int kind = 0;
    QByteArray bytes;
    /// For kind 2: the attachment's file name and content; empty otherwise.
    QString attachmentName;
    QByteArray attachment;
};

JapaneseMail makeJapaneseMail(const QString& tag, int index);

} // namespace corvidan::test::torture
