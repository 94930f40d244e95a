#pragma once

#include "common/Text.h"

#include <QString>
#include <QStringList>

namespace corvidan::history {

// Line ends: records and text files hold CR LF; the body pane (a QTextEdit) holds
// "\n". Every crossing between the two goes through toPaneText / toFileText.

/// CR LF and lone CR become "\n", as the pane holds lines.
QString toPaneText(const QString& fileText);
/// "\n" becomes CR LF, as records and files hold lines.
QString toFileText(const QString& paneText);

/// The stored fields are padded with blanks and nothing else.
using common::text::trimBlanks;

/// The message rendered as four labelled lines separated by CR LF, with no line
/// end after the body (the body is given in file form).
QString MessageAsText(const QString& subject, const QString& from, const QString& date,
                      const QString& body);

/// The lines of a text file's content: a line ends at CR LF, a lone CR or a lone
/// LF; a final line end does not start another line, so an empty file has none.
QStringList splitFileLines(const QString& content);
/// The pane text after opening a file: every line followed by a line end.
QString paneTextFromFile(const QString& content);

/// 1-based position of `needle` in `text` at or after the 1-based `start`, 0 when
/// none. Follows the classic InStr rules: an empty text or a start past its end
/// gives 0; an empty needle matches at `start`.
int findPosition(const QString& text, const QString& needle, int start);
/// Where "find next" looks: just past the last match, never before position 1.
/// After a miss (lastPos 0) that is the needle's length, not the top.
int findNextStart(int lastPos, const QString& needle);

/// The editor file name that "new" binds to: the folder part of `current` (up to
/// and including the last separator; the whole name when it has none) followed
/// by NewFileName. With no file bound yet it is NewFileName in `homeFolder`, so
/// the program never writes where it merely happened to be started.
QString newEditorFileName(const QString& current, const QString& homeFolder);
inline const QString NewFileName = QStringLiteral("新規作成.TXT");

} // namespace corvidan::history
