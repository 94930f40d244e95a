#include "transport/MessageBuilder.h"

#include "transport/Charset.h"

#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QMimeDatabase>
#include <QRandomGenerator>

#include <algorithm>
#include <cstdlib>
#include <optional>

namespace corvidan::transport {

namespace {

constexpr int kMaxLine = 76;
constexpr int kMaxEncodedWord = 75;
constexpr int kMax7bitLine = 998;
const QByteArray kCrLf("\r\n");

// ---- addresses -------------------------------------------------------------

Mailbox parseMailbox(QStringView text)
{
    const QStringView trimmed = text.trimmed();
    const qsizetype open = trimmed.lastIndexOf(u'<');
    const qsizetype close = trimmed.lastIndexOf(u'>');
    if (open < 0 || close < open)
        return {QString(), trimmed.toString()};
    QString display = trimmed.left(open).trimmed().toString();
    if (display.size() >= 2 && display.startsWith(u'"') && display.endsWith(u'"')) {
        display = display.mid(1, display.size() - 2);
        display.replace(QStringLiteral("\\\""), QStringLiteral("\""));
        display.replace(QStringLiteral("\\\\"), QStringLiteral("\\"));
    }
    return {display, trimmed.mid(open + 1, close - open - 1).trimmed().toString()};
}

/// An address we can put into MAIL FROM / RCPT TO without changing the command.
bool isUsableAddress(const QString& address)
{
    if (address.isEmpty())
        return false;
    for (QChar c : address) {
        if (c.unicode() < 0x21 || c == u'<' || c == u'>' || c == u'\x7F')
            return false;
    }
    return true;
}

// ---- header words ----------------------------------------------------------

/// The text cut into whole characters (a surrogate pair stays together).
QList<QStringView> characters(QStringView text)
{
    QList<QStringView> out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size();) {
        const qsizetype n = text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate() ? 2 : 1;
        out.append(text.mid(i, n));
        i += n;
    }
    return out;
}

int base64Length(qsizetype bytes) { return static_cast<int>((bytes + 2) / 3 * 4); }

/// Encoded words carrying `text`, each whole characters only; the first at most
/// `firstLimit` characters long, the others at most `otherLimit`.
QList<QByteArray> encodedWords(QStringView text, int firstLimit, int otherLimit, bool allowJis)
{
    QString source = text.toString();
    QByteArray charset = "UTF-8";
    if (allowJis) {
        const QString widened = charset::widenHalfWidthKana(text);
        if (charset::fitsIso2022Jp(widened)) {
            source = widened;
            charset = "ISO-2022-JP";
        }
    }
    const bool jis = charset == "ISO-2022-JP";
    const auto bytesOf = [jis](const QString& s) {
        return jis ? charset::encodeIso2022Jp(s).value_or(QByteArray()) : s.toUtf8();
    };
    const QByteArray prefix = "=?" + charset + "?B?";
    const int overhead = static_cast<int>(prefix.size()) + 2;

    QList<QByteArray> words;
    QString chunk;
    const auto flush = [&] {
        words.append(prefix + bytesOf(chunk).toBase64() + "?=");
        chunk.clear();
    };
    for (QStringView piece : characters(source)) {
        const int limit = words.isEmpty() ? firstLimit : otherLimit;
        if (!chunk.isEmpty() && base64Length(bytesOf(chunk + piece.toString()).size()) + overhead > limit)
            flush();
        chunk += piece;
    }
    if (!chunk.isEmpty() || words.isEmpty())
        flush();
    return words;
}

bool isPlainHeaderText(QStringView text)
{
    if (text.contains(QStringLiteral("=?")) || text.size() > 900)
        return false;
    for (QChar c : text) {
        if ((c.unicode() < 0x20 && c != u'\t') || c.unicode() > 0x7E)
            return false;
    }
    return true;
}

/// "Name:" followed by the tokens separated by single blanks, folded before a
/// token whenever the line would pass 76 octets.
QByteArray foldTokens(const QByteArray& name, const QList<QByteArray>& tokens)
{
    QByteArray out = name + ':';
    qsizetype column = out.size();
    bool lineHasToken = false;
    for (const QByteArray& token : tokens) {
        if (lineHasToken && !token.isEmpty() && column + 1 + token.size() > kMaxLine) {
            out += kCrLf;
            column = 0;
        }
        out += ' ' + token;
        column += 1 + token.size();
        lineHasToken = true;
    }
    return out;
}

/// Control characters would break the header apart; blanks keep the words apart.
QString singleLine(QStringView text)
{
    QString out = text.toString();
    out.replace(QStringLiteral("\r\n"), QStringLiteral(" "));
    for (QChar& c : out) {
        if (c == u'\r' || c == u'\n')
            c = u' ';
    }
    return out;
}

bool isAtomText(QStringView text)
{
    static const QString specials = QStringLiteral("()<>[]:;@\\,.\"");
    for (QChar c : text) {
        if (c.unicode() < 0x20 || c.unicode() > 0x7E || specials.contains(c))
            return false;
    }
    return true;
}

QList<QByteArray> displayNameTokens(const QString& display, int firstLimit)
{
    if (display.isEmpty())
        return {};
    if (!isPlainHeaderText(display))
        return encodedWords(display, firstLimit, kMaxEncodedWord, true);
    if (isAtomText(display))
        return display.toLatin1().split(' ');
    QByteArray quoted = display.toLatin1();
    quoted.replace("\\", "\\\\").replace("\"", "\\\"");
    return {'"' + quoted + '"'};
}

QByteArray addressHeader(const QByteArray& name, const QList<Mailbox>& boxes)
{
    QList<QByteArray> tokens;
    for (qsizetype i = 0; i < boxes.size(); ++i) {
        const Mailbox& box = boxes[i];
        const int firstLimit = tokens.isEmpty() ? kMaxLine - static_cast<int>(name.size()) - 2
                                                : kMaxEncodedWord;
        const QList<QByteArray> display = displayNameTokens(singleLine(box.displayName), firstLimit);
        tokens += display;
        tokens.append(display.isEmpty() ? box.address.toUtf8() : '<' + box.address.toUtf8() + '>');
        if (i + 1 < boxes.size())
            tokens.last() += ',';
    }
    return foldTokens(name, tokens);
}

// ---- body encodings --------------------------------------------------------

/// CR LF line ends, the last line ended too, so the text part is whole lines.
QString withCrLf(QStringView text)
{
    QString out = charset::toCrLf(text);
    if (!out.isEmpty() && !out.endsWith(QStringLiteral("\r\n")))
        out += QStringLiteral("\r\n");
    return out;
}

bool hasLongLine(const QByteArray& bytes)
{
    qsizetype start = 0;
    while (start < bytes.size()) {
        qsizetype end = bytes.indexOf("\r\n", start);
        if (end < 0)
            end = bytes.size();
        if (end - start > kMax7bitLine)
            return true;
        start = end + 2;
    }
    return false;
}

QByteArray base64Lines(const QByteArray& bytes)
{
    const QByteArray encoded = bytes.toBase64();
    QByteArray out;
    out.reserve(encoded.size() + encoded.size() / kMaxLine * 2 + 2);
    for (qsizetype i = 0; i < encoded.size(); i += kMaxLine)
        out += encoded.mid(i, kMaxLine) + kCrLf;
    return out;
}

QByteArray quotedPrintableLine(const QByteArray& line)
{
    static const char hex[] = "0123456789ABCDEF";
    QByteArray out;
    int column = 0;
    for (qsizetype i = 0; i < line.size(); ++i) {
        const auto c = static_cast<unsigned char>(line[i]);
        const bool last = i + 1 == line.size();
        QByteArray piece;
        if ((c >= 33 && c <= 126 && c != '=') || ((c == ' ' || c == '\t') && !last))
            piece = QByteArray(1, static_cast<char>(c));
        else
            piece = QByteArray("=") + hex[c >> 4] + hex[c & 15];
        // Keep a soft break "=" within 76 columns.
        if (column + piece.size() > kMaxLine - 1 && !(last && column + piece.size() <= kMaxLine)) {
            out += "=\r\n";
            column = 0;
        }
        out += piece;
        column += static_cast<int>(piece.size());
    }
    return out;
}

QByteArray quotedPrintable(const QByteArray& bytes)
{
    QByteArray out;
    const QList<QByteArray> lines = bytes.split('\n');
    for (qsizetype i = 0; i < lines.size(); ++i) {
        QByteArray line = lines[i];
        const bool hadBreak = i + 1 < lines.size();
        if (hadBreak && line.endsWith('\r'))
            line.chop(1);
        if (!hadBreak && line.isEmpty())
            break;
        out += quotedPrintableLine(line);
        if (hadBreak)
            out += kCrLf;
    }
    return out;
}

// ---- attachments -----------------------------------------------------------

bool isAttrChar(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')
        || QByteArrayView("!#$&+-.^_`|~").contains(c);
}

/// `attr*=UTF-8''…` (RFC 2231), split into numbered continuations at character
/// boundaries when one line would pass 76 octets. Each returned line lacks the
/// leading blank and the separating ";".
QList<QByteArray> rfc2231Lines(const QByteArray& attr, const QString& value)
{
    QList<QByteArray> pieces;
    for (QStringView character : characters(value)) {
        QByteArray piece;
        for (char c : character.toUtf8())
            piece += isAttrChar(c) ? QByteArray(1, c) : '%' + QByteArray(1, c).toHex().toUpper();
        pieces.append(piece);
    }
    const QByteArray whole = attr + "*=UTF-8''" + pieces.join();
    if (whole.size() + 2 <= kMaxLine)
        return {whole};

    QList<QByteArray> lines;
    QByteArray current;
    const auto head = [&](qsizetype n) {
        return attr + '*' + QByteArray::number(n) + (n == 0 ? "*=UTF-8''" : "*=");
    };
    for (const QByteArray& piece : pieces) {
        if (!current.isEmpty() && head(lines.size()).size() + current.size() + piece.size() + 2 > kMaxLine) {
            lines.append(head(lines.size()) + current);
            current.clear();
        }
        current += piece;
    }
    lines.append(head(lines.size()) + current);
    return lines;
}

bool isPlainFileName(const QString& name)
{
    for (QChar c : name) {
        if (c.unicode() < 0x20 || c.unicode() > 0x7E || c == u'"' || c == u'\\')
            return false;
    }
    return name.size() + 12 <= kMaxLine;
}

QByteArray attachmentHeaders(const QString& fileName, const QByteArray& mimeType)
{
    QByteArray out;
    if (isPlainFileName(fileName)) {
        const QByteArray quoted = '"' + fileName.toLatin1() + '"';
        out += "Content-Type: " + mimeType + ";" + kCrLf + " name=" + quoted + kCrLf;
        out += "Content-Disposition: attachment;" + kCrLf + " filename=" + quoted + kCrLf;
    } else {
        // name= in RFC 2047 words for mailers that never learned RFC 2231.
        // Room for the blank, `name="` and the closing quote.
        QList<QByteArray> words = encodedWords(fileName, kMaxLine - 8, kMaxLine - 2, false);
        words.first().prepend("name=\"");
        words.last().append('"');
        out += "Content-Type: " + mimeType + ';' + kCrLf + ' ' + words.join("\r\n ") + kCrLf;
        out += "Content-Disposition: attachment;" + kCrLf;
        out += ' ' + rfc2231Lines("filename", fileName).join(";\r\n ") + kCrLf;
    }
    out += "Content-Transfer-Encoding: base64" + kCrLf;
    return out;
}

QByteArray mimeTypeFor(const QString& path)
{
    static const QMimeDatabase db;
    const QMimeType type = db.mimeTypeForFile(path, QMimeDatabase::MatchExtension);
    if (!type.isValid() || type.isDefault())
        return "application/octet-stream";
    return type.name().toLatin1();
}

struct Attachment {
    QString fileName;
    QByteArray mimeType;
    QByteArray bytes;
};

std::optional<Attachment> readAttachment(const QString& path)
{
    QFileInfo info(path);
    QFile file(path);
    if (info.isDir() || !file.open(QIODevice::ReadOnly))
        return std::nullopt;
    Attachment attachment{info.fileName(), mimeTypeFor(path), file.readAll()};
    if (file.error() != QFileDevice::NoError)
        return std::nullopt;
    return attachment;
}

// ---- message ---------------------------------------------------------------

QByteArray randomHex(int bytes)
{
    QByteArray raw(bytes, Qt::Uninitialized);
    for (char& c : raw)
        c = static_cast<char>(QRandomGenerator::system()->bounded(256));
    return raw.toHex();
}

QByteArray messageId(const QDateTime& date, const QString& sender)
{
    QByteArray domain = sender.mid(sender.lastIndexOf(u'@') + 1).toLatin1();
    const bool plain = !domain.isEmpty() && sender.contains(u'@')
        && std::all_of(domain.begin(), domain.end(), [](char c) {
               return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')
                   || c == '.' || c == '-';
           });
    if (!plain)
        domain = "corvidan.localdomain";
    return '<' + date.toUTC().toString(QStringLiteral("yyyyMMddHHmmss")).toLatin1() + '.'
        + randomHex(8) + '@' + domain + '>';
}

QByteArray textPartBytes(const MessageBuilder::TextPart& text)
{
    return "Content-Type: " + text.contentType + kCrLf + "Content-Transfer-Encoding: "
        + text.transferEncoding + kCrLf + kCrLf + text.bytes;
}

QByteArray multipartBody(const MessageBuilder::TextPart& text, const QList<Attachment>& attachments,
                         QByteArray& contentType)
{
    QByteArray boundary;
    do {
        boundary = "=_Corvidan_" + randomHex(12);
    } while (text.bytes.contains(boundary));
    contentType = "multipart/mixed;" + kCrLf + " boundary=\"" + boundary + '"';

    QByteArray out = "This is a multi-part message in MIME format." + kCrLf;
    out += kCrLf + "--" + boundary + kCrLf + textPartBytes(text);
    for (const Attachment& attachment : attachments) {
        out += kCrLf + "--" + boundary + kCrLf;
        out += attachmentHeaders(attachment.fileName, attachment.mimeType) + kCrLf;
        out += base64Lines(attachment.bytes);
    }
    out += kCrLf + "--" + boundary + "--" + kCrLf;
    return out;
}

BuildResult failure(BuildError error, QString detail)
{
    BuildResult result;
    result.error = error;
    result.detail = std::move(detail);
    return result;
}

struct Addresses {
    QList<Mailbox> from;
    QList<Mailbox> to;
    QList<Mailbox> cc;
    QList<Mailbox> bcc;
};

/// MAIL FROM and RCPT TO, or why there can be none.
BuildResult envelopeOf(const Addresses& addresses, const OutgoingMessage& message)
{
    if (addresses.from.isEmpty())
        return failure(BuildError::NoSender, message.from);
    if (addresses.to.isEmpty() && addresses.cc.isEmpty() && addresses.bcc.isEmpty())
        return failure(BuildError::NoRecipient, message.to);
    BuildResult result;
    const QString& sender = addresses.from.first().address;
    if (!isUsableAddress(sender))
        return failure(BuildError::BadAddress, sender);
    result.message.envelopeFrom = sender.toUtf8();
    for (const QList<Mailbox>* list : {&addresses.to, &addresses.cc, &addresses.bcc}) {
        for (const Mailbox& box : *list) {
            if (!isUsableAddress(box.address))
                return failure(BuildError::BadAddress, box.address);
            result.message.recipients.append(box.address.toUtf8());
        }
    }
    return result;
}

QByteArray headerBlock(const Addresses& addresses, const QString& subject, const QDateTime& date)
{
    QByteArray out = "Date: " + MessageBuilder::formatDate(date) + kCrLf;
    out += addressHeader("From", addresses.from.mid(0, 1)) + kCrLf;
    if (!addresses.to.isEmpty())
        out += addressHeader("To", addresses.to) + kCrLf;
    if (!addresses.cc.isEmpty())
        out += addressHeader("Cc", addresses.cc) + kCrLf;
    out += MessageBuilder::unstructuredHeader("Subject", subject) + kCrLf;
    out += "Message-ID: " + messageId(date, addresses.from.first().address) + kCrLf;
    out += "MIME-Version: 1.0" + kCrLf;
    return out;
}

} // namespace

