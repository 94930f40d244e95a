#pragma once

#include "common/Status.h"

#include <QByteArray>
#include <QString>
#include <functional>

namespace corvidan::common::durable {

/// Replaces the file at `path` so that at every instant it holds either the old or
/// the new content: a sibling temporary file is written, flushed to disk, renamed
/// over `path`, and the folder entry is flushed too.
Status replaceFile(const QString& path, QByteArrayView data);

/// Flushes an open descriptor's data to disk.
Status syncDescriptor(int fd, const QString& pathForErrors);

/// Flushes the folder entry of `path` (needed after a create, rename or delete).
Status syncParentFolder(const QString& path);

/// Renames `from` over `to` and flushes the folder.
Status renameOver(const QString& from, const QString& to);

/// Sees every flush before it is made; a false answer makes it fail as an I/O
/// error would. Tests use it to check that nothing relies on data before its
/// flush, and what happens when a flush fails: a kill test cannot see a missing flush.
using SyncProbe = std::function<bool(const QString& path)>;
void setSyncProbe(SyncProbe probe);

/// Maps errno of a failed write to an error code (a full disk is told apart).
ErrorCode codeForErrno(int err);

} // namespace corvidan::common::durable
