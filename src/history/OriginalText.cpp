#include "history/OriginalText.h"

#include "common/Text.h"
#include "storage/MailRecord.h"
#include "transport/Attachment.h"
#include "transport/HeaderDecoder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

namespace corvidan::history::original {

namespace header = transport::header;

namespace {

bool isAddressField(QByteArrayView name)
{
    for (const char* field : {"from", "to", "cc", "bcc", "reply-to", "sender"})
        if (name.compare(field, Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

QString withoutNuls(QString text)
{
    text.remove(QChar(u'\0'));
    return text;
}

QString lfOnly(QString text)
{
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(u'\r', u'\n');
    return text;
}

} // namespace

QString readableText(QByteArrayView message, QByteArrayView charset)
{
    QString text;
    for (const header::Field& field : header::parseFields(header::headerBlock(message))) {
        const QByteArray value = field.rawValue;
        const QString shown = isAddressField(field.name) ? header::decodeAddress(value) : header::decodeText(value);
        text += QString::fromLatin1(field.name) + QStringLiteral(": ") + shown.trimmed() + u'\n';
    }
    text += u'\n';
    text += lfOnly(transport::mime::parse(message, charset).body);
    return withoutNuls(std::move(text));
}

namespace {

/// Whether a browser would fetch this attribute or url() value by itself:
/// anything but a part of the message itself (cid:), inline data or an anchor.
bool fetchable(QStringView value)
{
    value = value.trimmed();
    if (value.startsWith(u'"') || value.startsWith(u'\''))
        value = value.sliced(1, std::max<qsizetype>(0, value.size() - 2)).trimmed();
    return !value.startsWith(u"cid:", Qt::CaseInsensitive) && !value.startsWith(u"data:", Qt::CaseInsensitive) &&
           !value.startsWith(u'#');
}

QString tagName(QStringView tag)
{
    qsizetype i = 1;
    while (i < tag.size() && tag[i].isSpace())
        ++i;
    const qsizetype from = i;
    while (i < tag.size() && (tag[i].isLetterOrNumber() || tag[i] == u':' || tag[i] == u'-'))
        ++i;
    return tag.sliced(from, i - from).toString().toLower();
}

/// One tag with its fetched attributes emptied; empty for a tag that would
/// send the browser elsewhere by itself (a refresh).
QString cleanTag(const QString& tag)
{
    static const QRegularExpression fetched(
        QStringLiteral(R"re(\b(src|srcset|background|poster|lowsrc|dynsrc|data|action|formaction|href)\s*=\s*("[^"]*"|'[^']*'|[^\s>]+))re"),
        QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression refresh(QStringLiteral(R"re(http-equiv\s*=\s*["']?refresh)re"),
                                            QRegularExpression::CaseInsensitiveOption);
    const QString name = tagName(tag);
    if (name == u"meta" && refresh.match(tag).hasMatch())
        return {};
    // href loads by itself on <link>, <base>, <image>, but a link the user clicks stays.
    const bool clicked = name == u"a" || name == u"area";
    QString clean;
    qsizetype at = 0;
    for (auto attrs = fetched.globalMatch(tag); attrs.hasNext();) {
        const QRegularExpressionMatch a = attrs.next();
        clean += QStringView(tag).sliced(at, a.capturedStart() - at);
        const bool keep = (clicked && a.capturedView(1).compare(u"href", Qt::CaseInsensitive) == 0) ||
                          !fetchable(a.capturedView(2));
        clean += keep ? a.captured() : a.captured(1) + QStringLiteral("=\"\"");
        at = a.capturedEnd();
    }
    clean += QStringView(tag).sliced(at);
    return clean;
}

/// CSS url(...) references emptied; a "url(" without its ")" ends the scan.
QString withoutCssUrls(const QString& text)
{
    QString out;
    common::text::NextOf<QStringView> close(text, u")");
    qsizetype done = 0;
    for (qsizetype open = text.indexOf(u"url(", 0, Qt::CaseInsensitive); open >= 0;
         open = text.indexOf(u"url(", done, Qt::CaseInsensitive)) {
        const qsizetype end = close.from(open + 4);
        if (end >= text.size())
            break;
        out += QStringView(text).sliced(done, open - done);
        const QStringView inside = QStringView(text).sliced(open + 4, end - open - 4);
        out += fetchable(inside) ? QStringLiteral("url()") : QStringView(text).sliced(open, end + 1 - open).toString();
        done = end + 1;
    }
    out += QStringView(text).sliced(done);
    return out;
}

} // namespace

QString withoutRemoteReferences(const QString& html)
{
    static const QRegularExpression cssImport(QStringLiteral(R"re(@import\s+(?:"[^"]*"|'[^']*'))re"),
                                              QRegularExpression::CaseInsensitiveOption);
    // One pass over the tags; a "<" without its ">" is text to the end, as a browser reads it.
    QString out;
    out.reserve(html.size());
    common::text::NextOf<QStringView> close(html, u">");
    qsizetype done = 0;
    for (qsizetype open = html.indexOf(u'<'); open >= 0; open = html.indexOf(u'<', done)) {
        const qsizetype end = close.from(open + 1);
        if (end >= html.size())
            break;
        out += QStringView(html).sliced(done, open - done);
        out += cleanTag(html.sliced(open, end + 1 - open));
        done = end + 1;
    }
    out += QStringView(html).sliced(done);
    out.replace(cssImport, QStringLiteral("@import \"\""));
    return withoutCssUrls(out);
}

bool bodyWasCut(QByteArrayView recordBytes)
{
    using storage::MailRecord;
    if (recordBytes.size() < MailRecord::Size)
        return false;
    QByteArrayView body = recordBytes.sliced(MailRecord::BodyOffset, MailRecord::BodyWidth);
    const qsizetype nul = body.indexOf('\0');
    if (nul >= 0)
        return false;
    while (!body.isEmpty() && body.back() == ' ')
        body.chop(1);
    // A double-byte character that did not fit leaves one blank of padding.
    return body.size() >= MailRecord::BodyWidth - 1;
}

QString sizeText(qint64 bytes)
{
    if (bytes < 1024)
        return QString::number(bytes) + QStringLiteral(" B");
    const char* units[] = {"KB", "MB", "GB", "TB"};
    double value = double(bytes) / 1024;
    int unit = 0;
    while (value >= 1024 && unit < 3) {
        value /= 1024;
        ++unit;
    }
    return QString::number(value, 'f', 1) + u' ' + QLatin1String(units[unit]);
}

QString folderFileName(const transport::mime::Attachment& attachment)
{
    // The receive's own naming (transport::attachment::Folder::write).
    QString name = attachment.name;
    if (attachment.type == "message/rfc822") {
        if (name.trimmed().isEmpty())
            name = QStringLiteral("message");
        if (!name.endsWith(QStringLiteral(".eml"), Qt::CaseInsensitive))
            name += QStringLiteral(".eml");
    }
    return transport::attachment::sanitizeFileName(name, transport::attachment::extensionForType(attachment.type));
}

QString findInFolder(const QString& folder, const transport::mime::Attachment& attachment)
{
    const QFileInfo named(folderFileName(attachment));
    const QString base = named.completeBaseName();
    const QString suffix = named.suffix().isEmpty() ? QString() : u'.' + named.suffix();
    // The receive numbers a taken name "name (2).ext", "name (3).ext", ...
    const QRegularExpression variant(u'^' + QRegularExpression::escape(base) + QStringLiteral(R"((?: \(\d+\))?)") +
                                         QRegularExpression::escape(suffix) + u'$',
                                     QRegularExpression::CaseInsensitiveOption);
    const QFileInfoList files = QDir(folder).entryInfoList(QDir::Files | QDir::Hidden, QDir::Name);
    for (const QFileInfo& file : files) {
        if (file.size() != attachment.data.size() || !variant.match(file.fileName()).hasMatch())
            continue;
        QFile candidate(file.filePath());
        if (candidate.open(QIODevice::ReadOnly) && candidate.readAll() == attachment.data)
            return file.filePath();
    }
    return {};
}

} // namespace corvidan::history::original
