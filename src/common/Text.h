#pragma once

#include <QString>
#include <QStringView>

namespace corvidan::common::text {

/// `text` without leading and trailing ASCII spaces; tabs, full-width spaces
/// and line breaks at the ends stay (stored fields keep them).
QString trimBlanks(QStringView text);

/// Which characters end a line besides CR LF, lone CR and lone LF.
enum class LineEnds { Mail, WithParagraphSeparator };

/// `text` with every line end written as CR LF. A selection copied from a Qt
/// text box ends its lines with the paragraph separator; mail text never does.
QString toCrLf(QStringView text, LineEnds ends = LineEnds::Mail);

} // namespace corvidan::common::text
