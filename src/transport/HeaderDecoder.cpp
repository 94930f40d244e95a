#include "transport/HeaderDecoder.h"

#include "common/Text.h"
#include "transport/Charset.h"

#include "common/Cp932.h"

#include <QStringList>

#include <map>

namespace corvidan::transport::header {

namespace {

bool isWsp(char c) { return c == ' ' || c == '\t'; }

bool isAllWsp(QByteArrayView s)
{
    for (char c : s)
        if (!isWsp(c) && c != '\r' && c != '\n')
            return false;
    return true;
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

QByteArray decodeQ(QByteArrayView text)
{
    QByteArray out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '_') {
            out += ' ';
        } else if (c == '=' && i + 2 < text.size() && hexValue(text[i + 1]) >= 0 && hexValue(text[i + 2]) >= 0) {
            out += static_cast<char>(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2]));
            i += 2;
        } else {
            out += c;
        }
    }
    return out;
}

/// One piece of a header value: literal bytes, or the decoded bytes of an encoded word.
struct Piece {
    bool encoded = false;
    QByteArray charset;
    QByteArray bytes;
};

using NextOf = common::text::NextOf<QByteArrayView>;

/// Longest charset label taken (with a language suffix); real ones are far shorter.
constexpr qsizetype MaxCharsetLength = 64;

/// Parses "=?charset?X?text?=" at `pos`; on success fills `piece` and `end`.
bool parseEncodedWord(QByteArrayView s, qsizetype pos, NextOf& nextClose, NextOf& nextOpen, Piece& piece,
                      qsizetype& end)
{
    qsizetype q1 = pos + 2;
    while (q1 < s.size() && q1 - pos - 2 <= MaxCharsetLength && s[q1] != '?') {
        if (isWsp(s[q1]) || s[q1] == '"' || s[q1] == '=' || s[q1] == '\r' || s[q1] == '\n')
            return false;
        ++q1;
    }
    if (q1 >= s.size() || s[q1] != '?' || q1 == pos + 2 || q1 + 2 >= s.size() || s[q1 + 2] != '?')
        return false;
    const QByteArrayView charset = s.sliced(pos + 2, q1 - pos - 2);
    const char enc = s[q1 + 1];
    const qsizetype textStart = q1 + 3;
    const qsizetype close = nextClose.from(textStart);
    if (close >= s.size() || nextOpen.from(textStart) + 2 <= close)
        return false;
    const QByteArrayView text = s.sliced(textStart, close - textStart);
    if (enc == 'B' || enc == 'b') {
        QByteArray clean;
        clean.reserve(text.size());
        for (char c : text)
            if (!isWsp(c))
                clean += c;
        piece.bytes = QByteArray::fromBase64(clean);
    } else if (enc == 'Q' || enc == 'q') {
        piece.bytes = decodeQ(text);
    } else {
        return false;
    }
    piece.encoded = true;
    piece.charset = charset::canonicalName(charset);
    end = close + 2;
    return true;
}

QList<Piece> splitPieces(QByteArrayView s)
{
    QList<Piece> pieces;
    NextOf nextClose(s, "?=");
    NextOf nextOpen(s, "=?");
    qsizetype literalStart = 0;
    qsizetype pos = 0;
    while ((pos = s.indexOf("=?", pos)) >= 0) {
        Piece word;
        qsizetype end = 0;
        if (!parseEncodedWord(s, pos, nextClose, nextOpen, word, end)) {
            pos += 2;
            continue;
        }
        if (pos > literalStart)
            pieces.append(Piece{false, {}, s.sliced(literalStart, pos - literalStart).toByteArray()});
        pieces.append(std::move(word));
        literalStart = pos = end;
    }
    if (literalStart < s.size())
        pieces.append(Piece{false, {}, s.sliced(literalStart).toByteArray()});
    return pieces;
}

