// GLib headers use names Qt defines as macros; they come first.
#include <gmime/gmime.h>

#include "transport/Mime.h"

#include "transport/Attachment.h"
#include "common/Text.h"
#include "transport/Charset.h"
#include "transport/HeaderDecoder.h"

#include <QHash>
#include <QMap>
#include <QRegularExpression>
#include <QSet>
#include <algorithm>
#include <array>
#include <cstring>
#include <mutex>
#include <vector>

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

QByteArray viaMemoryStream(GMimeDataWrapper* content)
{
    GRef<GMimeStream> out(g_mime_stream_mem_new());
    g_mime_data_wrapper_write_to_stream(content, out.get());
    GByteArray* bytes = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(out.get()));
    return QByteArray(reinterpret_cast<const char*>(bytes->data), static_cast<qsizetype>(bytes->len));
}

/// The part's content with its transfer encoding undone, decoded straight into
/// the result: no intermediate buffer of the whole content.
QByteArray decodedContent(GMimePart* part)
{
    GMimeDataWrapper* content = g_mime_part_get_content(part);
    GMimeStream* stream = content ? g_mime_data_wrapper_get_stream(content) : nullptr;
    if (!stream)
        return {};
    g_mime_stream_reset(stream);
    const GMimeContentEncoding encoding = g_mime_data_wrapper_get_encoding(content);
    if (encoding == GMIME_CONTENT_ENCODING_UUENCODE)
        return viaMemoryStream(content); // GMime's filter finds the "begin" line itself
    const bool transformed = encoding == GMIME_CONTENT_ENCODING_BASE64
                             || encoding == GMIME_CONTENT_ENCODING_QUOTEDPRINTABLE;
    GMimeEncoding state;
    if (transformed)
        g_mime_encoding_init_decode(&state, encoding);
    constexpr size_t Chunk = 64 * 1024;
    QByteArray out;
    // The stream is part of the message itself, so its length is a real size, not a claim.
    const gint64 length = g_mime_stream_length(stream);
    if (length > 0)
        out.reserve(static_cast<qsizetype>(length) + static_cast<qsizetype>(length / Chunk + 2) * 8);
    std::vector<char> in(length > 0 && length < gint64(Chunk) ? size_t(length) + 1 : Chunk);
    for (;;) {
        const ssize_t n = g_mime_stream_read(stream, in.data(), in.size());
        if (n <= 0)
            break;
        if (!transformed) {
            out.append(in.data(), n);
            continue;
        }
        const qsizetype at = out.size();
        out.resize(at + static_cast<qsizetype>(g_mime_encoding_outlen(&state, static_cast<size_t>(n))));
        out.resize(at + static_cast<qsizetype>(g_mime_encoding_step(&state, in.data(), static_cast<size_t>(n), out.data() + at)));
    }
    if (transformed) {
        const qsizetype at = out.size();
        out.resize(at + static_cast<qsizetype>(g_mime_encoding_outlen(&state, 0)) + 8);
        out.resize(at + static_cast<qsizetype>(g_mime_encoding_flush(&state, nullptr, 0, out.data() + at)));
    }
    return out;
}

QByteArray serialized(GMimeObject* object)
{
    GRef<GMimeStream> out(g_mime_stream_mem_new());
    g_mime_object_write_to_stream(object, nullptr, out.get());
    GByteArray* bytes = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(out.get()));
    return QByteArray(reinterpret_cast<const char*>(bytes->data), static_cast<qsizetype>(bytes->len));
}

/// Where `object`'s own header starts in the parsed bytes, or -1.
qint64 headerStart(GMimeObject* object)
{
    GMimeHeaderList* headers = g_mime_object_get_header_list(object);
    if (!headers || g_mime_header_list_get_count(headers) < 1)
        return -1;
    return g_mime_header_get_offset(g_mime_header_list_get_header_at(headers, 0));
}

