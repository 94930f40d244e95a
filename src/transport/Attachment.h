#pragma once

#include "common/Status.h"

#include <QByteArray>
#include <QString>

/// Writing received attachments into the attachment folder. A name comes from
/// the sender, so it is made harmless before it touches the file system.
namespace corvidan::transport::attachment {

/// Longest file name written, in UTF-8 bytes (room left for a numeric suffix
/// below the usual 255-byte limit).
inline constexpr int MaxNameBytes = 200;

/// A plain file name that stays inside the folder: the last path component
/// only, no control characters, no characters Windows forbids, no leading or
/// trailing dots and blanks, no device names (CON, NUL, COM1 …), bounded
/// length with the extension kept. Empty input gives "attachment" with
/// `fallbackExtension` (".jpg", ".bin" …).
QString sanitizeFileName(const QString& name, const QString& fallbackExtension);

/// File extension for a MIME type ("image/jpeg" → ".jpg"), ".bin" when unknown.
QString extensionForType(const QByteArray& mimeType);

/// The folder argument as a usable path: a trailing "\" or "/" is dropped and
/// Windows separators are accepted.
QString folderPath(const QString& folder);

/// Writes `data` under `name` in `folder` without ever replacing a file: when
/// the name is taken (letter case ignored) "name (2).ext", "name (3).ext" …
/// are tried. The file appears under its name only once written whole. The path
/// written, or empty when no file could be created or written completely. The
/// file is not flushed to disk yet: see syncWritten.
QString writeNew(const QString& folder, const QString& name, const QByteArray& data);

/// Flushes every file writeNew wrote since the last call, and their folders, to
/// disk; one pass for many attachments costs far less than a flush for each.
common::Status syncWritten();

} // namespace corvidan::transport::attachment
