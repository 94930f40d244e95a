// GLib headers use names Qt defines as macros; they come first.
#include <gmime/gmime.h>

#include "transport/Mime.h"

#include "transport/Attachment.h"
#include "transport/Charset.h"
#include "transport/HeaderDecoder.h"

#include <QHash>
#include <QRegularExpression>
#include <mutex>

namespace corvidan::transport::mime {

namespace {

/// Owns one GObject reference.
template <typename T>
struct GRef {
    T* p = nullptr;
    GRef() = default;
    explicit GRef(T* object) : p(object) {}
    ~GRef() { if (p) g_object_unref(p); }
    GRef(const GRef&) = delete;
    GRef& operator=(const GRef&) = delete;
    T* get() const { return p; }
};

void initializeOnce()
{
    static std::once_flag once;
    std::call_once(once, [] { g_mime_init(); });
}

QByteArray rawHeader(GMimeObject* object, const char* name)
{
    GMimeHeaderList* headers = g_mime_object_get_header_list(object);
    GMimeHeader* header = headers ? g_mime_header_list_get_header(headers, name) : nullptr;
    const char* raw = header ? g_mime_header_get_raw_value(header) : nullptr;
    return raw ? QByteArray(raw) : QByteArray();
}

QByteArray mimeType(GMimeObject* object)
{
    GMimeContentType* type = g_mime_object_get_content_type(object);
    if (!type)
        return QByteArrayLiteral("text/plain");
    char* text = g_mime_content_type_get_mime_type(type);
    QByteArray out = QByteArray(text).toLower();
    g_free(text);
    return out;
}

bool isAttachmentDisposition(GMimeObject* object)
{
    GMimeContentDisposition* disposition = g_mime_object_get_content_disposition(object);
    return disposition && g_mime_content_disposition_is_attachment(disposition);
}

QString fileNameOf(GMimeObject* object)
{
    QString name = header::parameter(rawHeader(object, "Content-Disposition"), "filename");
    if (name.isEmpty())
        name = header::parameter(rawHeader(object, "Content-Type"), "name");
    return name;
}

QByteArray decodedContent(GMimePart* part)
{
    GMimeDataWrapper* content = g_mime_part_get_content(part);
    if (!content)
        return {};
    GRef<GMimeStream> out(g_mime_stream_mem_new());
    g_mime_data_wrapper_write_to_stream(content, out.get());
    GByteArray* bytes = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(out.get()));
    return QByteArray(reinterpret_cast<const char*>(bytes->data), static_cast<qsizetype>(bytes->len));
}

QByteArray serialized(GMimeObject* object)
{
    GRef<GMimeStream> out(g_mime_stream_mem_new());
    g_mime_object_write_to_stream(object, nullptr, out.get());
    GByteArray* bytes = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(out.get()));
    return QByteArray(reinterpret_cast<const char*>(bytes->data), static_cast<qsizetype>(bytes->len));
}