QList<Mailbox> parseAddressList(QStringView text)
{
    QList<Mailbox> boxes;
    bool quoted = false;
    int angle = 0;
    qsizetype start = 0;
    for (qsizetype i = 0; i <= text.size(); ++i) {
        const QChar c = i < text.size() ? text[i] : QChar(u',');
        if (c == u'"' && (i == 0 || text[i - 1] != u'\\'))
            quoted = !quoted;
        else if (!quoted && c == u'<')
            ++angle;
        else if (!quoted && c == u'>' && angle > 0)
            --angle;
        else if ((!quoted && angle == 0 && c == u',') || i == text.size()) {
            const QStringView piece = text.mid(start, i - start).trimmed();
            if (!piece.isEmpty())
                boxes.append(parseMailbox(piece));
            start = i + 1;
        }
    }
    return boxes;
}

QByteArray MessageBuilder::formatDate(const QDateTime& local)
{
    const int offsetMinutes = local.offsetFromUtc() / 60;
    const int absolute = std::abs(offsetMinutes);
    const QString zone = QStringLiteral("%1%2%3")
                             .arg(QChar(offsetMinutes < 0 ? u'-' : u'+'))
                             .arg(absolute / 60, 2, 10, QChar(u'0'))
                             .arg(absolute % 60, 2, 10, QChar(u'0'));
    return (QLocale::c().toString(local, QStringLiteral("ddd, d MMM yyyy HH:mm:ss ")) + zone).toLatin1();
}

