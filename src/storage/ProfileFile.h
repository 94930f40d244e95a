#pragma once

#include "common/AppDir.h"
#include "common/Status.h"

#include <QString>

namespace corvidan::storage {

/// Reads one key of an INI (profile) file the way Windows profile functions do:
/// section and key matched ignoring case, value cut to 255 bytes of its code page
/// 932 form; empty when the file, section or key is missing.
QString ReadProfileString(const QString& path, const QString& section, const QString& key);

/// Writes one key, keeping every other line of the file as it was; creates the
/// file or the section when missing. A new file is readable by its owner only.
common::Status WriteProfileString(const QString& path, const QString& section, const QString& key,
                                  const QString& value);

/// The account file's section "EXEINI".
QString ReadAccountValue(const common::AppDir& appDir, const QString& key);
common::Status WriteAccountValue(const common::AppDir& appDir, const QString& key,
                                 const QString& value);

} // namespace corvidan::storage
