#pragma once

#include "common/AppDir.h"
#include "common/Status.h"

#include <QByteArrayView>
#include <QString>

namespace corvidan::storage {

/// How a settings file's text is encoded: code page 932 is the program's own;
/// editors also save these files in UTF-8, with or without a byte-order mark.
enum class SettingsEncoding { Cp932, Utf8, Utf8WithBom };

/// UTF-8 when the bytes start with its byte-order mark, or when they are valid
/// UTF-8 holding a character from U+0800 up (kana, kanji): code page 932 text is
/// practically never that. Anything else (plain ASCII included) is code page 932,
/// so the files the program has always written read exactly as before.
SettingsEncoding SettingsEncodingOf(QByteArrayView bytes);

/// The text of a settings file in its own encoding, without a byte-order mark.
QString DecodeSettingsText(QByteArrayView bytes);

/// Reads one key of an INI (profile) file the way Windows profile functions do:
/// section and key matched ignoring case, value cut to 255 bytes of its code page
/// 932 form; empty when the file, section or key is missing. Lines end at CR LF,
/// LF or a lone CR; the file's encoding is SettingsEncodingOf its bytes.
QString ReadProfileString(const QString& path, const QString& section, const QString& key);

/// Writes one key, keeping every other line of the file as it was; creates the
/// file or the section when missing. The value is written in the file's own
/// encoding and line end. A new file is code page 932, readable by its owner only.
/// A code page 932 file is rewritten as marked UTF-8 (every other value kept) when
/// the section, key or value holds a character code page 932 lacks.
common::Status WriteProfileString(const QString& path, const QString& section, const QString& key,
                                  const QString& value);

/// The account file's section "EXEINI".
QString ReadAccountValue(const common::AppDir& appDir, const QString& key);
common::Status WriteAccountValue(const common::AppDir& appDir, const QString& key,
                                 const QString& value);

} // namespace corvidan::storage
