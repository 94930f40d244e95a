#include "common/Cp932.h"
#include "support/TempAppDir.h"
#include "transport/Charset.h"

#include <QFile>
#include <gtest/gtest.h>

namespace charset = corvidan::transport::charset;

namespace {

// ① ㈱ ⅱ ～ as each charset writes them (JIS cells 0x2D21, 0x2D6A, 0x7C72, 0x2141).
const QString kSpecials = QStringLiteral("①㈱ⅱ～");
const QByteArray kSpecialsJis("\x1b$B-!-j|r!A\x1b(B");
const QByteArray kSpecialsEuc("\xad\xa1\xad\xea\xfc\xf2\xa1\xc1");
const QByteArray kSpecialsSjis("\x87\x40\x87\x8a\xee\xf0\x81\x60");

QByteArray corpus(const char* name)
{
    QFile file(corvidan::test::mailCorpusDir() + u'/' + QLatin1String(name));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

TEST(Charset, WindowsCharactersSurviveEveryJapaneseCharset)
{
    EXPECT_EQ(charset::decode(kSpecialsJis, "ISO-2022-JP"), kSpecials);
    EXPECT_EQ(charset::decode(kSpecialsEuc, "EUC-JP"), kSpecials);
    EXPECT_EQ(charset::decode(kSpecialsSjis, "Shift_JIS"), kSpecials);
    EXPECT_EQ(charset::decode(kSpecialsSjis, "x-sjis"), kSpecials);
    EXPECT_EQ(charset::decode(kSpecials.toUtf8(), "utf-8"), kSpecials);
    // What was decoded can be stored in code page 932 without a stand-in.
    int replaced = -1;
    corvidan::common::cp932::encode(charset::decode(kSpecialsJis, "iso-2022-jp"), &replaced);
    EXPECT_EQ(replaced, 0);
}

TEST(Charset, Iso2022JpVariantsAndBrokenEscapes)
{
    // Redundant escapes, the 1978 set, half-width kana and a line that forgets to return to ASCII.
    EXPECT_EQ(charset::decodeIso2022Jp("\x1b(B\x1b$BF|K\\\x1b(B"), QStringLiteral("日本"));
    EXPECT_EQ(charset::decodeIso2022Jp("\x1b$@F|\x1b(J!"), QStringLiteral("日!"));
    EXPECT_EQ(charset::decodeIso2022Jp("\x1b(I6\x1b(B"), QStringLiteral("ｶ"));
    EXPECT_EQ(charset::decodeIso2022Jp("\x1b$BF|\r\nA"), QStringLiteral("日\r\nA"));
    EXPECT_EQ(charset::decode("\x1b$BF|\x1b(B", "ISO-2022-JP*ja"), QStringLiteral("日"));
    EXPECT_FALSE(charset::decodeIso2022Jp("\x1b$BF").isEmpty()) << "a cut character is marked, not dropped";
}

TEST(Charset, GuessesUnlabelledJapanese)
{
    const QString text = QStringLiteral("今日は良い天気ですね。明日も晴れるでしょう。");
    const QByteArray sjis = corvidan::common::cp932::encode(text);
    const QByteArray euc = *charset::encodeIso2022Jp(text); // converted below
    EXPECT_EQ(charset::guess(text.toUtf8()), "utf-8");
    EXPECT_EQ(charset::decodeGuessed(text.toUtf8()), text);
    EXPECT_EQ(charset::guess(sjis), "windows-31j");
    EXPECT_EQ(charset::decodeGuessed(sjis), text);
    EXPECT_EQ(charset::guess(euc), "iso-2022-jp");
    EXPECT_EQ(charset::decodeGuessed(euc), text);
    // EUC-JP: every JIS byte with the high bit set.
    QByteArray eucBytes;
    bool kanji = false;
    for (qsizetype i = 0; i < euc.size(); ++i) {
        if (euc[i] == 0x1B) {
            kanji = euc.mid(i + 1, 2) == "$B";
            i += 2;
            continue;
        }
        eucBytes += kanji ? char(euc[i] | 0x80) : euc[i];
    }
    EXPECT_EQ(charset::guess(eucBytes), "euc-jp");
    EXPECT_EQ(charset::decodeGuessed(eucBytes), text);
    // Wrong labels are forgiven.
    EXPECT_EQ(charset::decode(sjis, "us-ascii"), text);
    EXPECT_EQ(charset::decode(sjis, "utf-8"), text);
    EXPECT_EQ(charset::decode(eucBytes, "x-no-such-charset"), text);
    // 7-bit ISO-2022-JP without a label, or under the default us-ascii one, is not left as escapes.
    EXPECT_EQ(charset::decode(euc, ""), text);
    EXPECT_EQ(charset::decode(euc, "us-ascii"), text);
    EXPECT_EQ(charset::decode("plain \x7f text", ""), QStringLiteral("plain \x7f text"));
}

TEST(Charset, FileNamesKeepEveryByte)
{
    const QString name = QStringLiteral("見積書①.txt");
    struct Row {
        QByteArray bytes;
        QString expected;
    };
    const Row rows[] = {
        {name.toUtf8(), name},
        {corvidan::common::cp932::encode(name), name},
        {QByteArray("caf\xe9 \xff.txt"), QStringLiteral("café ÿ.txt")}, // neither: Latin-1, nothing dropped
        {QByteArray("plain.txt"), QStringLiteral("plain.txt")},
    };
    for (const Row& row : rows)
        EXPECT_EQ(charset::decodeFileName(row.bytes), row.expected) << row.bytes.toHex().toStdString();
}

TEST(Charset, CorpusBodies)
{
    // 02: ISO-2022-JP body with a circled number and a small roman numeral.
    const QByteArray circled = corpus("02_jpmobile_iphone-circled-numbers-in-jis.eml");
    ASSERT_FALSE(circled.isEmpty());
    EXPECT_TRUE(charset::decode(circled.mid(circled.indexOf("\n\n") + 2), "iso-2022-jp")
                    .startsWith(QStringLiteral("丸数字のテストです②ⅱ")));
    // 04: half-width kana inside ISO-2022-JP.
    const QByteArray kana = corpus("04_jpmobile_iphone-jis.eml");
    EXPECT_TRUE(charset::decode(kana.mid(kana.indexOf("\n\n") + 2), "iso-2022-jp")
                    .startsWith(QStringLiteral("(=ﾟωﾟ)ﾉ")));
}

TEST(Charset, Iso2022JpEncodingIsStrict)
{
    const QString text = QStringLiteral("会議の資料〜です ABC");
    const std::optional<QByteArray> bytes = charset::encodeIso2022Jp(text);
    ASSERT_TRUE(bytes.has_value());
    EXPECT_TRUE(bytes->endsWith("ABC")) << "ends in ASCII";
    EXPECT_EQ(charset::decodeIso2022Jp(*bytes), QStringLiteral("会議の資料～です ABC"));
    EXPECT_TRUE(charset::encodeIso2022Jp(QStringLiteral("漢字"))->endsWith("\x1b(B"));
    for (const QString& misfit : {QStringLiteral("①"), QStringLiteral("ⅱ"), QStringLiteral("ｶ"),
                                  QStringLiteral("髙"), QStringLiteral("😀"), QStringLiteral("é"),
                                  QStringLiteral("¥")})
        EXPECT_FALSE(charset::fitsIso2022Jp(misfit)) << misfit.toStdString();
    EXPECT_FALSE(charset::fitsIso2022Jp(QStringLiteral("ｱｲｳ ｶﾞ")));
    EXPECT_TRUE(charset::fitsIso2022Jp(charset::widenHalfWidthKana(QStringLiteral("ｱｲｳ ｶﾞ"))));
}

TEST(Charset, WidensHalfWidthKana)
{
    EXPECT_EQ(charset::widenHalfWidthKana(QStringLiteral("ｶﾞｷﾞﾊﾟﾋﾟｳﾞ")), QStringLiteral("ガギパピヴ"));
    EXPECT_EQ(charset::widenHalfWidthKana(QStringLiteral("ｯﾞｱﾟ｡ｰ")), QStringLiteral("ッ゛ア゜。ー"));
    EXPECT_EQ(charset::widenHalfWidthKana(QStringLiteral("ABC漢字")), QStringLiteral("ABC漢字"));
}

TEST(Charset, LineEndsBecomeCrLf)
{
    EXPECT_EQ(charset::toCrLf(u"a\nb\r\nc\rd"), QStringLiteral("a\r\nb\r\nc\r\nd"));
}

} // namespace
