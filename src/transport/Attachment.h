#pragma once

#include <functional>

#include "common/Status.h"

#include <QByteArray>
#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>

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

/// The attachment folder of one receive run. It is listed once; every name is
/// then chosen against that listing plus the names this object wrote, so a
/// thousand attachments cost one listing. Never replaces an existing file, and
/// never runs out of names: "name (N).ext" counts on, and a unique suffix is
/// the last resort.
class Folder {
public:
    explicit Folder(QString path);
    /// Writes `data` under the sender's name made harmless (an attached message
    /// gets ".eml"). The path written, or empty with error() set when the file
    /// could not be created or written whole.
    QString write(const QString& senderName, const QByteArray& type, const QByteArray& data);
    /// Flushes every file written since the last call, and the folder, to disk.
    common::Status sync();
    /// The same flush, handed to the caller to run in any thread while writing goes on.
    std::function<common::Status()> takeSync();
    /// The file that could not be created, after a failed write().
    QString error() const { return m_error; }

private:
    friend void deferSync(Folder& folder);
    void list();
    QString publishFree(const QString& temp, const QString& name);

    QString m_path;
    bool m_listed = false;
    QSet<QString> m_taken;           // lower-case names present or written
    QHash<QString, int> m_nextNumber; // lower-case name → first suffix number worth trying
    QStringList m_unsynced;
    QString m_error;
};

/// Hands the files `folder` wrote and has not flushed to syncWritten.
void deferSync(Folder& folder);

/// Flushes every file writeNew wrote since the last call, and their folders, to
/// disk; one pass for many attachments costs far less than a flush for each.
common::Status syncWritten();

} // namespace corvidan::transport::attachment
