#include "history/OriginalText.h"

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

QString withoutRemoteReferences(const QString& html)
{
    // An attribute the browser loads by itself, holding a network address.
    static const QRegularExpression fetched(
        QStringLiteral(R"re(\b(src|srcset|background|poster|lowsrc|dynsrc|data|action|formaction|xlink:href)\s*=\s*("[^"]*"|'[^']*'|[^\s>]+))re"),
        QRegularExpression::CaseInsensitiveOption);
    // href loads on <link>, <base>, <image>, <use>, but not on a link the user clicks.
    static const QRegularExpression tag(QStringLiteral(R"re(<\s*([a-zA-Z][a-zA-Z0-9:-]*)[^>]*>)re"));
    static const QRegularExpression href(QStringLiteral(R"re(\bhref\s*=\s*("[^"]*"|'[^']*'|[^\s>]+))re"),
                                         QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression cssUrl(QStringLiteral(R"re(url\s*\(\s*(?:"[^"]*"|'[^']*'|[^)]*)\s*\))re"),
                                           QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression cssImport(QStringLiteral(R"re(@import\s+(?:"[^"]*"|'[^']*'))re"),
                                              QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression refresh(QStringLiteral(R"re(<meta[^>]*http-equiv\s*=\s*["']?refresh[^>]*>)re"),
                                            QRegularExpression::CaseInsensitiveOption);
    const auto fetchable = [](QString value) {
        value = value.trimmed();
        if (value.startsWith(u'"') || value.startsWith(u'\''))
            value = value.mid(1, value.size() - 2).trimmed();
        return !value.startsWith(QStringLiteral("cid:"), Qt::CaseInsensitive) &&
               !value.startsWith(QStringLiteral("data:"), Qt::CaseInsensitive) && !value.startsWith(u'#');
    };

    QString out;
    out.reserve(html.size());
    qsizetype done = 0;
    for (auto tags = tag.globalMatch(html); tags.hasNext();) {
        const QRegularExpressionMatch t = tags.next();
        out += html.mid(done, t.capturedStart() - done);
        QString text = t.captured();
        QString clean;
        qsizetype at = 0;
        for (auto attrs = fetched.globalMatch(text); attrs.hasNext();) {
            const QRegularExpressionMatch a = attrs.next();
            clean += text.mid(at, a.capturedStart() - at);
            clean += fetchable(a.captured(2)) ? a.captured(1) + QStringLiteral("=\"\"") : a.captured();
            at = a.capturedEnd();
        }
        clean += text.mid(at);
        const QString name = t.captured(1).toLower();
        if (name != u"a" && name != u"area")
            clean.replace(href, QStringLiteral("href=\"\""));
        out += clean;
        done = t.capturedEnd();
    }
    out += html.mid(done);
    out.replace(refresh, QString());
    out.replace(cssImport, QStringLiteral("@import \"\""));
    out.replace(cssUrl, QStringLiteral("url()"));
    return out;
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
