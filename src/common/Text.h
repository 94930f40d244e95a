#pragma once

#include <QString>
#include <QByteArrayView>
#include <QStringView>

#include <type_traits>

namespace corvidan::common::text {

/// `text` without leading and trailing ASCII spaces; tabs, full-width spaces
/// and line breaks at the ends stay (stored fields keep them).
QString trimBlanks(QStringView text);

/// Which characters end a line besides CR LF, lone CR and lone LF.
enum class LineEnds { Mail, WithParagraphSeparator };

/// `text` with every line end written as CR LF. A selection copied from a Qt
/// text box ends its lines with the paragraph separator; mail text never does.
QString toCrLf(QStringView text, LineEnds ends = LineEnds::Mail);

/// The next `needle` at or after a position, remembered so that a scan moving
/// forward searches each stretch of `text` once: a flood of openers without
/// their closers then costs one search in all instead of one per opener.
template <class View>
class NextOf {
public:
    NextOf(View text, View needle, Qt::CaseSensitivity cs = Qt::CaseSensitive)
        : m_text(text), m_needle(needle), m_cs(cs)
    {
    }
    /// Where the needle starts, or the text's end when none follows `pos`.
    qsizetype from(qsizetype pos)
    {
        if (m_found < pos || m_searchedFrom > pos) {
            const qsizetype at = search(pos);
            m_found = at < 0 ? m_text.size() : at;
            m_searchedFrom = pos;
        }
        return m_found;
    }

private:
    qsizetype search(qsizetype pos) const
    {
        if constexpr (std::is_same_v<View, QStringView>)
            return m_text.indexOf(m_needle, pos, m_cs);
        else
            return m_text.indexOf(m_needle, pos);
    }

    View m_text;
    View m_needle;
    Qt::CaseSensitivity m_cs;
    qsizetype m_found = -1;
    qsizetype m_searchedFrom = 0;
};

} // namespace corvidan::common::text
