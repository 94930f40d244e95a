#include "storage/ServerSettings.h"

#include "StorageTestUtil.h"
#include "common/Cp932.h"
#include "support/TempAppDir.h"

#include <gtest/gtest.h>

using namespace corvidan;
using storage::ServerSettings;
using test::readBytes;
using test::writeBytes;

namespace {

class ServerSettingsTest : public ::testing::Test {
protected:
    test::TempAppDir dir{false};
    QString path = dir.path(common::paths::ServerSettings);

    ServerSettings readText(const QString& text, ServerSettings start = {})
    {
        writeBytes(path, common::cp932::encode(text));
        storage::ReadServerSettings(path, start);
        return start;
    }
};

} // namespace

TEST_F(ServerSettingsTest, ReadsTheFourKeys)
{
    const ServerSettings s =
        readText(QStringLiteral("SMTP=smtp.example.jp\r\nPOP3=pop.example.jp\r\nMAIL=山田 "
                                "<taro@example.jp>\r\nAPOP=1\r\n"));
    EXPECT_EQ(s.SmtpServer, QStringLiteral("smtp.example.jp"));
    EXPECT_EQ(s.Pop3Server, QStringLiteral("pop.example.jp"));
    EXPECT_EQ(s.MailAddress, QStringLiteral("山田 <taro@example.jp>"));
    EXPECT_EQ(s.ApopFlag, 1);
}

TEST_F(ServerSettingsTest, TakesAtMostOneHundredCharactersAfterTheKey)
{
    const QString longName = QString(120, QChar(u'p'));
    EXPECT_EQ(readText(QStringLiteral("POP3=") + longName + QStringLiteral("\r\n")).Pop3Server,
              longName.left(100));
    // Characters, not bytes: one hundred double-byte characters stay whole.
    const QString wide = QString(130, QChar(u'宛'));
    EXPECT_EQ(readText(QStringLiteral("MAIL=") + wide).MailAddress, wide.left(100));
    // A character beyond U+FFFF across the limit is left out, not halved.
    const QString emoji = QString(99, QChar(u'p')) + QStringLiteral("😀x");
    writeBytes(path, "\xEF\xBB\xBFSMTP=" + emoji.toUtf8() + "\r\nPOP3=" + emoji.left(101).toUtf8());
    ServerSettings s;
    storage::ReadServerSettings(path, s);
    EXPECT_EQ(s.SmtpServer, emoji.left(99));
    EXPECT_EQ(s.Pop3Server, emoji.left(99));
    writeBytes(path, "\xEF\xBB\xBFSMTP=" + emoji.mid(1).toUtf8());
    storage::ReadServerSettings(path, s);
    EXPECT_EQ(s.SmtpServer, emoji.mid(1).left(100)) << "a whole pair within the limit stays";
}

TEST_F(ServerSettingsTest, KeysAreCaseSensitiveAndStartInTheFirstColumn)
{
    const ServerSettings s = readText(QStringLiteral(
        "pop3=lower\r\n POP3=indented\r\nPOP3 =spaced\r\nSMTP\r\n[SMTP=]\r\nSMTP=real\r\n"));
    EXPECT_EQ(s.Pop3Server, QString());
    EXPECT_EQ(s.SmtpServer, QStringLiteral("real"));
}

TEST_F(ServerSettingsTest, LastLineOfAKeyWinsAndBlanksAreKept)
{
    const ServerSettings s =
        readText(QStringLiteral("MAIL=first@x\r\nSMTP= host \r\nMAIL=second@x\r\nPOP3=\r\n"));
    EXPECT_EQ(s.MailAddress, QStringLiteral("second@x"));
    EXPECT_EQ(s.SmtpServer, QStringLiteral(" host "));
    EXPECT_EQ(s.Pop3Server, QString());
}

