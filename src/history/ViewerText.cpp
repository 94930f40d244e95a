#include "history/ViewerText.h"

#include <QDir>

namespace corvidan::history {

QString toPaneText(const QString& fileText)
{
    QString out = fileText;
    out.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    out.replace(u'\r', u'\n');
    return out;
}

QString toFileText(const QString& paneText)
{
    // Normalise first so a stray CR LF in the pane does not become CR CR LF.
    QString out = toPaneText(paneText);
    out.replace(QStringLiteral("\n"), QStringLiteral("\r\n"));
    return out;
}

QString MessageAsText(const QString& subject, const QString& from, const QString& date,
                      const QString& body)
{
    return QStringLiteral("Subject:  ") + subject + QStringLiteral("\r\nFrom:  ") + from +
           QStringLiteral("\r\nDate:  ") + date + QStringLiteral("\r\nBody:  ") + body;
}

QStringList splitFileLines(const QString& content)
{
    QStringList lines;
    QString line;
    for (qsizetype i = 0; i < content.size(); ++i) {
        const QChar c = content.at(i);
        if (c == u'\r' || c == u'\n') {
            if (c == u'\r' && i + 1 < content.size() && content.at(i + 1) == u'\n')
                ++i;
            lines << line;
            line.clear();
        } else {
            line += c;
        }
    }
    if (!line.isEmpty())
        lines << line;
    return lines;
}

QString paneTextFromFile(const QString& content)
{
    QString out;
    for (const QString& line : splitFileLines(content))
        out += line + u'\n';
    return out;
}

int findPosition(const QString& text, const QString& needle, int start)
{
    if (start < 1)
        start = 1;
    if (text.isEmpty() || start > text.size())
        return 0;
    if (needle.isEmpty())
        return start;
    const qsizetype at = text.indexOf(needle, start - 1, Qt::CaseSensitive);
    return at < 0 ? 0 : static_cast<int>(at) + 1;
}

int findNextStart(int lastPos, const QString& needle)
{
    const int start = lastPos + static_cast<int>(needle.size());
    return start < 1 ? 1 : start;
}

QString newEditorFileName(const QString& current, const QString& homeFolder)
{
    if (current.isEmpty())
        return QDir(homeFolder).filePath(NewFileName);
    const qsizetype cut = std::max(current.lastIndexOf(u'\\'), current.lastIndexOf(u'/'));
    const QString folder = cut < 0 ? current : current.left(cut + 1);
    return folder + NewFileName;
}

} // namespace corvidan::history