QByteArray MessageBuilder::unstructuredHeader(const QByteArray& name, QStringView value)
{
    const QString text = singleLine(value);
    if (text.isEmpty())
        return name + ':';
    if (isPlainHeaderText(text))
        return foldTokens(name, text.toLatin1().split(' '));
    return foldTokens(name, encodedWords(text, kMaxLine - static_cast<int>(name.size()) - 2,
                                         kMaxEncodedWord, true));
}

MessageBuilder::TextPart MessageBuilder::encodeText(QStringView text)
{
    const QString crlf = withCrLf(text);
    const QString widened = charset::widenHalfWidthKana(crlf);
    if (const auto jis = charset::encodeIso2022Jp(widened)) {
        const bool ascii = *jis == widened.toLatin1();
        const QByteArray type = ascii ? "text/plain; charset=US-ASCII" : "text/plain; charset=ISO-2022-JP";
        if (!hasLongLine(*jis))
            return {type, "7bit", *jis};
        if (ascii)
            return {type, "quoted-printable", quotedPrintable(*jis)};
        return {type, "base64", base64Lines(*jis)};
    }
    const QByteArray utf8 = crlf.toUtf8();
    const auto high = std::count_if(utf8.begin(), utf8.end(), [](char c) { return c & 0x80; });
    const QByteArray type = "text/plain; charset=UTF-8";
    if (high * 6 > utf8.size())
        return {type, "base64", base64Lines(utf8)};
    return {type, "quoted-printable", quotedPrintable(utf8)};
}

BuildResult MessageBuilder::build(const OutgoingMessage& message)
{
    const Addresses addresses{parseAddressList(message.from), parseAddressList(message.to),
                              parseAddressList(message.cc), parseAddressList(message.bcc)};
    BuildResult result = envelopeOf(addresses, message);
    if (!result.ok())
        return result;

    QList<Attachment> attachments;
    for (const QString& path : message.attachments.split(u',', Qt::SkipEmptyParts)) {
        std::optional<Attachment> attachment = readAttachment(path);
        if (!attachment)
            return failure(BuildError::UnreadableAttachment, path);
        attachments.append(std::move(*attachment));
    }

    const QDateTime date = message.date.isValid() ? message.date : QDateTime::currentDateTime();
    QByteArray& out = result.message.bytes;
    out += headerBlock(addresses, message.subject, date);
    const TextPart text = encodeText(message.body);
    if (attachments.isEmpty()) {
        out += textPartBytes(text);
        return result;
    }
    QByteArray contentType;
    const QByteArray body = multipartBody(text, attachments, contentType);
    out += "Content-Type: " + contentType + kCrLf + kCrLf + body;
    return result;
}

} // namespace corvidan::transport