QByteArray htmlCharset(const QByteArray& html)
{
    static const QRegularExpression meta(QStringLiteral("<meta[^>]+charset\\s*=\\s*[\"']?([A-Za-z0-9_\\-]+)"),
                                         QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = meta.match(QString::fromLatin1(html.left(4096)));
    return match.hasMatch() ? match.captured(1).toLatin1() : QByteArray();
}

/// Walks the MIME tree once, collecting the reader's text and the attachments.
class Walker {
public:
    explicit Walker(const QString& folder) : m_folder(folder) {}

    void walk(GMimeObject* object)
    {
        if (GMIME_IS_MULTIPART(object)) {
            GMimeMultipart* multipart = GMIME_MULTIPART(object);
            for (int i = 0; i < g_mime_multipart_get_count(multipart); ++i)
                walk(g_mime_multipart_get_part(multipart, i));
        } else if (GMIME_IS_MESSAGE_PART(object)) {
            saveMessagePart(object);
        } else if (GMIME_IS_PART(object)) {
            leaf(GMIME_PART(object));
        }
    }

    Extraction finish()
    {
        if (!m_plainFound && m_htmlFound)
            m_out.body = charset::toCrLf(htmlToText(m_html));
        return std::move(m_out);
    }

    Extraction& out() { return m_out; }

private:
    void leaf(GMimePart* part)
    {
        GMimeObject* object = GMIME_OBJECT(part);
        const QByteArray type = mimeType(object);
        const QString name = fileNameOf(object);
        const bool text = type.startsWith("text/");
        const bool attachment = isAttachmentDisposition(object) || !name.isEmpty() || !text;
        if (attachment) {
            save(name, type, decodedContent(part));
            return;
        }
        const QByteArray label = header::parameter(rawHeader(object, "Content-Type"), "charset").toLatin1();
        if (type == "text/plain" && !m_plainFound) {
            m_plainFound = true;
            QList<UuFile> files;
            const QByteArray bytes = takeUuencoded(decodedContent(part), files);
            for (const UuFile& file : files)
                save(file.name, "application/octet-stream", file.data);
            m_out.body = charset::toCrLf(charset::decode(bytes, label));
        } else if (type == "text/html" && !m_htmlFound) {
            m_htmlFound = true;
            const QByteArray bytes = decodedContent(part);
            m_html = charset::decode(bytes, label.isEmpty() ? htmlCharset(bytes) : label);
        }
    }

    void saveMessagePart(GMimeObject* object)
    {
        GMimeMessage* inner = g_mime_message_part_get_message(GMIME_MESSAGE_PART(object));
        if (!inner)
            return;
        QString name = fileNameOf(object);
        if (name.isEmpty())
            name = header::decodeText(rawHeader(GMIME_OBJECT(inner), "Subject"));
        if (name.isEmpty())
            name = QStringLiteral("message");
        if (!name.endsWith(QStringLiteral(".eml"), Qt::CaseInsensitive))
            name += QStringLiteral(".eml");
        save(name, "message/rfc822", serialized(GMIME_OBJECT(inner)));
    }

    void save(const QString& name, const QByteArray& type, const QByteArray& data)
    {
        const QString clean = attachment::sanitizeFileName(name, attachment::extensionForType(type));
        const QString path = attachment::writeNew(m_folder, clean, data);
        if (path.isEmpty()) {
            m_out.result = FileNotCreated;
            m_out.error = QStringLiteral("添付ファイルを作成できません: ") + m_folder + u'/' + clean;
        } else {
            m_out.written << path;
        }
    }

    QString m_folder;
    Extraction m_out;
    bool m_plainFound = false;
    bool m_htmlFound = false;
    QString m_html;
};

GMimeMessage* parseMessage(const QByteArray& bytes)
{
    GRef<GMimeStream> stream(g_mime_stream_mem_new_with_buffer(bytes.constData(), static_cast<size_t>(bytes.size())));
    GRef<GMimeParser> parser(g_mime_parser_new_with_stream(stream.get()));
    GMimeParserOptions* options = g_mime_parser_options_new();
    g_mime_parser_options_set_rfc2047_compliance_mode(options, GMIME_RFC_COMPLIANCE_LOOSE);
    g_mime_parser_options_set_parameter_compliance_mode(options, GMIME_RFC_COMPLIANCE_LOOSE);
    g_mime_parser_options_set_address_compliance_mode(options, GMIME_RFC_COMPLIANCE_LOOSE);
    const char* fallback[] = {"utf-8", "cp932", "iso-8859-1", nullptr};
    g_mime_parser_options_set_fallback_charsets(options, fallback);
    GMimeMessage* message = g_mime_parser_construct_message(parser.get(), options);
    g_mime_parser_options_free(options);
    return message;
}

QString resolveEntity(const QString& entity)
{
    static const QHash<QString, QString> named = {
        {QStringLiteral("amp"), QStringLiteral("&")},  {QStringLiteral("lt"), QStringLiteral("<")},
        {QStringLiteral("gt"), QStringLiteral(">")},   {QStringLiteral("quot"), QStringLiteral("\"")},
        {QStringLiteral("apos"), QStringLiteral("'")}, {QStringLiteral("nbsp"), QStringLiteral(" ")},
        {QStringLiteral("copy"), QStringLiteral("©")}, {QStringLiteral("reg"), QStringLiteral("®")},
        {QStringLiteral("yen"), QStringLiteral("¥")},  {QStringLiteral("hellip"), QStringLiteral("…")},
        {QStringLiteral("mdash"), QStringLiteral("—")}, {QStringLiteral("ndash"), QStringLiteral("–")},
    };
    if (entity.startsWith(u'#')) {
        bool ok = false;
        const uint code = entity.size() > 1 && (entity[1] == u'x' || entity[1] == u'X') ? entity.mid(2).toUInt(&ok, 16)
                                                                                         : entity.mid(1).toUInt(&ok, 10);
        if (ok && code > 0 && code <= 0x10FFFF) {
            const char32_t c = code;
            return QString::fromUcs4(&c, 1);
        }
        return {};
    }
    return named.value(entity.toLower());
}

} // namespace

