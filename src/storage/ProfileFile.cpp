#include "storage/ProfileFile.h"

#include <QStringDecoder>

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

constexpr char kUtf8Bom[] = "\xEF\xBB\xBF";

/// UTF-8 text whose first character may be U+FEFF: QString::fromUtf8 would take it
/// for a byte order mark and drop it from a value that begins with it.
QString utf8Text(QByteArrayView bytes)
{
    return QStringDecoder(QStringDecoder::Utf8,
                          QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom)
        .decode(bytes);
}

/// The file's text encoding; values are read and written in it, so a file an
/// editor saved in UTF-8 stays UTF-8 and one in code page 932 stays byte-exact.
struct Encoding {
    bool utf8 = false;
    QString decode(const QByteArray& bytes) const
    {
        return utf8 ? utf8Text(bytes) : common::cp932::decode(bytes);
    }
    QByteArray encode(const QString& text) const
    {
        return utf8 ? text.toUtf8() : common::cp932::encode(text);
    }
};

Encoding encodingOf(const QByteArray& bytes)
{
    return Encoding{SettingsEncodingOf(bytes) != SettingsEncoding::Cp932};
}

/// Length of the well-formed UTF-8 sequence at `p` (shortest form, no surrogates,
/// at most U+10FFFF), or 0 when it is not one.
int utf8SequenceAt(const unsigned char* p, qsizetype left)
{
    const unsigned char b = p[0];
    int len = 0;
    unsigned char lo = 0x80, hi = 0xBF; // range of the second byte
    if (b < 0x80)
        return 1;
    if (b >= 0xC2 && b <= 0xDF)
        len = 2;
    else if (b >= 0xE0 && b <= 0xEF) {
        len = 3;
        if (b == 0xE0)
            lo = 0xA0;
        else if (b == 0xED)
            hi = 0x9F;
    } else if (b >= 0xF0 && b <= 0xF4) {
        len = 4;
        if (b == 0xF0)
            lo = 0x90;
        else if (b == 0xF4)
            hi = 0x8F;
    } else {
        return 0;
    }
    if (left < len || p[1] < lo || p[1] > hi)
        return 0;
    for (int i = 2; i < len; ++i) {
        if ((p[i] & 0xC0) != 0x80)
            return 0;
    }
    return len;
}

