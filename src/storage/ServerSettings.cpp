#include "storage/ServerSettings.h"

#include "common/Cp932.h"
#include "common/Durable.h"
#include "common/FixedField.h"
#include "storage/ProfileFile.h"

#include <QFile>

namespace corvidan::storage {

namespace {

constexpr int kKeyLength = 5;
constexpr int kValueWidth = 100;

/// Lines end at CR LF, a lone LF or a lone CR; a last line without an end counts.
QStringList splitLines(const QString& text)
{
    QStringList lines;
    qsizetype start = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c != u'\r' && c != u'\n')
            continue;
        lines.append(text.mid(start, i - start));
        if (c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n')
            ++i;
        start = i + 1;
    }
    if (start < text.size())
        lines.append(text.mid(start));
    return lines;
}

/// A line break inside a value would start a line of its own, a key of its own.
QString oneLine(QString value)
{
    value.remove(u'\r');
    value.remove(u'\n');
    return value;
}

} // namespace

std::int16_t ParseApopValue(const QString& value)
{
    qsizetype i = 0;
    while (i < value.size() && value[i] == u' ')
        ++i;
    const qsizetype start = i;
    if (i < value.size() && (value[i] == u'+' || value[i] == u'-'))
        ++i;
    qsizetype digits = 0;
    for (; i < value.size() && value[i] >= u'0' && value[i] <= u'9'; ++i)
        ++digits;
    if (i < value.size() && value[i] == u'.') {
        ++i;
        for (; i < value.size() && value[i] >= u'0' && value[i] <= u'9'; ++i)
            ++digits;
    }
    if (digits == 0)
        return 0;
    bool ok = false;
    const double number = value.mid(start, i - start).toDouble(&ok);
    // A number no 16-bit value can hold is no valid choice either: plain login.
    return ok ? common::roundToInt16(number).value_or(0) : 0;
}

void ReadServerSettings(const QString& path, ServerSettings& settings)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return;
    // Hand-edited files come in UTF-8 too; the byte-order mark would hide the first key.
    const QStringList lines = splitLines(DecodeSettingsText(file.readAll()));
    for (const QString& line : lines) {
        const QStringView key = QStringView(line).left(kKeyLength);
        QString value = line.mid(kKeyLength, kValueWidth);
        // Half of a character beyond U+FFFF is no character: it could not be written back.
        if (value.size() == kValueWidth && value.back().isHighSurrogate())
            value.chop(1);
        if (key == u"SMTP=")
            settings.SmtpServer = value;
        else if (key == u"POP3=")
            settings.Pop3Server = value;
        else if (key == u"MAIL=")
            settings.MailAddress = value;
        else if (key == u"APOP=")
            settings.ApopFlag = ParseApopValue(value);
    }
}

common::Status WriteServerSettings(const QString& path, const ServerSettings& settings)
{
    const QString text =
        QStringLiteral("SMTP=") + oneLine(settings.SmtpServer) + QStringLiteral("\r\n") +
        QStringLiteral("POP3=") + oneLine(settings.Pop3Server) + QStringLiteral("\r\n") +
        QStringLiteral("MAIL=") + oneLine(settings.MailAddress) + QStringLiteral("\r\n") +
        QStringLiteral("APOP=") + QString::number(settings.ApopFlag) + QStringLiteral("\r\n");
    // The program's own form, whatever the file held before: the four values are all of it.
    int replaced = 0;
    QByteArray bytes = common::cp932::encode(text, &replaced);
    // Code page 932 bytes can happen to read as UTF-8 (a kanji before a half-width
    // kana), and a character the code page lacks would come back as a stand-in;
    // such a file is written as marked UTF-8 so that it reads back as written.
    if (replaced > 0 || SettingsEncodingOf(bytes) != SettingsEncoding::Cp932)
        bytes = QByteArrayLiteral("\xEF\xBB\xBF") + text.toUtf8();
    return common::durable::replaceFile(path, bytes);
}

} // namespace corvidan::storage