TEST_F(ServerSettingsTest, MissingKeysAndMissingFileLeaveValuesAsTheyWere)
{
    ServerSettings before;
    before.SmtpServer = QStringLiteral("kept");
    before.ApopFlag = 1;
    const ServerSettings s = readText(QStringLiteral("POP3=pop\r\n"), before);
    EXPECT_EQ(s.SmtpServer, QStringLiteral("kept"));
    EXPECT_EQ(s.ApopFlag, 1);
    EXPECT_EQ(s.Pop3Server, QStringLiteral("pop"));

    ServerSettings untouched = before;
    storage::ReadServerSettings(dir.root() + QStringLiteral("/missing.ini"), untouched);
    EXPECT_EQ(untouched.SmtpServer, QStringLiteral("kept"));
    EXPECT_EQ(untouched.Pop3Server, QString());
}

TEST_F(ServerSettingsTest, SplitsLinesAtCrLfLoneLfAndLoneCr)
{
    const ServerSettings s = readText(QStringLiteral("SMTP=a\nPOP3=b\rMAIL=c\r\nAPOP=1"));
    EXPECT_EQ(s.SmtpServer, QStringLiteral("a"));
    EXPECT_EQ(s.Pop3Server, QStringLiteral("b"));
    EXPECT_EQ(s.MailAddress, QStringLiteral("c"));
    EXPECT_EQ(s.ApopFlag, 1);
}

TEST_F(ServerSettingsTest, ApopValueIsTheLeadingNumberRoundedHalfToEven)
{
    struct Case {
        const char16_t* text;
        std::int16_t flag;
    };
    const Case cases[] = {
        {u"1", 1},   {u"0", 0},     {u"", 0},        {u" 2.5", 2},        {u"3.5", 4},
        {u"0.5", 0}, {u"1abc", 1},  {u"abc1", 0},    {u"  7 8", 7},       {u"-1", -1},
        {u".", 0},   {u"99999", 0}, {u"32767.5", 0}, {u"32767.4", 32767}, {u"1.5e3", 2},
    };
    for (const Case& c : cases) {
        const QString text = QString::fromUtf16(c.text);
        EXPECT_EQ(storage::ParseApopValue(text), c.flag) << text.toStdString();
        EXPECT_EQ(readText(QStringLiteral("APOP=") + text + QStringLiteral("\r\n")).ApopFlag,
                  c.flag);
    }
}

TEST_F(ServerSettingsTest, WritesFourLinesInCodePage932AndReadsThemBack)
{
    ServerSettings s;
    s.SmtpServer = QStringLiteral("smtp.example.jp");
    s.Pop3Server = QStringLiteral(" pop.example.jp");
    s.MailAddress = QStringLiteral("①㈱ <x@example.jp>");
    s.ApopFlag = 1;
    ASSERT_TRUE(storage::WriteServerSettings(path, s));
    EXPECT_EQ(readBytes(path), QByteArray("SMTP=smtp.example.jp\r\nPOP3= pop.example.jp\r\nMAIL=") +
                                   common::cp932::encode(s.MailAddress) +
                                   QByteArray(" \r\nAPOP=1\r\n").mid(1));

    ServerSettings back;
    storage::ReadServerSettings(path, back);
    EXPECT_EQ(back.SmtpServer, s.SmtpServer);
    EXPECT_EQ(back.Pop3Server, s.Pop3Server);
    EXPECT_EQ(back.MailAddress, s.MailAddress);
    EXPECT_EQ(back.ApopFlag, 1);
}

TEST_F(ServerSettingsTest, ALineBreakInAValueCannotAddAKey)
{
    ServerSettings s;
    s.Pop3Server = QStringLiteral("pop\r\nSMTP=evil");
    ASSERT_TRUE(storage::WriteServerSettings(path, s));
    ServerSettings back;
    storage::ReadServerSettings(path, back);
    EXPECT_EQ(back.SmtpServer, QString());
    EXPECT_EQ(back.Pop3Server, QStringLiteral("popSMTP=evil"));
}