QByteArray htmlCharset(const QByteArray& html)
{
    static const QRegularExpression meta(QStringLiteral("<meta[^>]+charset\\s*=\\s*[\"']?([A-Za-z0-9_\\-]+)"),
                                         QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = meta.match(QString::fromLatin1(html.left(4096)));
    return match.hasMatch() ? match.captured(1).toLatin1() : QByteArray();
}

/// Walks the MIME tree once, collecting the reader's text and the attachments.
/// The walk keeps its own stack: a hostile message may nest parts thousands deep.
class Walker {
public:
    Walker(QByteArrayView source, QByteArrayView charsetOverride, Parsed& out)
        : m_source(source), m_override(charsetOverride), m_out(out)
    {
    }

    void walk(GMimeObject* root)
    {
        std::vector<std::pair<GMimeObject*, const char*>> pending{{root, nullptr}};
        while (!pending.empty()) {
            auto [object, boundary] = pending.back();
            pending.pop_back();
            if (GMIME_IS_MULTIPART(object)) {
                GMimeMultipart* multipart = GMIME_MULTIPART(object);
                const char* own = g_mime_multipart_get_boundary(multipart);
                for (int i = g_mime_multipart_get_count(multipart) - 1; i >= 0; --i)
                    pending.emplace_back(g_mime_multipart_get_part(multipart, i), own);
            } else if (GMIME_IS_MESSAGE_PART(object)) {
                saveMessagePart(object, boundary);
            } else if (GMIME_IS_PART(object)) {
                leaf(GMIME_PART(object));
            }
        }
    }

    void finish()
    {
        if (!m_plainFound && m_htmlFound)
            m_out.body = charset::toCrLf(htmlToText(m_html));
        m_out.html = std::move(m_html);
    }

private:
    void leaf(GMimePart* part)
    {
        GMimeObject* object = GMIME_OBJECT(part);
        const QByteArray type = mimeType(object);
        const QString name = fileNameOf(object);
        const bool text = type.startsWith("text/");
        const bool attachment = isAttachmentDisposition(object) || !name.isEmpty() || !text;
        if (attachment) {
            m_out.attachments.append(Attachment{name, type, decodedContent(part)});
            return;
        }
        const QByteArray label = !m_override.isEmpty()
                                     ? m_override.toByteArray()
                                     : header::parameter(rawHeader(object, "Content-Type"), "charset").toLatin1();
        if (type == "text/plain" && !m_plainFound) {
            m_plainFound = true;
            QList<UuFile> files;
            const QByteArray bytes = takeUuencoded(decodedContent(part), files);
            for (UuFile& file : files)
                m_out.attachments.append(Attachment{file.name, "application/octet-stream", std::move(file.data)});
            m_out.body = charset::toCrLf(charset::decode(bytes, label));
        } else if (type == "text/html" && !m_htmlFound) {
            m_htmlFound = true;
            const QByteArray bytes = decodedContent(part);
            m_html = charset::decode(bytes, label.isEmpty() ? htmlCharset(bytes) : label);
        }
    }

    void saveMessagePart(GMimeObject* object, const char* boundary)
    {
        GMimeMessage* inner = g_mime_message_part_get_message(GMIME_MESSAGE_PART(object));
        if (!inner)
            return;
        QString name = fileNameOf(object);
        if (name.isEmpty())
            name = header::decodeText(rawHeader(GMIME_OBJECT(inner), "Subject"));
        m_out.attachments.append(Attachment{name, "message/rfc822", originalBytes(object, inner, boundary)});
    }

    /// The attached message as it came: from its first header to the delimiter
    /// that ends its part. Re-serialising would change its bytes.
    QByteArray originalBytes(GMimeObject* part, GMimeMessage* inner, const char* boundary) const
    {
        const QByteArray encoding = rawHeader(part, "Content-Transfer-Encoding").trimmed().toLower();
        const qint64 start = headerStart(GMIME_OBJECT(inner));
        if (start < 0 || start >= m_source.size() || encoding == "base64" || encoding == "quoted-printable")
            return serialized(GMIME_OBJECT(inner));
        qsizetype end = m_source.size();
        if (boundary) {
            const QByteArray delimiter = "\n--" + QByteArray(boundary);
            const qsizetype at = m_source.indexOf(delimiter, start);
            if (at >= 0)
                end = at > start && m_source[at - 1] == '\r' ? at - 1 : at;
        }
        return m_source.sliced(start, end - start).toByteArray();
    }

    QByteArrayView m_source;
    QByteArrayView m_override;
    Parsed& m_out;
    bool m_plainFound = false;
    bool m_htmlFound = false;
    QString m_html;
};

/// The boundary a header line announces, or empty.
QByteArray announcedBoundary(QByteArrayView line)
{
    const qsizetype at = line.toByteArray().toLower().indexOf("boundary=");
    if (at < 0)
        return {};
    QByteArrayView rest = line.sliced(at + 9);
    if (rest.startsWith('"')) {
        const qsizetype close = rest.indexOf('"', 1);
        return close > 1 ? rest.sliced(1, close - 1).toByteArray() : QByteArray();
    }
    qsizetype end = 0;
    while (end < rest.size() && rest[end] != ';' && rest[end] != ' ' && rest[end] != '\t' && rest[end] != '\r')
        ++end;
    return rest.first(end).toByteArray();
}

/// Replaces the NULs of every header block (the message's and each part's,
/// found by the boundaries the headers announce) with blanks, in place, so a
/// stray NUL neither ends a field nor hides the MIME structure. Content keeps
/// its bytes; the length stays, so offsets still point into the original.
void blankHeaderNuls(char* data, qsizetype size)
{
    QSet<QByteArray> boundaries;
    bool inHeader = true;
    for (qsizetype pos = 0; pos < size;) {
        const char* lf = static_cast<const char*>(std::memchr(data + pos, '\n', size_t(size - pos)));
        const qsizetype end = lf ? lf - data : size;
        QByteArrayView line(data + pos, end - pos);
        if (line.endsWith('\r'))
            line.chop(1);
        if (inHeader) {
            for (qsizetype i = pos; i < end; ++i)
                if (data[i] == 0)
                    data[i] = ' ';
            if (line.isEmpty())
                inHeader = false;
            else if (const QByteArray b = announcedBoundary(line); !b.isEmpty())
                boundaries.insert(b);
        } else if (line.startsWith("--") && !boundaries.isEmpty()) {
            const QByteArray name = line.sliced(2).trimmed().toByteArray();
            inHeader = boundaries.contains(name);
        }
        pos = end + 1;
    }
}

/// A GMime stream that reads the caller's bytes in place: GMime's own memory
/// stream would hold one more copy of a message of tens of megabytes. Only a
/// message with a NUL is copied, to blank the NULs of its headers.
class BorrowedStream {
public:
    explicit BorrowedStream(QByteArrayView bytes)
    {
        const char* data = bytes.isEmpty() ? "" : bytes.constData();
        if (!bytes.isEmpty() && std::memchr(bytes.constData(), 0, size_t(bytes.size()))) {
            m_blanked = bytes.toByteArray();
            blankHeaderNuls(m_blanked.data(), m_blanked.size());
            data = m_blanked.constData();
        }
        // GMime only reads from it; it never writes to nor frees the borrowed bytes.
        m_array = g_byte_array_new_take(reinterpret_cast<guint8*>(const_cast<char*>(data)), size_t(bytes.size()));
        m_stream = g_mime_stream_mem_new_with_byte_array(m_array);
        g_mime_stream_mem_set_owner(GMIME_STREAM_MEM(m_stream), FALSE);
    }
    ~BorrowedStream()
    {
        g_object_unref(m_stream);
        g_byte_array_steal(m_array, nullptr); // the bytes go back to their owner, not to g_free
        g_byte_array_unref(m_array);
    }
    BorrowedStream(const BorrowedStream&) = delete;
    BorrowedStream& operator=(const BorrowedStream&) = delete;
    GMimeStream* get() const { return m_stream; }

private:
    QByteArray m_blanked;
    GByteArray* m_array = nullptr;
    GMimeStream* m_stream = nullptr;
};

GMimeMessage* parseMessage(const BorrowedStream& stream)
{
    GRef<GMimeParser> parser(g_mime_parser_new_with_stream(stream.get()));
    GMimeParserOptions* options = g_mime_parser_options_new();
    g_mime_parser_options_set_rfc2047_compliance_mode(options, GMIME_RFC_COMPLIANCE_STRICT);
    g_mime_parser_options_set_parameter_compliance_mode(options, GMIME_RFC_COMPLIANCE_LOOSE);
    g_mime_parser_options_set_address_compliance_mode(options, GMIME_RFC_COMPLIANCE_LOOSE);
    const char* fallback[] = {"utf-8", "cp932", "iso-8859-1", nullptr};
    g_mime_parser_options_set_fallback_charsets(options, fallback);
    GMimeMessage* message = g_mime_parser_construct_message(parser.get(), options);
    g_mime_parser_options_free(options);
    return message;
}

QString withoutNuls(QString text)
{
    text.remove(QChar(u'\0'));
    return text;
}

void fillFields(QByteArrayView message, Parsed& out)
{
    const QByteArrayView block = header::headerBlock(message);
    QByteArray subject, date, from;
    for (const header::Field& field : header::parseFields(block)) {
        const auto take = [&](const char* name, QByteArray& into) {
            if (into.isNull() && field.name.compare(name, Qt::CaseInsensitive) == 0)
                into = field.rawValue.isNull() ? QByteArray("") : field.rawValue;
        };
        take("Subject", subject);
        take("Date", date);
        take("From", from);
    }
    out.subject = withoutNuls(header::decodeText(subject));
    out.date = withoutNuls(header::plainText(date));
    out.from = withoutNuls(header::decodeAddress(from));
    // Ends with the line end of its last field, so header + CR LF + body is the message again.
    out.header = withoutNuls(charset::toCrLf(charset::decode(block, {})) + QStringLiteral("\r\n"));
}

QString fragmentNotice(const Fragment& fragment)
{
    const QString which = fragment.total > 0
                              ? QString::number(fragment.number) + u'/' + QString::number(fragment.total)
                              : QString::number(fragment.number);
    return QStringLiteral("（分割されたメールの ") + which +
           QStringLiteral(" 番目の部分です。残りの部分が揃っていないため、本文を表示できません。）");
}

/// Header fields a split message takes from the message inside its first piece.
bool isEnclosedField(QByteArrayView name)
{
    const QByteArray lower = name.toByteArray().toLower();
    return lower.startsWith("content-") || lower == "subject" || lower == "message-id" || lower == "encrypted"
           || lower == "mime-version";
}

void appendFields(QByteArray& out, QByteArrayView block, bool enclosed, QByteArrayView eol)
{
    for (const header::Field& field : header::parseFields(block)) {
        if (isEnclosedField(field.name) != enclosed)
            continue;
        QByteArray value = field.rawValue;
        if (eol != "\r\n")
            value.replace("\r\n", eol.toByteArray());
        out += field.name + ": " + value;
        out += eol;
    }
}

Parsed parseAt(QByteArrayView message, int depth, QByteArrayView charsetOverride);

/// A split message's piece: the notice, or the whole message when it is the only piece.
void takeFragment(QByteArrayView message, GMimeMessagePartial* partial, int depth, QByteArrayView charsetOverride,
                  Parsed& out)
{
    // GMime gives -1 for a number the piece does not state.
    Fragment fragment{QByteArray(g_mime_message_partial_get_id(partial)),
                      std::max(0, g_mime_message_partial_get_number(partial)),
                      std::max(0, g_mime_message_partial_get_total(partial))};
    if (fragment.number == 1 && fragment.total == 1 && depth == 0) {
        if (const std::optional<QByteArray> whole = joinFragments({message.toByteArray()})) {
            Parsed inner = parseAt(*whole, depth + 1, charsetOverride);
            out.body = std::move(inner.body);
            out.attachments = std::move(inner.attachments);
            out.html = std::move(inner.html);
            return;
        }
    }
    out.body = fragmentNotice(fragment);
    out.fragment = std::move(fragment);
}

Parsed parseAt(QByteArrayView message, int depth, QByteArrayView charsetOverride)
{
    initializeOnce();
    Parsed out;
    fillFields(message, out);
    // GMime's lengths are 32-bit; anything that large is read as plain text.
    if (message.size() >= qsizetype(G_MAXUINT32)) {
        out.body = charset::toCrLf(charset::decode(message.sliced(header::bodyOffset(message)), charsetOverride));
        return out;
    }
    const BorrowedStream source(message); // outlives every GMime object below
    GRef<GMimeMessage> parsed(parseMessage(source));
    if (!parsed.get()) {
        out.body = charset::toCrLf(charset::decode(message.sliced(header::bodyOffset(message)), charsetOverride));
        return out;
    }
    GMimeObject* root = g_mime_message_get_mime_part(parsed.get());
    if (root && GMIME_IS_MESSAGE_PARTIAL(root)) {
        takeFragment(message, GMIME_MESSAGE_PARTIAL(root), depth, charsetOverride, out);
        return out;
    }
    Walker walker(message, charsetOverride, out);
    if (root)
        walker.walk(root);
    walker.finish();
    return out;
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

Parsed parse(QByteArrayView message, QByteArrayView charsetOverride)
{
    return parseAt(message, 0, charsetOverride);
}

std::optional<QByteArray> joinFragments(const QList<QByteArray>& fragments)
{
    QByteArray id;
    int total = 0;
    QMap<int, qsizetype> byNumber;
    for (qsizetype i = 0; i < fragments.size(); ++i) {
        const QByteArray type = header::rawValue(header::headerBlock(fragments[i]), "Content-Type");
        if (!header::unfold(type).trimmed().toLower().startsWith("message/partial"))
            return std::nullopt;
        const QByteArray pieceId = header::parameter(type, "id").toUtf8();
        const int number = header::parameter(type, "number").toInt();
        const int pieceTotal = header::parameter(type, "total").toInt();
        if (number < 1 || pieceTotal < 0 || (i > 0 && pieceId != id))
            return std::nullopt;
        id = pieceId;
        if (pieceTotal > 0) {
            if (total > 0 && total != pieceTotal)
                return std::nullopt;
            total = pieceTotal;
        }
        byNumber.insert(number, i);
    }
    // Every number 1..total present: with no number outside that range, the counts say so.
    if (total < 1 || byNumber.size() != total || byNumber.firstKey() != 1 || byNumber.lastKey() != total)
        return std::nullopt;
    const QByteArrayView first = fragments[byNumber.value(1)];
    const QByteArrayView enclosed = first.sliced(header::bodyOffset(first));
    const QByteArrayView eol = header::headerBlock(first).contains("\r\n") || first.startsWith("\r\n")
                                   ? QByteArrayView("\r\n") : QByteArrayView("\n");
    QByteArray whole;
    appendFields(whole, header::headerBlock(first), false, eol);
    appendFields(whole, header::headerBlock(enclosed), true, eol);
    whole += eol;
    whole += enclosed.sliced(header::bodyOffset(enclosed));
    for (int number = 2; number <= total; ++number) {
        const QByteArrayView piece = fragments[byNumber.value(number)];
        whole += piece.sliced(header::bodyOffset(piece));
    }
    return whole;
}

Extraction extract(const QByteArray& message, const QString& folder)
{
    Parsed parsed = parse(message);
    Extraction out;
    out.body = std::move(parsed.body);
    if (parsed.fragment) {
        out.result = PartsMissing;
        return out;
    }
    attachment::Folder files(folder);
    for (const Attachment& a : std::as_const(parsed.attachments)) {
        const QString path = files.write(a.name, a.type, a.data);
        if (path.isEmpty()) {
            out.result = FileNotCreated;
            out.error = files.error();
        } else {
            out.written << path;
        }
    }
    attachment::deferSync(files);
    return out;
}

namespace {

bool isHtmlSpace(QChar c)
{
    return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n' || c == u'\f';
}

/// Closing tags are looked for without regard to case.
struct NextOf : common::text::NextOf<QStringView> {
    NextOf(QStringView text, QStringView needle) : common::text::NextOf<QStringView>(text, needle, Qt::CaseInsensitive) {}
};

/// Turns HTML into the reader's text in one pass over it, without regular
/// expressions: mail HTML is often broken and sometimes hostile.
class HtmlToText {
public:
    explicit HtmlToText(QStringView html)
        : m_html(html), m_tagEnd(html, u">"), m_commentEnd(html, u"-->"),
          m_closers{{{u"script", NextOf(html, u"</script")}, {u"style", NextOf(html, u"</style")},
                    {u"head", NextOf(html, u"</head")}, {u"title", NextOf(html, u"</title")}}}
    {
    }

    QString run()
    {
        qsizetype pos = 0;
        while (pos < m_html.size())
            pos = m_html[pos] == u'<' ? markup(pos) : text(pos);
        return m_out;
    }

private:
    struct Closer {
        QStringView name;
        NextOf next;
    };

    qsizetype text(qsizetype pos)
    {
        qsizetype end = m_html.indexOf(u'<', pos);
        if (end < 0)
            end = m_html.size();
        bool space = false;
        for (qsizetype i = pos; i < end; ++i) {
            const QChar c = m_html[i];
            if (isHtmlSpace(c)) {
                space = true;
                continue;
            }
            if (space)
                m_out += u' ';
            space = false;
            if (c == u'&')
                i = entity(i, end);
            else
                m_out += c;
        }
        if (space)
            m_out += u' ';
        return end;
    }

    /// Appends the character an entity at `pos` stands for; the index of its last character.
    qsizetype entity(qsizetype pos, qsizetype end)
    {
        qsizetype semi = pos + 1;
        while (semi < end && semi - pos <= 12 && (m_html[semi].isLetterOrNumber() || m_html[semi] == u'#'))
            ++semi;
        if (semi < end && m_html[semi] == u';' && semi > pos + 1) {
            const QString value = resolveEntity(m_html.sliced(pos + 1, semi - pos - 1).toString());
            if (!value.isNull()) {
                m_out += value;
                return semi;
            }
        }
        m_out += u'&';
        return pos;
    }

    qsizetype markup(qsizetype pos)
    {
        if (m_html.sliced(pos).startsWith(u"<!--")) {
            const qsizetype end = m_commentEnd.from(pos + 4);
            if (end < m_html.size())
                return end + 3;
        }
        const qsizetype gt = m_tagEnd.from(pos + 1);
        if (gt >= m_html.size()) {
            m_out += u'<'; // no tag without its end
            return pos + 1;
        }
        const QStringView tag = m_html.sliced(pos + 1, gt - pos - 1);
        const bool closing = tag.startsWith(u'/');
        qsizetype n = closing ? 1 : 0;
        while (n < tag.size() && tag[n].isLetterOrNumber())
            ++n;
        const QString name = tag.sliced(closing ? 1 : 0, n - (closing ? 1 : 0)).toString().toLower();
        if (!closing) {
            for (Closer& closer : m_closers) {
                if (closer.name != name)
                    continue;
                // Hidden content goes with its element; an element never closed hides nothing.
                const qsizetype close = closer.next.from(gt + 1);
                if (close < m_html.size()) {
                    const qsizetype closeEnd = m_tagEnd.from(close);
                    return closeEnd < m_html.size() ? closeEnd + 1 : m_html.size();
                }
                return gt + 1;
            }
        }
        element(name, closing, tag);
        return gt + 1;
    }

    void element(const QString& name, bool closing, QStringView tag)
    {
        static const QSet<QString> breakers = {QStringLiteral("br"), QStringLiteral("p"), QStringLiteral("hr")};
        static const QSet<QString> closeBreakers = {
            QStringLiteral("p"), QStringLiteral("div"), QStringLiteral("tr"), QStringLiteral("li"), QStringLiteral("table"),
            QStringLiteral("blockquote"), QStringLiteral("h1"), QStringLiteral("h2"), QStringLiteral("h3"),
            QStringLiteral("h4"), QStringLiteral("h5"), QStringLiteral("h6")};
        if (closing ? closeBreakers.contains(name) : breakers.contains(name))
            m_out += u'\n';
        if (name == u"a" && !closing) {
            m_link = href(tag);
            m_linkStart = m_out.size();
        } else if (name == u"a" && m_linkStart >= 0) {
            const QString label = m_out.sliced(m_linkStart).simplified();
            const QString target = m_link;
            const bool shown = label == target || QStringLiteral("mailto:") + label == target;
            if (!target.isEmpty() && !shown && !target.startsWith(u'#')
                && !target.startsWith(QStringLiteral("javascript:"), Qt::CaseInsensitive))
                m_out += label.isEmpty() ? target : QStringLiteral(" (") + target + u')';
            m_linkStart = -1;
        }
    }

    /// The href attribute of a tag, entities resolved; empty when none.
    QString href(QStringView tag)
    {
        const qsizetype at = tag.indexOf(u"href", 0, Qt::CaseInsensitive);
        if (at < 0)
            return {};
        qsizetype i = at + 4;
        while (i < tag.size() && isHtmlSpace(tag[i]))
            ++i;
        if (i >= tag.size() || tag[i] != u'=')
            return {};
        ++i;
        while (i < tag.size() && isHtmlSpace(tag[i]))
            ++i;
        qsizetype end = i;
        if (i < tag.size() && (tag[i] == u'"' || tag[i] == u'\'')) {
            end = tag.indexOf(tag[i], i + 1);
            ++i;
            if (end < 0)
                end = tag.size();
        } else {
            while (end < tag.size() && !isHtmlSpace(tag[end]))
                ++end;
        }
        QString value = tag.sliced(i, end - i).toString().trimmed();
        value.replace(QStringLiteral("&amp;"), QStringLiteral("&"));
        return value;
    }

    QStringView m_html;
    NextOf m_tagEnd;
    NextOf m_commentEnd;
    std::array<Closer, 4> m_closers;
    QString m_out;
    QString m_link;
    qsizetype m_linkStart = -1;
};

} // namespace

QString htmlToText(QStringView html)
{
    const QString resolved = HtmlToText(html).run();
    QStringList lines;
    for (QStringView line : QStringView(resolved).split(u'\n')) {
        const QString trimmed = line.trimmed().toString();
        if (!trimmed.isEmpty() || (!lines.isEmpty() && !lines.last().isEmpty()))
            lines << trimmed;
    }
    while (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines.join(QStringLiteral("\r\n"));
}

namespace {

/// The file name of a "begin 644 name" line, or nothing.
std::optional<QByteArray> uuBeginName(QByteArrayView line)
{
    if (!line.startsWith("begin "))
        return std::nullopt;
    qsizetype i = 6;
    while (i < line.size() && line[i] >= '0' && line[i] <= '7')
        ++i;
    if (i - 6 < 3 || i - 6 > 4 || i >= line.size() || line[i] != ' ' || i + 1 >= line.size())
        return std::nullopt;
    return line.sliced(i + 1).toByteArray();
}

QByteArrayView withoutCr(QByteArrayView line)
{
    return line.endsWith('\r') ? line.chopped(1) : line;
}

bool isUuEnd(QByteArrayView line)
{
    return line.trimmed() == "end";
}

void appendUuLine(QByteArray& out, QByteArrayView uu)
{
    if (uu.isEmpty())
        return;
    const int count = (uu[0] - 0x20) & 0x3F;
    const auto six = [&](qsizetype at) { return at < uu.size() ? (uu[at] - 0x20) & 0x3F : 0; };
    int written = 0;
    for (qsizetype p = 1; p < uu.size() && written < count; p += 4) {
        const int a = six(p), b = six(p + 1), c = six(p + 2), d = six(p + 3);
        const char bytes[3] = {static_cast<char>((a << 2) | (b >> 4)), static_cast<char>(((b & 0xF) << 4) | (c >> 2)),
                               static_cast<char>(((c & 0x3) << 6) | d)};
        const int take = std::min(3, count - written);
        out.append(bytes, take);
        written += take;
    }
}

} // namespace

QByteArray takeUuencoded(const QByteArray& text, QList<UuFile>& files)
{
    if (!text.contains("begin "))
        return text;
    QList<QByteArrayView> lines;
    for (qsizetype pos = 0; pos <= text.size();) {
        qsizetype lf = text.indexOf('\n', pos);
        if (lf < 0)
            lf = text.size();
        lines.append(QByteArrayView(text).sliced(pos, lf - pos));
        pos = lf + 1;
    }
    // The next "end" line is looked up once and reused by every "begin" before
    // it, so begins without ends cost one scan in all.
    qsizetype nextEnd = -1;
    const auto endFrom = [&](qsizetype i) {
        if (nextEnd < i && nextEnd != lines.size()) {
            nextEnd = i;
            while (nextEnd < lines.size() && !isUuEnd(withoutCr(lines[nextEnd])))
                ++nextEnd;
        }
        return nextEnd;
    };
    QByteArray kept;
    kept.reserve(text.size());
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const std::optional<QByteArray> name = uuBeginName(withoutCr(lines[i]));
        const qsizetype end = name ? endFrom(i + 1) : lines.size();
        if (!name || end >= lines.size()) {
            kept += lines[i];
            if (i + 1 < lines.size())
                kept += '\n';
            continue;
        }
        UuFile file{charset::decodeFileName(name->trimmed()), {}};
        for (qsizetype k = i + 1; k < end; ++k)
            appendUuLine(file.data, withoutCr(lines[k]));
        files.append(std::move(file));
        i = end;
    }
    return kept;
}

} // namespace corvidan::transport::mime