/// Lines end at LF, CR LF or a lone CR; the BOM stays in the first line's raw
/// bytes (so it is written back) but not in its content.
std::vector<Line> splitLines(const QByteArray& bytes)
{
    std::vector<Line> lines;
    qsizetype start = 0;
    while (start < bytes.size()) {
        qsizetype end = start;
        while (end < bytes.size() && bytes[end] != '\n' && bytes[end] != '\r')
            ++end;
        if (end < bytes.size())
            end += bytes[end] == '\r' && end + 1 < bytes.size() && bytes[end + 1] == '\n' ? 2 : 1;
        Line line{bytes.mid(start, end - start), {}};
        line.content = line.raw;
        while (line.content.endsWith('\n') || line.content.endsWith('\r'))
            line.content.chop(1);
        if (start == 0 && line.content.startsWith(kUtf8Bom))
            line.content.remove(0, 3);
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
std::optional<QString> sectionName(const QByteArray& content, const Encoding& encoding)
{
    const QString text = encoding.decode(content).trimmed();
    if (!text.startsWith(u'['))
        return std::nullopt;
    const qsizetype close = text.lastIndexOf(u']');
    return (close > 0 ? text.mid(1, close - 1) : text.mid(1)).trimmed();
}

/// The key of a "key=value" line (a line without "=" is all key).
QString keyName(const QByteArray& content, const Encoding& encoding)
{
    const qsizetype eq = content.indexOf('=');
    return encoding.decode(trimBlanks(eq < 0 ? content : content.left(eq))).trimmed();
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
    if (bytes.size() <= limit)
        return bytes;
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

/// A value cut to what `limit` bytes of its code page 932 form hold, whole characters only.
QString cutValue(const QByteArray& raw, const Encoding& encoding, qsizetype limit)
{
    if (!encoding.utf8)
        return common::cp932::decode(cutBytes(raw, limit));
    const QString text = utf8Text(raw);
    qsizetype bytes = 0;
    qsizetype i = 0;
    while (i < text.size()) {
        const qsizetype len = text[i].isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
        bytes += common::cp932::encode(QStringView(text).mid(i, len)).size();
        if (bytes > limit)
            break;
        i += len;
    }
    return text.left(i);
}

struct Location {
    std::optional<size_t> section; ///< line of the section header
    std::optional<size_t> key;     ///< line of the key inside it
    size_t lastContentLine = 0;    ///< last non-blank line of the section
};

/// Where `section` and `key` are, as the profile functions see it: the first
/// section of that name, and the first key of that name inside it.
Location locate(const std::vector<Line>& lines, const Encoding& encoding, const QString& section,
                const QString& key)
{
    Location at;
    for (size_t i = 0; i < lines.size(); ++i) {
        const std::optional<QString> name = sectionName(lines[i].content, encoding);
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
        if (!at.key && keyName(lines[i].content, encoding).compare(key, Qt::CaseInsensitive) == 0)
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
        if (line.raw.endsWith('\r'))
            return QByteArrayLiteral("\r");
    }
    return QByteArrayLiteral("\r\n");
}

/// Bytes of the line end at the end of `raw` (0, 1 or 2).
qsizetype endLength(const QByteArray& raw)
{
    if (raw.endsWith("\r\n"))
        return 2;
    return raw.endsWith('\n') || raw.endsWith('\r') ? 1 : 0;
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

/// Keeps a value on its one line.
QByteArray encodeValue(const QString& value, const Encoding& encoding)
{
    QString oneLine = value;
    oneLine.remove(u'\r');
    oneLine.remove(u'\n');
    return encoding.encode(oneLine);
}

} // namespace

SettingsEncoding SettingsEncodingOf(QByteArrayView bytes)
{
    if (bytes.startsWith(kUtf8Bom))
        return SettingsEncoding::Utf8WithBom;
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    bool wide = false;
    for (qsizetype i = 0; i < bytes.size();) {
        const int len = utf8SequenceAt(p + i, bytes.size() - i);
        if (len == 0)
            return SettingsEncoding::Cp932;
        // Two-byte sequences are also plain pairs of half-width katakana in code
        // page 932; only longer ones tell UTF-8 apart.
        wide = wide || len >= 3;
        i += len;
    }
    return wide ? SettingsEncoding::Utf8 : SettingsEncoding::Cp932;
}

QString DecodeSettingsText(QByteArrayView bytes)
{
    switch (SettingsEncodingOf(bytes)) {
    case SettingsEncoding::Utf8WithBom:
        return utf8Text(bytes.sliced(3));
    case SettingsEncoding::Utf8:
        return utf8Text(bytes);
    case SettingsEncoding::Cp932:
        break;
    }
    return common::cp932::decode(bytes);
}

QString ReadProfileString(const QString& path, const QString& section, const QString& key)
{
    const QByteArray bytes = readFile(path);
    const Encoding encoding = encodingOf(bytes);
    const std::vector<Line> lines = splitLines(bytes);
    const Location at = locate(lines, encoding, section, key);
    if (!at.key)
        return {};
    return cutValue(rawValue(lines[*at.key].content), encoding, kMaxValueBytes);
}

Status WriteProfileString(const QString& path, const QString& section, const QString& key,
                          const QString& value)
{
    QByteArray bytes = readFile(path);
    Encoding encoding = encodingOf(bytes);
    // A value code page 932 cannot hold (a yen sign, an emoji) would be stored as
    // a stand-in and never read back; the file becomes marked UTF-8 instead.
    bool markUtf8 = false;
    if (!encoding.utf8 && !common::cp932::lacking(section + key + value).isEmpty()) {
        bytes = common::cp932::decode(bytes).toUtf8();
        encoding.utf8 = true;
        markUtf8 = true;
    }
    std::vector<Line> lines = splitLines(bytes);
    const QByteArray eol = lineEndOf(lines);
    const Location at = locate(lines, encoding, section, key);
    const QByteArray encodedValue = encodeValue(value, encoding);

    if (at.key) {
        Line& line = lines[*at.key];
        const QByteArray lineEnd = line.raw.mid(line.content.size());
        const qsizetype eq = line.content.indexOf('=');
        const QByteArray keyText = trimBlanks(eq < 0 ? line.content : line.content.left(eq));
        line.raw = keyText + '=' + encodedValue + lineEnd;
    } else {
        if (!lines.empty() && !lines.back().raw.endsWith('\n') && !lines.back().raw.endsWith('\r'))
            lines.back().raw += eol;
        const size_t insertAt = at.section ? at.lastContentLine + 1 : lines.size();
        // Added lines end as the line before them: a lone CR put before a line that
        // starts with LF would merge the two line ends into one and swallow that line.
        const QByteArray end =
            insertAt > 0 ? lines[insertAt - 1].raw.mid(lines[insertAt - 1].raw.size() -
                                                        endLength(lines[insertAt - 1].raw))
                         : eol;
        std::vector<Line> added;
        if (!at.section)
            added.push_back({'[' + encoding.encode(section) + ']' + end, {}});
        added.push_back({encoding.encode(key) + '=' + encodedValue + end, {}});
        lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(insertAt), added.begin(),
                     added.end());
    }

    QByteArray out;
    for (const Line& line : lines)
        out += line.raw;
    // Code page 932 bytes can happen to read as UTF-8 (a kanji before a half-width
    // kana): such a file is kept as marked UTF-8 of the same text, so that every
    // value reads back as it read before (bytes no character stood for included).
    if (markUtf8)
        out.prepend(kUtf8Bom);
    else if (!encoding.utf8 && SettingsEncodingOf(out) != SettingsEncoding::Cp932)
        out = QByteArray(kUtf8Bom) + common::cp932::decode(out).toUtf8();
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