TEST_F(ServerSettingsTest, Utf8FilesWithAndWithoutByteOrderMarkAreRead)
{
    const QString text = QStringLiteral("SMTP=smtp.example.jp\r\nPOP3=pop.example.jp\r\n"
                                        "MAIL=山田 <taro@example.jp>\r\nAPOP=1\r\n");
    for (const QByteArray& prefix : {QByteArray("\xEF\xBB\xBF"), QByteArray()}) {
        SCOPED_TRACE(prefix.isEmpty() ? "without mark" : "with mark");
        writeBytes(path, prefix + text.toUtf8());
        ServerSettings s;
        storage::ReadServerSettings(path, s);
        EXPECT_EQ(s.SmtpServer, QStringLiteral("smtp.example.jp")) << "the mark hid the first key";
        EXPECT_EQ(s.Pop3Server, QStringLiteral("pop.example.jp"));
        EXPECT_EQ(s.MailAddress, QStringLiteral("山田 <taro@example.jp>"));
        EXPECT_EQ(s.ApopFlag, 1);
    }

    // The mark with lone CR line ends, ASCII only.
    writeBytes(path, "\xEF\xBB\xBFPOP3=pop.example.jp\rSMTP=smtp.example.jp\rAPOP=1");
    ServerSettings s;
    storage::ReadServerSettings(path, s);
    EXPECT_EQ(s.Pop3Server, QStringLiteral("pop.example.jp"));
    EXPECT_EQ(s.SmtpServer, QStringLiteral("smtp.example.jp"));
    EXPECT_EQ(s.ApopFlag, 1);

    // Written back, the file is the program's own code page 932 form.
    s.MailAddress = QStringLiteral("山田 <taro@example.jp>");
    ASSERT_TRUE(storage::WriteServerSettings(path, s));
    EXPECT_EQ(readBytes(path), "SMTP=smtp.example.jp\r\nPOP3=pop.example.jp\r\nMAIL=" +
                                   common::cp932::encode(s.MailAddress) + "\r\nAPOP=1\r\n");
}

TEST_F(ServerSettingsTest, CodePage932ValuesThatLookLikeShortUtf8StayCodePage932)
{
    // "ﾃｽ" is C3 BD in code page 932, which is also the UTF-8 form of "ý".
    const ServerSettings s = readText(QStringLiteral("MAIL=ﾃｽ\r\nSMTP=ｱｲ①\r\n"));
    EXPECT_EQ(s.MailAddress, QStringLiteral("ﾃｽ"));
    EXPECT_EQ(s.SmtpServer, QStringLiteral("ｱｲ①"));
}

TEST_F(ServerSettingsTest, ValuesWhoseCodePage932FormLooksLikeUtf8ReadBackAsWritten)
{
    // "鬮ｪ" is E9 AB AA in code page 932, the UTF-8 form of "髪".
    ServerSettings s;
    s.SmtpServer = QStringLiteral("鬮ｪ.example.jp");
    s.Pop3Server = QStringLiteral("pop.example.jp");
    ASSERT_EQ(common::cp932::encode(QStringLiteral("鬮ｪ")), QByteArray("\xE9\xAB\xAA"));
    ASSERT_TRUE(storage::WriteServerSettings(path, s));
    ServerSettings back;
    storage::ReadServerSettings(path, back);
    EXPECT_EQ(back.SmtpServer, s.SmtpServer);
    EXPECT_EQ(back.Pop3Server, s.Pop3Server);

    // Plain names keep the program's code page 932 form, byte for byte.
    s.SmtpServer = QStringLiteral("送信.example.jp");
    ASSERT_TRUE(storage::WriteServerSettings(path, s));
    EXPECT_TRUE(readBytes(path).startsWith("SMTP=" + common::cp932::encode(s.SmtpServer) + "\r\n"));
}