/// White space between encoded words vanishes; neighbouring words of one
/// charset become one byte string, so split characters and carried-over
/// ISO-2022-JP shift states decode whole.
QList<Piece> joinWords(const QList<Piece>& pieces)
{
    QList<Piece> out;
    for (qsizetype i = 0; i < pieces.size(); ++i) {
        const Piece& p = pieces[i];
        const bool betweenWords = !p.encoded && isAllWsp(p.bytes) && i > 0 && pieces[i - 1].encoded
                                  && i + 1 < pieces.size() && pieces[i + 1].encoded;
        if (betweenWords)
            continue;
        if (p.encoded && !out.isEmpty() && out.last().encoded && out.last().charset == p.charset)
            out.last().bytes += p.bytes;
        else
            out.append(p);
    }
    return out;
}

QString literalText(QByteArrayView bytes)
{
    return charset::decodeGuessed(bytes);
}

/// Trimmed, and without NULs: a stray NUL must not end the text for a caller that cuts at it.
QString cut(QString text)
{
    text.remove(QChar(u'\0'));
    return text.trimmed();
}

/// Encoded words decoded in an already unfolded value, blanks kept.
QString decodeTextUntrimmed(QByteArrayView line)
{
    QString out;
    for (const Piece& p : joinWords(splitPieces(line)))
        out += p.encoded ? charset::decode(p.bytes, p.charset) : literalText(p.bytes);
    return out;
}

/// Quotes (and their backslash escapes) removed from a display name.
QByteArray unquoteAll(QByteArrayView s)
{
    QByteArray out;
    out.reserve(s.size());
    bool quoted = false;
    for (qsizetype i = 0; i < s.size(); ++i) {
        if (s[i] == '"') {
            quoted = !quoted;
        } else if (s[i] == '\\' && quoted && i + 1 < s.size()) {
            out += s[++i];
        } else {
            out += s[i];
        }
    }
    return out;
}

/// The mailboxes of an address list: split at commas outside quotes, angle
/// brackets and comments.
QList<QByteArrayView> splitMailboxes(QByteArrayView s)
{
    QList<QByteArrayView> out;
    bool quoted = false;
    int angle = 0, paren = 0;
    qsizetype start = 0;
    for (qsizetype i = 0; i < s.size(); ++i) {
        const char c = s[i];
        if (quoted) {
            if (c == '\\')
                ++i;
            else if (c == '"')
                quoted = false;
        } else if (c == '"') {
            quoted = true;
        } else if (c == '<') {
            ++angle;
        } else if (c == '>' && angle > 0) {
            --angle;
        } else if (c == '(') {
            ++paren;
        } else if (c == ')' && paren > 0) {
            --paren;
        } else if (c == ',' && angle == 0 && paren == 0) {
            out.append(s.sliced(start, i - start));
            start = i + 1;
        }
    }
    out.append(s.sliced(start));
    return out;
}

/// Where the "<address>" of a mailbox starts (outside quotes), or -1.
qsizetype angleAddressStart(QByteArrayView s)
{
    bool quoted = false;
    qsizetype found = -1;
    for (qsizetype i = 0; i < s.size(); ++i) {
        if (quoted && s[i] == '\\')
            ++i;
        else if (s[i] == '"')
            quoted = !quoted;
        else if (!quoted && s[i] == '<')
            found = i;
    }
    return found;
}

/// A display name that would be read as several addresses, or as none,
/// unless it is quoted.
bool needsQuotes(const QString& name)
{
    for (QChar c : name)
        if (QStringView(u",;:<>@\"()[]\\").contains(c))
            return true;
    return false;
}

QString quoted(const QString& name)
{
    QString out = QStringLiteral("\"");
    for (QChar c : name) {
        if (c == u'"' || c == u'\\')
            out += u'\\';
        out += c;
    }
    return out + u'"';
}

QString decodeMailbox(QByteArrayView mailbox)
{
    const qsizetype lt = angleAddressStart(mailbox);
    if (lt < 0)
        return cut(decodeTextUntrimmed(mailbox));
    const QString address = cut(decodeTextUntrimmed(mailbox.sliced(lt)));
    const QString name = cut(decodeTextUntrimmed(unquoteAll(mailbox.first(lt))));
    if (name.isEmpty())
        return address;
    return (needsQuotes(name) ? quoted(name) : name) + u' ' + address;
}

QByteArray percentDecode(QByteArrayView s)
{
    QByteArray out;
    for (qsizetype i = 0; i < s.size(); ++i) {
        if (s[i] == '%' && i + 2 < s.size() && hexValue(s[i + 1]) >= 0 && hexValue(s[i + 2]) >= 0) {
            out += static_cast<char>(hexValue(s[i + 1]) * 16 + hexValue(s[i + 2]));
            i += 2;
        } else {
            out += s[i];
        }
    }
    return out;
}

