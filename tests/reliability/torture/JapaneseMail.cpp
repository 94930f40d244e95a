#include "JapaneseMail.h"

#include <QRandomGenerator>
#include <QStringEncoder>
#include <QStringList>

namespace corvidan::test::torture {

namespace {

const QStringList kSubjects = {
    QStringLiteral("【ご案内】年末の打ち合わせについて"),
    QStringLiteral("Re: 見積書送付のお願い"),
    QStringLiteral("会議資料（第三四半期）の共有"),
    QStringLiteral("お世話になっております。株式会社山田商事です"),
    QStringLiteral("忘年会の出欠確認"),
};
const QStringList kSenders = {QStringLiteral("山田 花子"), QStringLiteral("佐藤 一郎"),
                              QStringLiteral("鈴木 美咲")};

QByteArray encode(const QString& text, const char* charset)
{
    QStringEncoder encoder(charset);
    return encoder.encode(text);
}

/// Encoded words of at most ten characters each, every word complete in itself.
QByteArray encodedWords(const QString& text, const char* charset)
{
    QByteArrayList words;
    for (qsizetype i = 0; i < text.size(); i += 10)
        words << "=?" + QByteArray(charset) + "?B?" + encode(text.mid(i, 10), charset).toBase64() + "?=";
    return words.join("\r\n ");
}

QByteArray base64Lines(const QByteArray& data)
{
    const QByteArray b64 = data.toBase64();
    QByteArray out;
    for (qsizetype i = 0; i < b64.size(); i += 76)
        out += b64.mid(i, 76) + "\r\n";
    return out;
}

QString bodyText(const QString& tag, int index)
{
    return QStringLiteral("田中様\r\n\r\nいつもお世話になっております。\r\n"
                          "ご依頼の件、下記のとおりご連絡いたします。\r\n"
                          "受付番号：[%1]\r\n"
                          "日時：12月%2日（火）14時～15時\r\n"
                          "場所：本社3階 第二会議室\r\n\r\n"
                          "よろしくお願いいたします。\r\n-- \r\n%3\r\n")
        .arg(tag)
        .arg(index % 28 + 1)
        .arg(kSenders[index % kSenders.size()]);
}

QByteArray commonHeader(const QString& subject, const char* charset, int index, const QString& tag)
{
    return "From: " + encodedWords(kSenders[index % kSenders.size()], charset) + " <sender" +
           QByteArray::number(index) + "@example.co.jp>\r\n"
           "To: taro@example.jp\r\n"
           "Subject: " + encodedWords(subject, charset) + "\r\n"
           "Date: Tue, 08 Dec 2026 09:" + QByteArray::number(10 + index % 50) + ":00 +0900\r\n"
           "Message-ID: <" + tag.toLatin1().toLower() + "@example.co.jp>\r\n"
           "MIME-Version: 1.0\r\n";
}

} // namespace

JapaneseMail makeJapaneseMail(const QString& tag, int index)
{
    JapaneseMail mail;
    mail.tag = tag;
    mail.kind = index % 3;
    const QString subject = kSubjects[index % kSubjects.size()] + QStringLiteral(" [") + tag + u']';
    const QString body = bodyText(tag, index);
    switch (mail.kind) {
    case 0:
        mail.bytes = commonHeader(subject, "ISO-2022-JP", index, tag) +
                     "Content-Type: text/plain; charset=ISO-2022-JP\r\n"
                     "Content-Transfer-Encoding: 7bit\r\n\r\n" +
                     encode(body, "ISO-2022-JP");
        break;
    case 1:
        mail.bytes = commonHeader(subject, "Shift_JIS", index, tag) +
                     "Content-Type: text/plain; charset=Shift_JIS\r\n"
                     "Content-Transfer-Encoding: base64\r\n\r\n" +
                     base64Lines(encode(body, "Shift_JIS"));
        break;
    default: {
        QRandomGenerator rng(static_cast<quint32>(qHash(tag)));
        mail.attachment.resize((20000 + (index * 37111) % 180000) & ~3);
        rng.fillRange(reinterpret_cast<quint32*>(mail.attachment.data()), mail.attachment.size() / 4);
        mail.attachmentName = QStringLiteral("見積書-") + tag + QStringLiteral(".pdf");
        const QByteArray boundary = "=_corvidan_" + tag.toLatin1();
        mail.bytes = commonHeader(subject, "UTF-8", index, tag) +
                     "Content-Type: multipart/mixed; boundary=\"" + boundary + "\"\r\n\r\n"
                     "--" + boundary + "\r\n"
                     "Content-Type: text/plain; charset=UTF-8\r\n"
                     "Content-Transfer-Encoding: base64\r\n\r\n" +
                     base64Lines(body.toUtf8()) +
                     "--" + boundary + "\r\n"
                     "Content-Type: application/pdf\r\n"
                     "Content-Disposition: attachment;\r\n filename*=UTF-8''" +
                     mail.attachmentName.toUtf8().toPercentEncoding() + "\r\n"
                     "Content-Transfer-Encoding: base64\r\n\r\n" +
                     base64Lines(mail.attachment) + "--" + boundary + "--\r\n";
        break;
    }
    }
    return mail;
}

} // namespace corvidan::test::torture
