#pragma once

#include "common/AppDir.h"
#include "common/Status.h"

#include <QString>

namespace corvidan::history {

/// The quick-save file name for a subject: the subject with every character a
/// file name cannot hold (\ / : * ? " < > |, control characters) replaced by
/// "_", a reserved device name (CON, PRN, AUX, NUL, COM1-9, LPT1-9) prefixed
/// with "_", cut so the name fits the file system, followed by ".txt". The
/// result never contains a separator, so it names a file inside the folder.
QString quickSaveFileName(const QString& subject);

/// The quick-save file of `subject` below the quick-save folder of `appDir`.
/// An existing file whose name differs only in letter case is the same file.
QString quickSavePath(const common::AppDir& appDir, const QString& subject);

/// Writes `messageText` (CR LF lines) plus a final CR LF in code page 932,
/// replacing the file as a whole so a failed write leaves the old content.
common::Status writeQuickSave(const QString& path, const QString& messageText);

} // namespace corvidan::history