QByteArray unquote(QByteArrayView v)
{
    QByteArray value = v.toByteArray().trimmed();
    if (value.size() < 2 || !value.startsWith('"'))
        return value;
    QByteArray out;
    for (qsizetype i = 1; i < value.size(); ++i) {
        if (value[i] == '"')
            break;
        if (value[i] == '\\' && i + 1 < value.size())
            ++i;
        out += value[i];
    }
    return out;
}

/// Splits "type; a=1; b="x;y"" at the semicolons outside quotes.
QList<QByteArray> splitParameters(QByteArrayView s)
{
    QList<QByteArray> parts;
    QByteArray current;
    bool quoted = false;
    for (qsizetype i = 0; i < s.size(); ++i) {
        const char c = s[i];
        if (c == '"')
            quoted = !quoted;
        if (c == '\\' && quoted && i + 1 < s.size()) {
            current += c;
            current += s[++i];
            continue;
        }
        if (c == ';' && !quoted) {
            parts.append(current);
            current.clear();
        } else {
            current += c;
        }
    }
    parts.append(current);
    return parts;
}

} // namespace

QByteArrayView headerBlock(QByteArrayView message)
{
    const qsizetype body = bodyOffset(message);
    qsizetype end = body;
    // Drop the empty line itself and the line end before it.
    while (end > 0 && (message[end - 1] == '\n' || message[end - 1] == '\r'))
        --end;
    return message.first(end);
}

qsizetype bodyOffset(QByteArrayView message)
{
    if (message.startsWith("\r\n"))
        return 2;
    if (message.startsWith("\n"))
        return 1;
    qsizetype pos = 0;
    while (true) {
        const qsizetype lf = message.indexOf('\n', pos);
        if (lf < 0)
            return message.size();
        if (lf + 1 < message.size() && message[lf + 1] == '\n')
            return lf + 2;
        if (lf + 2 < message.size() && message[lf + 1] == '\r' && message[lf + 2] == '\n')
            return lf + 3;
        pos = lf + 1;
    }
}

QList<Field> parseFields(QByteArrayView block)
{
    QList<Field> fields;
    qsizetype pos = 0;
    while (pos < block.size()) {
        qsizetype lf = block.indexOf('\n', pos);
        if (lf < 0)
            lf = block.size();
        const QByteArrayView line = block.sliced(pos, lf - pos);
        if (!line.isEmpty() && isWsp(line[0]) && !fields.isEmpty()) {
            fields.last().rawValue += "\r\n";
            fields.last().rawValue += line.toByteArray().chopped(line.endsWith('\r') ? 1 : 0);
        } else if (const qsizetype colon = line.indexOf(':'); colon > 0) {
            QByteArray value = line.sliced(colon + 1).toByteArray();
            if (value.endsWith('\r'))
                value.chop(1);
            if (value.startsWith(' '))
                value.remove(0, 1);
            fields.append(Field{line.first(colon).toByteArray().trimmed(), value});
        }
        pos = lf + 1;
    }
    return fields;
}

QByteArray rawValue(QByteArrayView block, QByteArrayView name)
{
    for (const Field& f : parseFields(block))
        if (f.name.compare(name, Qt::CaseInsensitive) == 0)
            return f.rawValue;
    return {};
}

QByteArray unfold(QByteArrayView raw)
{
    QByteArray out;
    out.reserve(raw.size());
    for (qsizetype i = 0; i < raw.size(); ++i) {
        const char c = raw[i];
        if (c == '\n' && i + 1 < raw.size() && raw[i + 1] == '\t') {
            out += ' ';
            ++i;
        } else if (c != '\r' && c != '\n') {
            out += c;
        }
    }
    return out;
}

QString decodeText(QByteArrayView raw)
{
    return cut(decodeTextUntrimmed(unfold(raw)));
}

QString decodeAddress(QByteArrayView raw)
{
    const QByteArray line = unfold(raw);
    QStringList mailboxes;
    for (QByteArrayView mailbox : splitMailboxes(line))
        if (QString text = decodeMailbox(mailbox); !text.isEmpty())
            mailboxes << text;
    return mailboxes.join(QStringLiteral(", "));
}

