#pragma once

#include "transport/Mime.h"

#include <QByteArray>
#include <QString>

/// What the viewer makes of a kept original message: readable text, a safe
/// HTML copy, and where its attachments went.
namespace corvidan::history::original {

/// The whole message for reading: every header field decoded on its own line,
/// an empty line, then the body. `charset` empty: each part as it declares.
/// Line ends are "\n".
QString readableText(QByteArrayView message, QByteArrayView charset = {});

/// `html` with every reference the browser would fetch by itself from the
/// network (images, style sheets, frames, CSS url()) emptied; links the user
/// clicks stay.
QString withoutRemoteReferences(const QString& html);

/// Whether a stored record's body fills its field, that is, was cut to fit.
bool bodyWasCut(QByteArrayView recordBytes);

/// Sizes as a reader wants them: "512 B", "3.4 KB", "12.3 MB".
QString sizeText(qint64 bytes);

/// The file name the receive gives an attachment in 添付フォルダ.
QString folderFileName(const transport::mime::Attachment& attachment);

/// The file in `folder` holding exactly this attachment (under its name or
/// a numbered variant of it), or empty when it is gone.
QString findInFolder(const QString& folder, const transport::mime::Attachment& attachment);

} // namespace corvidan::history::original
