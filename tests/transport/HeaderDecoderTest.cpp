#include "support/TempAppDir.h"
#include "common/Cp932.h"
#include "transport/Charset.h"
#include "transport/HeaderDecoder.h"

#include <QFile>
#include <gtest/gtest.h>

namespace header = corvidan::transport::header;
namespace charset = corvidan::transport::charset;

namespace {

QByteArray corpusHeader(const char* name, const char* field)
{
    QFile file(corvidan::test::mailCorpusDir() + u'/' + QLatin1String(name));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray message = file.readAll();
    return header::rawValue(header::headerBlock(message), field);
}

QByteArray bWord(const char* label, const QByteArray& bytes)
{
    return "=?" + QByteArray(label) + "?B?" + bytes.toBase64() + "?=";
}

TEST(HeaderDecoder, JoinsWordsBeforeConverting)
{
    // A UTF-8 character split over two words.
    const QByteArray utf8 = QStringLiteral("テスト").toUtf8();
    EXPECT_EQ(header::decodeText(bWord("UTF-8", utf8.left(4)) + "\r\n " + bWord("utf-8", utf8.mid(4))),
              QStringLiteral("テスト"));
    // ISO-2022-JP words that each end in padding (text after them must not vanish),
    // and a shift state that carries from one word into the next.
    const QByteArray first = *charset::encodeIso2022Jp(QStringLiteral("会議"));
    const QByteArray second = *charset::encodeIso2022Jp(QStringLiteral("資料"));
    EXPECT_EQ(header::decodeText(bWord("ISO-2022-JP", first) + ' ' + bWord("ISO-2022-JP", second)),
              QStringLiteral("会議資料"));
    const QByteArray whole = *charset::encodeIso2022Jp(QStringLiteral("日本語"));
    EXPECT_EQ(header::decodeText(bWord("iso-2022-jp", whole.left(5)) + ' ' + bWord("iso-2022-jp", whole.mid(5))),
              QStringLiteral("日本語"));
    EXPECT_EQ(header::decodeText(bWord("ISO-2022-JP*ja", first)), QStringLiteral("会議"));
}

TEST(HeaderDecoder, KeepsTextAroundWords)
{
    const QByteArray word = bWord("UTF-8", QStringLiteral("件名").toUtf8());
    EXPECT_EQ(header::decodeText("Re: " + word + " (2)"), QStringLiteral("Re: 件名 (2)"));
    EXPECT_EQ(header::decodeText("=?iso-8859-1?q?caf=E9_au_lait?="), QStringLiteral("café au lait"));
    EXPECT_EQ(header::decodeText(word + word), QStringLiteral("件名件名"));
    // Broken words stay as they were written.
    EXPECT_EQ(header::decodeText("=?UTF-8?B?broken"), QStringLiteral("=?UTF-8?B?broken"));
    EXPECT_EQ(header::decodeText("a =?x?Z?y?= b"), QStringLiteral("a =?x?Z?y?= b"));
    EXPECT_EQ(header::decodeText("folded\r\n\tline"), QStringLiteral("folded line"));
    // A NUL is dropped, never the end of the text.
    EXPECT_EQ(header::decodeText(QByteArray("Before\0After", 12)), QStringLiteral("BeforeAfter"));
    EXPECT_EQ(header::decodeAddress(QByteArray("Na\0me <a@example.com>", 22)), QStringLiteral("Name <a@example.com>"));
    // Floods of openings without their end stay text; the words after them still decode.
    EXPECT_EQ(header::decodeText(QByteArray("=?a?b?c ").repeated(20000) + word),
              QStringLiteral("=?a?b?c ").repeated(20000) + QStringLiteral("件名"));
    EXPECT_EQ(header::decodeText(QByteArray("=?").repeated(50000) + "?=" + word),
              QString::fromLatin1(QByteArray("=?").repeated(50000) + "?=") + QStringLiteral("件名"));
    EXPECT_EQ(header::decodeText(QByteArray("=?utf-8?q?").repeated(20000) + "x?="),
              QString::fromLatin1(QByteArray("=?utf-8?q?").repeated(19999)) + u'x');
    EXPECT_EQ(header::decodeText(""), QString());
}

TEST(HeaderDecoder, RawEightBitHeaders)
{
    const QString text = QStringLiteral("お知らせ①");
    EXPECT_EQ(header::decodeText(text.toUtf8()), text);
    EXPECT_EQ(header::decodeText(QByteArray("\x82\xa8\x92\x6d\x82\xe7\x82\xb9\x87\x40")), text);
    EXPECT_EQ(header::decodeText(QByteArray("\xa4\xaa\xc3\xce\xa4\xe9\xa4\xbb\xad\xa1")), text);
    EXPECT_EQ(header::decodeText(QByteArray("\x1b$B$*CN$i$;-!\x1b(B")), text);
}

TEST(HeaderDecoder, AddressesShowNameAndAddress)
{
    const QByteArray name = bWord("ISO-2022-JP", *charset::encodeIso2022Jp(QStringLiteral("山田太郎")));
    EXPECT_EQ(header::decodeAddress("\"" + name + "\" <taro@example.jp>"), QStringLiteral("山田太郎 <taro@example.jp>"));
    EXPECT_EQ(header::decodeAddress(name + " <taro@example.jp>"), QStringLiteral("山田太郎 <taro@example.jp>"));
    // A name that would read as more than one address keeps (or gets) its quotes.
    EXPECT_EQ(header::decodeAddress("\"Doe, \\\"J\\\"\" <j@example.com>"), QStringLiteral("\"Doe, \\\"J\\\"\" <j@example.com>"));
    EXPECT_EQ(header::decodeAddress("\"Doe, John\" <john@example.com>"), QStringLiteral("\"Doe, John\" <john@example.com>"));
    EXPECT_EQ(header::decodeAddress(bWord("UTF-8", "Doe, John") + " <john@example.com>"),
              QStringLiteral("\"Doe, John\" <john@example.com>"));
    EXPECT_EQ(header::decodeAddress("\"a@b.example\" <a@b.example>"), QStringLiteral("\"a@b.example\" <a@b.example>"));
    EXPECT_EQ(header::decodeAddress("\"John Doe\" <john@example.com>"), QStringLiteral("John Doe <john@example.com>"));
    EXPECT_EQ(header::decodeAddress("\"Doe, A\" <a@x.example>,\r\n \"B\" <b@x.example>, c@x.example"),
              QStringLiteral("\"Doe, A\" <a@x.example>, B <b@x.example>, c@x.example"));
    EXPECT_EQ(header::decodeAddress("<only@example.com>"), QStringLiteral("<only@example.com>"));
    EXPECT_EQ(header::decodeAddress("plain@example.com"), QStringLiteral("plain@example.com"));
    EXPECT_EQ(header::decodeAddress(corpusHeader("26_letters_japanese_multipart_mixed_iso-2022-jp_base64.eml", "Sender")),
              QStringLiteral("郵便アリス <alice.yuubin@example.com>"));
}

TEST(HeaderDecoder, SenderIsShortenedInTheNameNeverInTheAddress)
{
    const auto cp932Bytes = [](const QString& t) { return corvidan::common::cp932::encode(t).size(); };
    const QString address = QStringLiteral("<taro.yamada@example.co.jp>");
    const QString longName = QStringLiteral("株式会社山田商事　営業本部　第一営業部　部長代理　山田太郎");
    struct Row {
        QString from;
        int max;
        QString expected;
    };
    const Row rows[] = {
        {QStringLiteral("短い <a@example.jp>"), 90, QStringLiteral("短い <a@example.jp>")},
        {longName + u' ' + address, 40, QStringLiteral("株式会社山田 ") + address},
        {longName + u' ' + address, 29, QStringLiteral("taro.yamada@example.co.jp")},
        {QStringLiteral("\"Doe, Johnathan Q.\" <john@example.com>"), 30, QStringLiteral("\"Doe, John\" <john@example.com>")},
        {QStringLiteral("x") + address, 10, QStringLiteral("taro.yamada@example.co.jp")},
        {QStringLiteral("bare-address-that-is-rather-long@example.com"), 20,
         QStringLiteral("bare-address-that-is-rather-long@example.com")},
        {longName + u' ' + address + QStringLiteral(", B <b@example.jp>"), 40, QStringLiteral("株式会社山田 ") + address},
    };
    for (const Row& row : rows) {
        const QString fitted = header::fitSender(row.from, row.max);
        EXPECT_EQ(fitted, row.expected) << row.from.toStdString() << " in " << row.max;
        if (fitted.contains(u'<')) {
            EXPECT_LE(cp932Bytes(fitted), row.max) << fitted.toStdString();
        }
    }
    const QString real = header::fitSender(longName.repeated(2) + u' ' + address, 90);
    EXPECT_TRUE(real.endsWith(u' ' + address)) << real.toStdString();
    EXPECT_LE(cp932Bytes(real), 90);
    EXPECT_GT(cp932Bytes(real), 80) << "no more of the name cut than needed";
}

TEST(HeaderDecoder, CorpusSubjects)
{
    EXPECT_EQ(header::decodeText(corpusHeader("01_mimekit_japanese.eml", "Subject")),
              QStringLiteral("日本語メールテスト (testing Japanese emails)"));
    EXPECT_EQ(header::decodeText(corpusHeader("03_jpmobile_iphone-cp932.eml", "Subject")),
              QStringLiteral("Re: 【NKSC】test"));
    EXPECT_EQ(header::decodeText(corpusHeader("13_jpmobile_iphone-unicode-emoji.eml", "Subject")),
              QStringLiteral("絵文字🎅"));
    EXPECT_EQ(header::decodeText(corpusHeader("26_letters_japanese_multipart_mixed_iso-2022-jp_base64.eml", "Subject")),
              QStringLiteral("📧 Test いろは歌"));
    EXPECT_EQ(header::decodeText(corpusHeader("27_enmime_qp-utf8-header.eml", "Subject")),
              QStringLiteral("MIME UTF8 Test ¢ More Text"));
    // Padded base64 words one after another: nothing after the first may be lost.
    EXPECT_TRUE(header::decodeAddress(corpusHeader("21_mail_bad_subject.eml", "From"))
                    .startsWith(QStringLiteral("MySurvey.com & Carol Adams")));
    EXPECT_TRUE(header::decodeText(corpusHeader("21_mail_bad_subject.eml", "Subject"))
                    .startsWith(QStringLiteral("MySurvey.com:  You have a survey")));
}

TEST(HeaderDecoder, FileNameParameters)
{
    const QString expected = QStringLiteral("かきくけこ").repeated(5) + QStringLiteral(".txt");
    EXPECT_EQ(header::parameter(
                  "attachment;\r\n\tfilename*0*=utf-8''%E3%81%8B%E3%81%8D%E3%81%8F%E3%81%91%E3%81%93%E3%81%8B%E3%81%8D"
                  "%E3%81%8F%E3%81%91%E3%81%93%E3%81%8B%E3%81%8D%E3%81%8F%E3%81%91%E3%81%93%E3%81%8B%E3%81%8D%E3%81%8F"
                  "%E3%81%91%E3%81%93%E3%81%8B;\r\n\tfilename*1*=%E3%81%8D%E3%81%8F%E3%81%91%E3%81%93.txt",
                  "filename"),
              expected);
    EXPECT_EQ(header::parameter("text/plain; name=\"=?utf-8?B?44GL44GN44GP?=\r\n =?utf-8?B?44GR44GT?=.txt\"", "name"),
              QStringLiteral("かきくけこ.txt"));
    EXPECT_EQ(header::parameter("attachment; filename*=iso-2022-jp''%1B%24B%3BqNA%1B%28B.pdf", "filename"),
              QStringLiteral("資料.pdf"));
    EXPECT_EQ(header::parameter("attachment; filename*0=\"a b\"; filename*1=\"c.txt\"", "filename"),
              QStringLiteral("a bc.txt"));
    EXPECT_EQ(header::parameter("attachment; filename=\"semi;colon.txt\"; size=3", "filename"),
              QStringLiteral("semi;colon.txt"));
    EXPECT_EQ(header::parameter("text/plain; charset=\"Shift_JIS\"", "charset"), QStringLiteral("Shift_JIS"));
    EXPECT_EQ(header::parameter("attachment", "filename"), QString());
    EXPECT_EQ(header::parameter(QByteArray("attachment; filename=\xe7\xae\xa1\xe7\x90\x86.doc"), "filename"),
              QStringLiteral("管理.doc"));
}

TEST(HeaderDecoder, SplitsHeaderAndBody)
{
    const QByteArray message = "Subject: a\r\n b\r\nFrom: x\r\n\r\nbody\r\n";
    EXPECT_EQ(header::headerBlock(message), QByteArrayView("Subject: a\r\n b\r\nFrom: x"));
    EXPECT_EQ(message.mid(header::bodyOffset(message)), "body\r\n");
    const QList<header::Field> fields = header::parseFields(header::headerBlock(message));
    ASSERT_EQ(fields.size(), 2);
    EXPECT_EQ(fields[0].rawValue, "a\r\n b");
    EXPECT_EQ(header::rawValue(header::headerBlock(message), "FROM"), "x");
    EXPECT_EQ(header::bodyOffset("no body"), 7);
    EXPECT_EQ(header::plainText("  Tue, 08 Dec 2026\r\n 10:00:00 +0900 "), QStringLiteral("Tue, 08 Dec 2026 10:00:00 +0900"));
}

} // namespace