QString fitSender(const QString& from, int maxBytes)
{
    const auto bytes = [](QStringView text) { return common::cp932::encode(text).size(); };
    if (bytes(from) <= maxBytes)
        return from;
    // Only the first of several senders: half a list would mislead.
    QString first = from;
    const QByteArray utf8 = from.toUtf8();
    if (const QList<QByteArrayView> parts = splitMailboxes(utf8); parts.size() > 1)
        first = QString::fromUtf8(parts.first()).trimmed();
    const QByteArray firstUtf8 = first.toUtf8();
    const qsizetype lt = angleAddressStart(firstUtf8);
    if (lt < 0)
        return first;
    const QString address = QString::fromUtf8(QByteArrayView(firstUtf8).sliced(lt)).trimmed();
    const QString bare = address.mid(1).section(u'>', 0, 0).trimmed();
    QString name = QString::fromUtf8(unquoteAll(QByteArrayView(firstUtf8).first(lt))).trimmed();
    if (bytes(first) <= maxBytes)
        return first;
    const bool quote = needsQuotes(name);
    const qsizetype room = maxBytes - bytes(address) - 1 - (quote ? 2 : 0);
    if (room <= 0 || name.isEmpty())
        return bare;
    // Cut the name character by character; escapes added by quoting count too.
    QString kept;
    qsizetype used = 0;
    for (qsizetype i = 0; i < name.size(); ++i) {
        const qsizetype len = name[i].isHighSurrogate() && i + 1 < name.size() ? 2 : 1;
        const QStringView ch = QStringView(name).sliced(i, len);
        const qsizetype size = bytes(ch) + ((quote && (ch == u"\\" || ch == u"\"")) ? 1 : 0);
        if (used + size > room)
            break;
        kept += ch;
        used += size;
        i += len - 1;
    }
    kept = kept.trimmed();
    if (kept.isEmpty())
        return bare;
    return (quote ? quoted(kept) : kept) + u' ' + address;
}

QString plainText(QByteArrayView raw)
{
    return cut(literalText(unfold(raw)));
}

QString parameter(QByteArrayView rawFieldValue, QByteArrayView name)
{
    const QList<QByteArray> parts = splitParameters(unfold(rawFieldValue));
    QByteArray plain;
    bool hasPlain = false;
    std::map<int, std::pair<bool, QByteArray>> sections; // number → (extended, value)
    for (qsizetype i = 1; i < parts.size(); ++i) {
        const qsizetype eq = parts[i].indexOf('=');
        if (eq < 0)
            continue;
        const QByteArray attr = parts[i].first(eq).trimmed().toLower();
        const QByteArray value = unquote(parts[i].sliced(eq + 1));
        const QByteArray lowerName = name.toByteArray().toLower();
        if (attr == lowerName) {
            plain = value;
            hasPlain = true;
        } else if (attr.startsWith(lowerName + '*')) {
            QByteArray rest = attr.sliced(lowerName.size() + 1);
            const bool extended = rest.isEmpty() || rest.endsWith('*');
            if (rest.endsWith('*'))
                rest.chop(1);
            bool ok = rest.isEmpty();
            const int number = rest.isEmpty() ? 0 : rest.toInt(&ok);
            if (ok)
                sections[number] = {extended, value};
        }
    }
    if (!sections.empty()) {
        QByteArray charsetName;
        QByteArray bytes;
        for (auto& [number, section] : sections) {
            QByteArray value = section.second;
            if (section.first && number == sections.begin()->first) {
                const qsizetype q1 = value.indexOf('\'');
                const qsizetype q2 = q1 >= 0 ? value.indexOf('\'', q1 + 1) : -1;
                if (q2 >= 0) {
                    charsetName = value.first(q1);
                    value = value.sliced(q2 + 1);
                }
            }
            bytes += section.first ? percentDecode(value) : value;
        }
        if (!charsetName.isEmpty())
            return charset::decode(bytes, charsetName);
        return decodeText(bytes);
    }
    return hasPlain ? decodeText(plain) : QString();
}

} // namespace corvidan::transport::header