Extraction extract(const QByteArray& message, const QString& folder)
{
    initializeOnce();
    GRef<GMimeMessage> parsed(parseMessage(message));
    if (!parsed.get()) {
        Extraction plain;
        plain.body = charset::toCrLf(charset::decodeGuessed(message.mid(header::bodyOffset(message))));
        return plain;
    }
    GMimeObject* root = g_mime_message_get_mime_part(parsed.get());
    if (root && GMIME_IS_MESSAGE_PARTIAL(root)) {
        GMimeMessagePartial* partial = GMIME_MESSAGE_PARTIAL(root);
        GRef<GMimeMessage> whole(g_mime_message_partial_reconstruct_message(&partial, 1));
        if (!whole.get()) {
            Extraction missing;
            missing.result = PartsMissing;
            missing.error = QStringLiteral("分割されたメールの一部しかありません");
            return missing;
        }
        Walker walker(folder);
        if (GMimeObject* part = g_mime_message_get_mime_part(whole.get()))
            walker.walk(part);
        return walker.finish();
    }
    Walker walker(folder);
    if (root)
        walker.walk(root);
    return walker.finish();
}

QString htmlToText(QStringView html)
{
    static const QRegularExpression hidden(
        QStringLiteral("<(script|style|head|title)\\b[^>]*>.*?</\\1\\s*>|<!--.*?-->"),
        QRegularExpression::CaseInsensitiveOption | QRegularExpression::DotMatchesEverythingOption);
    static const QRegularExpression breaks(
        QStringLiteral("<(br|/p|p|/div|/tr|/li|/h[1-6]|/table|hr|/blockquote)\\b[^>]*>"),
        QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression tags(QStringLiteral("<[^>]*>"));
    static const QRegularExpression spaces(QStringLiteral("[ \\t\\r\\n\\f]+"));
    static const QRegularExpression entity(QStringLiteral("&(#[0-9]+|#[xX][0-9a-fA-F]+|[a-zA-Z]+);"));

    QString text = html.toString();
    text.remove(hidden);
    text.replace(spaces, QStringLiteral(" "));
    text.replace(breaks, QStringLiteral("\n"));
    text.remove(tags);
    QString resolved;
    qsizetype last = 0;
    for (auto it = entity.globalMatch(text); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        const QString value = resolveEntity(m.captured(1));
        resolved += QStringView(text).mid(last, m.capturedStart() - last);
        resolved += value.isNull() ? m.captured(0) : value;
        last = m.capturedEnd();
    }
    resolved += QStringView(text).mid(last);

    QStringList lines;
    for (const QString& line : resolved.split(u'\n')) {
        const QString trimmed = line.trimmed();
        if (!trimmed.isEmpty() || (!lines.isEmpty() && !lines.last().isEmpty()))
            lines << trimmed;
    }
    while (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines.join(QStringLiteral("\r\n"));
}

QByteArray takeUuencoded(const QByteArray& text, QList<UuFile>& files)
{
    static const QRegularExpression begin(QStringLiteral("^begin [0-7]{3,4} (.+)$"));
    if (!text.contains("begin "))
        return text;
    QByteArray kept;
    const QList<QByteArray> lines = text.split('\n');
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QByteArray line = lines[i].endsWith('\r') ? lines[i].chopped(1) : lines[i];
        const QRegularExpressionMatch match = begin.match(QString::fromLatin1(line));
        qsizetype end = i + 1;
        while (match.hasMatch() && end < lines.size() && lines[end].trimmed() != "end")
            ++end;
        if (!match.hasMatch() || end >= lines.size()) {
            kept += lines[i];
            if (i + 1 < lines.size())
                kept += '\n';
            continue;
        }
        UuFile file{charset::decodeGuessed(match.captured(1).toLatin1()).trimmed(), {}};
        for (qsizetype k = i + 1; k < end; ++k) {
            const QByteArray uu = lines[k].endsWith('\r') ? lines[k].chopped(1) : lines[k];
            if (uu.isEmpty())
                continue;
            const int count = (uu[0] - 0x20) & 0x3F;
            QByteArray decoded;
            for (qsizetype p = 1; p < uu.size() && decoded.size() < count; p += 4) {
                auto six = [&](qsizetype at) { return at < uu.size() ? (uu[at] - 0x20) & 0x3F : 0; };
                const int a = six(p), b = six(p + 1), c = six(p + 2), d = six(p + 3);
                decoded += static_cast<char>((a << 2) | (b >> 4));
                decoded += static_cast<char>(((b & 0xF) << 4) | (c >> 2));
                decoded += static_cast<char>(((c & 0x3) << 6) | d);
            }
            file.data += decoded.left(count);
        }
        files.append(file);
        i = end;
    }
    return kept;
}

} // namespace corvidan::transport::mime
