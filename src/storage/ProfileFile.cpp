#include "storage/ProfileFile.h"

#include "common/Cp932.h"
#include "storage/RecordFile.h"

#include <QFile>
#include <fcntl.h>
#include <optional>
#include <vector>

namespace corvidan::storage {

using common::Status;

namespace {

constexpr qsizetype kMaxValueBytes = 255;

/// One line of the file: its bytes as they stand and the same without the line end.
struct Line {
    QByteArray raw;
    QByteArray content;
};

std::vector<Line> splitLines(const QByteArray& bytes)
{
    std::vector<Line> lines;
    qsizetype start = 0;
    while (start < bytes.size()) {
        qsizetype end = bytes.indexOf('\n', start);
        end = end < 0 ? bytes.size() : end + 1;
        Line line{bytes.mid(start, end - start), {}};
        line.content = line.raw;
        while (line.content.endsWith('\n') || line.content.endsWith('\r'))
            line.content.chop(1);
        lines.push_back(std::move(line));
        start = end;
    }
    return lines;
}

QByteArray trimBlanks(QByteArray bytes)
{
    // Blank, tab and '=' never occur inside a double-byte character.
    qsizetype b = 0;
    qsizetype e = bytes.size();
    while (b < e && (bytes[b] == ' ' || bytes[b] == '\t'))
        ++b;
    while (e > b && (bytes[e - 1] == ' ' || bytes[e - 1] == '\t'))
        --e;
    return bytes.mid(b, e - b);
}

/// The name in a "[section]" line, or empty when the line is no section header.
std::optional<QString> sectionName(const QByteArray& content)
{
    const QString text = common::cp932::decode(content).trimmed();
    if (!text.startsWith(u'['))
        return std::nullopt;
    const qsizetype close = text.lastIndexOf(u']');
    return (close > 0 ? text.mid(1, close - 1) : text.mid(1)).trimmed();
}

/// The key of a "key=value" line (a line without "=" is all key).
QString keyName(const QByteArray& content)
{
    const qsizetype eq = content.indexOf('=');
    return common::cp932::decode(trimBlanks(eq < 0 ? content : content.left(eq))).trimmed();
}

QByteArray rawValue(const QByteArray& content)
{
    const qsizetype eq = content.indexOf('=');
    QByteArray value = eq < 0 ? QByteArray() : trimBlanks(content.mid(eq + 1));
    if (value.size() >= 2 && (value[0] == '"' || value[0] == '\'') && value.back() == value[0])
        value = value.mid(1, value.size() - 2);
    return value;
}

/// Bytes cut to `limit` without splitting a double-byte character.
QByteArray cutBytes(const QByteArray& bytes, qsizetype limit)
{
    qsizetype keep = 0;
    while (keep < bytes.size()) {
        const qsizetype step =
            common::cp932::isLeadByte(static_cast<unsigned char>(bytes[keep])) ? 2 : 1;
        if (keep + step > limit)
            break;
        keep += step;
    }
    return bytes.left(keep);
}

struct Location {
    std::optional<size_t> section; ///< line of the section header
    std::optional<size_t> key;     ///< line of the key inside it
    size_t lastContentLine = 0;    ///< last non-blank line of the section
};

/// Where `section` and `key` are, as the profile functions see it: the first
/// section of that name, and the first key of that name inside it.
Location locate(const std::vector<Line>& lines, const QString& section, const QString& key)
{
    Location at;
    for (size_t i = 0; i < lines.size(); ++i) {
        const std::optional<QString> name = sectionName(lines[i].content);
        if (name) {
            if (at.section)
                break;
            if (name->compare(section, Qt::CaseInsensitive) == 0) {
                at.section = i;
                at.lastContentLine = i;
            }
            continue;
        }
        if (!at.section || trimBlanks(lines[i].content).isEmpty())
            continue;
        at.lastContentLine = i;
        if (!at.key && keyName(lines[i].content).compare(key, Qt::CaseInsensitive) == 0)
            at.key = i;
    }
    return at;
}

QByteArray lineEndOf(const std::vector<Line>& lines)
{
    for (const Line& line : lines) {
        if (line.raw.endsWith("\r\n"))
            return QByteArrayLiteral("\r\n");
        if (line.raw.endsWith('\n'))
            return QByteArrayLiteral("\n");
    }
    return QByteArrayLiteral("\r\n");
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

/// Keeps a value on its one line.
QByteArray encodeValue(const QString& value)
{
    QString oneLine = value;
    oneLine.remove(u'\r');
    oneLine.remove(u'\n');
    return common::cp932::encode(oneLine);
}

} // namespace

QString ReadProfileString(const QString& path, const QString& section, const QString& key)
{
    const std::vector<Line> lines = splitLines(readFile(path));
    const Location at = locate(lines, section, key);
    if (!at.key)
        return {};
    return common::cp932::decode(cutBytes(rawValue(lines[*at.key].content), kMaxValueBytes));
}

Status WriteProfileString(const QString& path, const QString& section, const QString& key,
                          const QString& value)
{
    std::vector<Line> lines = splitLines(readFile(path));
    const QByteArray eol = lineEndOf(lines);
    const Location at = locate(lines, section, key);
    const QByteArray encodedValue = encodeValue(value);

    if (at.key) {
        Line& line = lines[*at.key];
        const QByteArray lineEnd = line.raw.mid(line.content.size());
        const qsizetype eq = line.content.indexOf('=');
        const QByteArray keyText = trimBlanks(eq < 0 ? line.content : line.content.left(eq));
        line.raw = keyText + '=' + encodedValue + lineEnd;
    } else {
        if (!lines.empty() && !lines.back().raw.endsWith('\n'))
            lines.back().raw += eol;
        std::vector<Line> added;
        if (!at.section)
            added.push_back({'[' + common::cp932::encode(section) + ']' + eol, {}});
        added.push_back({common::cp932::encode(key) + '=' + encodedValue + eol, {}});
        const size_t insertAt = at.section ? at.lastContentLine + 1 : lines.size();
        lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(insertAt), added.begin(),
                     added.end());
    }

    QByteArray out;
    for (const Line& line : lines)
        out += line.raw;
    // The account file holds a password in plain text.
    return detail::replaceFilePrivately(path, out, 0600);
}

QString ReadAccountValue(const common::AppDir& appDir, const QString& key)
{
    return ReadProfileString(appDir.path(common::paths::AccountFile), QStringLiteral("EXEINI"),
                             key);
}

Status WriteAccountValue(const common::AppDir& appDir, const QString& key, const QString& value)
{
    return WriteProfileString(appDir.path(common::paths::AccountFile), QStringLiteral("EXEINI"),
                              key, value);
}

} // namespace corvidan::storage
