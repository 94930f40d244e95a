// GLib before Qt: Qt defines `signals` as a keyword macro.
#include <gmime/gmime.h>

#include "SmtpTestMime.h"

#include <QRegularExpression>
#include <QStringDecoder>
#include <gtest/gtest.h>

namespace corvidan::test::mimecheck {

namespace {

QByteArray takeString(char* s)
{
    QByteArray out(s ? s : "");
    g_free(s);
    return out;
}

QByteArray decodedContent(GMimePart* part)
{
    GMimeDataWrapper* wrapper = g_mime_part_get_content(part);
    if (!wrapper)
        return {};
    GMimeStream* stream = g_mime_stream_mem_new();
    g_mime_data_wrapper_write_to_stream(wrapper, stream);
    GByteArray* array = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(stream));
    QByteArray out(reinterpret_cast<const char*>(array->data), static_cast<qsizetype>(array->len));
    g_object_unref(stream);
    return out;
}

QByteArray objectHeaders(GMimeObject* object)
{
    return takeString(g_mime_object_get_headers(object, nullptr));
}

Part readPart(GMimeObject* object)
{
    Part part;
    part.mimeType = takeString(g_mime_content_type_get_mime_type(g_mime_object_get_content_type(object)));
    part.charset = g_mime_object_get_content_type_parameter(object, "charset");
    part.headers = objectHeaders(object);
    if (GMIME_IS_PART(object)) {
        GMimePart* mimePart = GMIME_PART(object);
        part.transferEncoding = g_mime_content_encoding_to_string(g_mime_part_get_content_encoding(mimePart));
        part.fileName = QString::fromUtf8(g_mime_part_get_filename(mimePart));
        part.content = decodedContent(mimePart);
    }
    return part;
}

QList<QByteArray> mailboxes(InternetAddressList* list)
{
    QList<QByteArray> out;
    for (int i = 0; list && i < internet_address_list_length(list); ++i) {
        InternetAddress* address = internet_address_list_get_address(list, i);
        if (INTERNET_ADDRESS_IS_MAILBOX(address))
            out.append(internet_address_mailbox_get_addr(INTERNET_ADDRESS_MAILBOX(address)));
    }
    return out;
}

} // namespace

QByteArray Message::header(const QByteArray& name) const
{
    const QList<QByteArray> lines = rawHeaders.split('\n');
    QByteArray value;
    bool inField = false;
    for (const QByteArray& line : lines) {
        if (inField && (line.startsWith(' ') || line.startsWith('\t'))) {
            value += '\n' + line;
            continue;
        }
        if (inField)
            break;
        if (line.toLower().startsWith(name.toLower() + ':')) {
            value = line.mid(name.size() + 1);
            inField = true;
        }
    }
    return value.replace('\r', QByteArray()).replace('\n', QByteArray()).trimmed();
}

Message parse(const QByteArray& bytes)
{
    static const bool initialised = [] {
        g_mime_init();
        return true;
    }();
    (void)initialised;
    Message message;
    const qsizetype end = bytes.indexOf("\r\n\r\n");
    message.rawHeaders = bytes.left(end < 0 ? bytes.size() : end + 2);

    GMimeStream* stream = g_mime_stream_mem_new_with_buffer(bytes.constData(), static_cast<size_t>(bytes.size()));
    GMimeParser* parser = g_mime_parser_new_with_stream(stream);
    GMimeMessage* parsed = g_mime_parser_construct_message(parser, nullptr);
    if (parsed) {
        message.parsed = true;
        message.fromAddress = mailboxes(g_mime_message_get_from(parsed)).value(0);
        message.toAddresses = mailboxes(g_mime_message_get_to(parsed));
        GMimeObject* body = g_mime_message_get_mime_part(parsed);
        message.topMimeType = takeString(g_mime_content_type_get_mime_type(g_mime_object_get_content_type(body)));
        if (GMIME_IS_MULTIPART(body)) {
            GMimeMultipart* multipart = GMIME_MULTIPART(body);
            for (int i = 0; i < g_mime_multipart_get_count(multipart); ++i)
                message.parts.append(readPart(g_mime_multipart_get_part(multipart, i)));
        } else {
            message.parts.append(readPart(body));
        }
        g_object_unref(parsed);
    }
    g_object_unref(parser);
    g_object_unref(stream);
    return message;
}

QString decodeWords(const QByteArray& raw)
{
    QByteArray value = raw;
    value.replace("\r\n", "").replace("\n", "");
    static const QRegularExpression word(QStringLiteral("=\\?([^?]+)\\?([BbQq])\\?([^?]*)\\?="));
    const QString latin = QString::fromLatin1(value);
    QString out;
    qsizetype position = 0;
    bool previousWasWord = false;
    for (auto it = word.globalMatch(latin); it.hasNext();) {
        const QRegularExpressionMatch match = it.next();
        const QString between = latin.mid(position, match.capturedStart() - position);
        if (!(previousWasWord && between.trimmed().isEmpty()))
            out += between;
        EXPECT_EQ(match.captured(2).toUpper(), QStringLiteral("B")) << "only B encoding is sent";
        const QByteArray bytes = QByteArray::fromBase64(match.captured(3).toLatin1());
        QStringDecoder decoder(match.captured(1).toLatin1().constData());
        EXPECT_TRUE(decoder.isValid()) << match.captured(1).toStdString();
        out += decoder.decode(bytes);
        EXPECT_FALSE(decoder.hasError()) << "word is not whole: " << match.captured(0).toStdString();
        position = match.capturedEnd();
        previousWasWord = true;
    }
    out += latin.mid(position);
    return out.trimmed();
}

QString text(const Part& part)
{
    QStringDecoder decoder(part.charset.isEmpty() ? "US-ASCII" : part.charset.constData());
    EXPECT_TRUE(decoder.isValid()) << part.charset.toStdString();
    const QString out = decoder.decode(part.content);
    EXPECT_FALSE(decoder.hasError());
    return out;
}

int longestLine(const QByteArray& bytes)
{
    int longest = 0;
    for (const QByteArray& line : bytes.split('\n'))
        longest = std::max(longest, static_cast<int>(line.endsWith('\r') ? line.size() - 1 : line.size()));
    return longest;
}

} // namespace corvidan::test::mimecheck
