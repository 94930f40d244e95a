#include "SmtpTestMime.h"

#include "transport/MessageBuilder.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QStringDecoder>
#include <QTemporaryDir>
#include <QTimeZone>
#include <gtest/gtest.h>

using namespace corvidan::transport;
namespace mc = corvidan::test::mimecheck;

namespace {

OutgoingMessage japaneseMessage()
{
    OutgoingMessage m;
    m.from = QStringLiteral("taro@example.jp");
    m.to = QStringLiteral("hanako@example.jp");
    m.subject = QStringLiteral("会議の資料について");
    m.body = QStringLiteral("花子様\r\n\r\nお世話になります。資料を送ります。\r\n～ 太郎 〜");
    return m;
}

BuiltMessage buildOk(const OutgoingMessage& m)
{
    BuildResult result = MessageBuilder::build(m);
    EXPECT_TRUE(result.ok()) << static_cast<int>(result.error) << " " << result.detail.toStdString();
    return result.message;
}

QString bodyText(const mc::Message& parsed) { return mc::text(parsed.parts.value(0)); }

void expectEveryLineWithin76(const QByteArray& bytes)
{
    for (const QByteArray& line : bytes.split('\n'))
        EXPECT_LE(line.size(), 77) << line.toStdString(); // 76 and the CR
}

void expectOnlyCrLf(const QByteArray& bytes)
{
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '\n') {
            ASSERT_TRUE(i > 0 && bytes[i - 1] == '\r') << "bare LF at " << i;
        }
        if (bytes[i] == '\r') {
            ASSERT_TRUE(i + 1 < bytes.size() && bytes[i + 1] == '\n') << "bare CR at " << i;
        }
    }
}

/// True when the JIS text ends in ASCII: its last escape sequence, if any, is ESC ( B
/// and nothing but ASCII follows. A reader that forgives a missing return hides the fault.
bool endsInAscii(const QByteArray& jis)
{
    const qsizetype lastEscape = jis.lastIndexOf('\x1b');
    return lastEscape < 0 || jis.mid(lastEscape, 3) == "\x1b(B";
}

/// Every ISO-2022-JP encoded word of the header, and every line of an ISO-2022-JP
/// body, returns to ASCII before it ends.
void expectJisReturnsToAscii(const QByteArray& bytes)
{
    const qsizetype headerEnd = bytes.indexOf("\r\n\r\n");
    const QByteArray header = bytes.left(headerEnd);
    static const QRegularExpression word(QStringLiteral("=\\?ISO-2022-JP\\?B\\?([A-Za-z0-9+/=]*)\\?="),
                                         QRegularExpression::CaseInsensitiveOption);
    int words = 0;
    for (auto it = word.globalMatch(QString::fromLatin1(header)); it.hasNext(); ++words) {
        const QByteArray jis = QByteArray::fromBase64(it.next().captured(1).toLatin1());
        EXPECT_TRUE(endsInAscii(jis)) << "encoded word " << words << " ends in JIS: " << jis.toHex().constData();
    }
    EXPECT_EQ(words > 0, header.toUpper().contains("=?ISO-2022-JP?B?"));
    if (!header.contains("charset=\"ISO-2022-JP\"") && !header.toLower().contains("charset=iso-2022-jp"))
        return;
    for (const QByteArray& line : bytes.mid(headerEnd + 4).split('\n'))
        EXPECT_TRUE(endsInAscii(line.endsWith('\r') ? line.chopped(1) : line)) << "body line ends in JIS";
}

class TempFiles {
public:
    QString write(const QString& name, const QByteArray& bytes)
    {
        const QString path = QDir(m_dir.path()).filePath(name);
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
        return path;
    }
    QString path(const QString& name) const { return QDir(m_dir.path()).filePath(name); }

private:
    QTemporaryDir m_dir;
};

} // namespace

TEST(MessageBuilder, JapaneseTextThatFitsJisGoesAsIso2022Jp7bit)
{
    const OutgoingMessage m = japaneseMessage();
    const BuiltMessage built = buildOk(m);
    const mc::Message parsed = mc::parse(built.bytes);
    ASSERT_TRUE(parsed.parsed);
    ASSERT_EQ(parsed.parts.size(), 1);
    const mc::Part& part = parsed.parts[0];
    EXPECT_EQ(part.mimeType, "text/plain");
    EXPECT_EQ(part.charset.toUpper(), "ISO-2022-JP");
    EXPECT_EQ(part.transferEncoding, "7bit");
    EXPECT_TRUE(std::all_of(built.bytes.begin(), built.bytes.end(), [](char c) { return (c & 0x80) == 0; }));
    // ICU reads both tildes back as the Windows FULLWIDTH TILDE.
    QString expected = m.body + QStringLiteral("\r\n");
    expected.replace(u'〜', u'～');
    EXPECT_EQ(bodyText(parsed), expected);

    EXPECT_TRUE(parsed.header("Subject").startsWith("=?ISO-2022-JP?B?"));
    EXPECT_EQ(mc::decodeWords(parsed.header("Subject")), m.subject);
    expectEveryLineWithin76(built.bytes);
    expectOnlyCrLf(built.bytes);
    expectJisReturnsToAscii(built.bytes);
}

TEST(MessageBuilder, CharactersOutsideJisX0208GoAsUtf8)
{
    // NEC row 13, an IBM extension and an emoji: none has a JIS X 0208 code.
    for (const QString& extra : {QStringLiteral("①"), QStringLiteral("㈱"), QStringLiteral("髙"),
                                 QStringLiteral("😀")}) {
        OutgoingMessage m = japaneseMessage();
        m.subject = QStringLiteral("確認") + extra;
        m.body = QStringLiteral("本文") + extra + QStringLiteral("です");
        const mc::Message parsed = mc::parse(buildOk(m).bytes);
        ASSERT_TRUE(parsed.parsed);
        EXPECT_EQ(parsed.parts[0].charset.toUpper(), "UTF-8") << extra.toStdString();
        EXPECT_EQ(parsed.parts[0].transferEncoding, "base64");
        EXPECT_EQ(bodyText(parsed), m.body + QStringLiteral("\r\n"));
        EXPECT_TRUE(parsed.header("Subject").startsWith("=?UTF-8?B?"));
        EXPECT_EQ(mc::decodeWords(parsed.header("Subject")), m.subject);
    }
}

TEST(MessageBuilder, HalfWidthKanaIsWidenedToSendIso2022Jp)
{
    OutgoingMessage m = japaneseMessage();
    m.subject = QStringLiteral("ﾃｽﾄﾒｰﾙ");
    m.body = QStringLiteral("ｶﾞｲﾄﾞﾌﾞｯｸ ﾊﾟﾝ ｳﾞｧ｡");
    const mc::Message parsed = mc::parse(buildOk(m).bytes);
    EXPECT_EQ(parsed.parts[0].charset.toUpper(), "ISO-2022-JP");
    EXPECT_EQ(bodyText(parsed), QStringLiteral("ガイドブック パン ヴァ。\r\n"));
    EXPECT_EQ(mc::decodeWords(parsed.header("Subject")), QStringLiteral("テストメール"));
}

TEST(MessageBuilder, HalfWidthKanaStaysAsTypedWhenUtf8IsNeededAnyway)
{
    OutgoingMessage m = japaneseMessage();
    m.body = QStringLiteral("ｶﾞ①");
    const mc::Message parsed = mc::parse(buildOk(m).bytes);
    EXPECT_EQ(parsed.parts[0].charset.toUpper(), "UTF-8");
    EXPECT_EQ(bodyText(parsed), QStringLiteral("ｶﾞ①\r\n"));
}

TEST(MessageBuilder, AsciiTextAndLongLines)
{
    OutgoingMessage m = japaneseMessage();
    m.subject = QStringLiteral("Meeting notes for the quarterly review of the project plan and budget");
    m.body = QStringLiteral("Hello,\r\nsee you.");
    BuiltMessage built = buildOk(m);
    mc::Message parsed = mc::parse(built.bytes);
    EXPECT_EQ(parsed.parts[0].charset.toUpper(), "US-ASCII");
    EXPECT_EQ(parsed.parts[0].transferEncoding, "7bit");
    EXPECT_EQ(QString::fromLatin1(parsed.header("Subject")), m.subject);
    expectEveryLineWithin76(built.bytes);

    // A line past 998 octets cannot go as 7bit.
    m.body = QString(1200, u'x') + QStringLiteral("\r\nend");
    built = buildOk(m);
    parsed = mc::parse(built.bytes);
    EXPECT_EQ(parsed.parts[0].transferEncoding, "quoted-printable");
    EXPECT_EQ(bodyText(parsed), m.body + QStringLiteral("\r\n"));
    expectEveryLineWithin76(built.bytes);

    m.body = QString(600, u'あ');
    built = buildOk(m);
    parsed = mc::parse(built.bytes);
    EXPECT_EQ(parsed.parts[0].charset.toUpper(), "ISO-2022-JP");
    EXPECT_EQ(parsed.parts[0].transferEncoding, "base64");
    EXPECT_EQ(bodyText(parsed), m.body + QStringLiteral("\r\n"));
}

TEST(MessageBuilder, MostlyAsciiUtf8UsesQuotedPrintable)
{
    OutgoingMessage m = japaneseMessage();
    m.body = QStringLiteral("Price list = attached. Total: 100 yen ① only.\r\nTrailing blank \r\n")
        + QString(90, u'y');
    const BuiltMessage built = buildOk(m);
    const mc::Message parsed = mc::parse(built.bytes);
    EXPECT_EQ(parsed.parts[0].charset.toUpper(), "UTF-8");
    EXPECT_EQ(parsed.parts[0].transferEncoding, "quoted-printable");
    EXPECT_EQ(bodyText(parsed), m.body + QStringLiteral("\r\n"));
    expectEveryLineWithin76(built.bytes);
}

TEST(MessageBuilder, LineEndsBecomeCrLf)
{
    OutgoingMessage m = japaneseMessage();
    m.body = QStringLiteral("一\n二\r三\r\n四\r\r\n五");
    const BuiltMessage built = buildOk(m);
    expectOnlyCrLf(built.bytes);
    EXPECT_EQ(bodyText(mc::parse(built.bytes)), QStringLiteral("一\r\n二\r\n三\r\n四\r\n\r\n五\r\n"));
}

TEST(MessageBuilder, LongSubjectsSplitIntoWholeCharacterWords)
{
    OutgoingMessage m = japaneseMessage();
    m.subject = QStringLiteral("長い件名のテスト").repeated(9) + QStringLiteral(" end");
    BuiltMessage built = buildOk(m);
    mc::Message parsed = mc::parse(built.bytes);
    EXPECT_EQ(mc::decodeWords(parsed.header("Subject")), m.subject);
    expectEveryLineWithin76(built.bytes);
    expectJisReturnsToAscii(built.bytes);

    m.subject = QStringLiteral("😀①絵文字").repeated(12);
    built = buildOk(m);
    parsed = mc::parse(built.bytes);
    EXPECT_EQ(mc::decodeWords(parsed.header("Subject")), m.subject);
    expectEveryLineWithin76(built.bytes);
}

TEST(MessageBuilder, HeaderTextCannotInjectFields)
{
    OutgoingMessage m = japaneseMessage();
    m.subject = QStringLiteral("hello\r\nBcc: victim@example.com");
    const BuiltMessage built = buildOk(m);
    EXPECT_FALSE(built.bytes.contains("\r\nBcc:"));
    EXPECT_EQ(mc::decodeWords(mc::parse(built.bytes).header("Subject")),
              QStringLiteral("hello Bcc: victim@example.com"));
}

TEST(MessageBuilder, DateMessageIdAndMimeVersion)
{
    const QDateTime when(QDate(2026, 12, 8), QTime(9, 5, 7), QTimeZone(9 * 3600));
    EXPECT_EQ(MessageBuilder::formatDate(when), "Tue, 8 Dec 2026 09:05:07 +0900");
    EXPECT_EQ(MessageBuilder::formatDate(QDateTime(QDate(2026, 1, 31), QTime(23, 0), QTimeZone(-(3 * 3600 + 1800)))),
              "Sat, 31 Jan 2026 23:00:00 -0330");

    const BuiltMessage first = buildOk(japaneseMessage());
    const BuiltMessage second = buildOk(japaneseMessage());
    const mc::Message parsed = mc::parse(first.bytes);
    const QDateTime now = QDateTime::currentDateTime();
    EXPECT_EQ(parsed.header("Date"), MessageBuilder::formatDate(now)) << "built just now, local zone";
    EXPECT_EQ(parsed.header("MIME-Version"), "1.0");
    const QRegularExpression id(QStringLiteral("^<[0-9]{14}\\.[0-9a-f]{16}@example\\.jp>$"));
    EXPECT_TRUE(id.match(QString::fromLatin1(parsed.header("Message-ID"))).hasMatch()) << parsed.header("Message-ID").toStdString();
    EXPECT_NE(parsed.header("Message-ID"), mc::parse(second.bytes).header("Message-ID"));
}

TEST(MessageBuilder, AddressesWithDisplayNames)
{
    OutgoingMessage m = japaneseMessage();
    m.from = QStringLiteral("山田 太郎 <taro@example.jp>");
    m.to = QStringLiteral("花子<hanako@example.jp>, \"Sato, Jiro\" <jiro@example.com>,plain@example.org");
    m.cc = QStringLiteral("cc@example.jp");
    m.bcc = QStringLiteral("hidden@example.jp");
    const BuiltMessage built = buildOk(m);
    EXPECT_EQ(built.envelopeFrom, "taro@example.jp");
    EXPECT_EQ(built.recipients, (QList<QByteArray>{"hanako@example.jp", "jiro@example.com", "plain@example.org",
                                                   "cc@example.jp", "hidden@example.jp"}));
    const mc::Message parsed = mc::parse(built.bytes);
    EXPECT_EQ(parsed.fromAddress, "taro@example.jp");
    EXPECT_EQ(parsed.toAddresses, (QList<QByteArray>{"hanako@example.jp", "jiro@example.com", "plain@example.org"}));
    EXPECT_EQ(mc::decodeWords(parsed.header("From")), QStringLiteral("山田 太郎 <taro@example.jp>"));
    EXPECT_TRUE(parsed.header("To").contains("\"Sato, Jiro\" <jiro@example.com>"));
    EXPECT_EQ(parsed.header("Cc"), "cc@example.jp");
    EXPECT_FALSE(built.bytes.contains("hidden@example.jp")) << "Bcc stays out of the header";
    expectEveryLineWithin76(built.bytes);
}

TEST(MessageBuilder, RefusesMissingAndUnusableAddresses)
{
    OutgoingMessage m = japaneseMessage();
    m.to.clear();
    EXPECT_EQ(MessageBuilder::build(m).error, BuildError::NoRecipient);
    m = japaneseMessage();
    m.from = QStringLiteral("  ");
    EXPECT_EQ(MessageBuilder::build(m).error, BuildError::NoSender);
    for (const QString& bad : {QStringLiteral("a b@example.jp"), QStringLiteral("名前 <>"),
                               QStringLiteral("x@example.jp>\r\nRCPT TO:<y@example.jp")}) {
        m = japaneseMessage();
        m.to = bad;
        const BuildResult result = MessageBuilder::build(m);
        EXPECT_EQ(result.error, BuildError::BadAddress) << bad.toStdString();
    }
}

TEST(MessageBuilder, AttachmentsWithJapaneseNamesAsRfc2231)
{
    TempFiles files;
    const QByteArray binary = [] {
        QByteArray b;
        for (int i = 0; i < 5000; ++i)
            b += static_cast<char>((i * 37) & 0xFF);
        return b;
    }();
    const QString shortName = QStringLiteral("報告書.txt");
    const QString longName = QStringLiteral("とても長い日本語のファイル名の添付ファイルを送るテスト_2026年12月版.pdf");
    const QString first = files.write(shortName, QByteArray("テキスト\r\n"));
    const QString second = files.write(longName, binary);
    const QString third = files.write(QStringLiteral("photo.JPG"), QByteArray("\xFF\xD8\xFF\xE0", 4));

    OutgoingMessage m = japaneseMessage();
    m.attachments = first + u',' + second + u',' + third;
    const BuiltMessage built = buildOk(m);
    const mc::Message parsed = mc::parse(built.bytes);
    ASSERT_TRUE(parsed.parsed);
    EXPECT_EQ(parsed.topMimeType, "multipart/mixed");
    ASSERT_EQ(parsed.parts.size(), 4);
    EXPECT_EQ(parsed.parts[0].charset.toUpper(), "ISO-2022-JP");
    EXPECT_EQ(mc::text(parsed.parts[0]), QString(m.body + QStringLiteral("\r\n")).replace(u'〜', u'～'));

    EXPECT_EQ(parsed.parts[1].fileName, shortName);
    EXPECT_EQ(parsed.parts[1].mimeType, "text/plain");
    EXPECT_EQ(parsed.parts[1].content, QByteArray("テキスト\r\n"));
    EXPECT_TRUE(parsed.parts[1].headers.contains("filename*=UTF-8''%E5%A0%B1%E5%91%8A%E6%9B%B8.txt"));

    EXPECT_EQ(parsed.parts[2].fileName, longName);
    EXPECT_EQ(parsed.parts[2].mimeType, "application/pdf");
    EXPECT_EQ(parsed.parts[2].transferEncoding, "base64");
    EXPECT_EQ(parsed.parts[2].content, binary);
    EXPECT_TRUE(parsed.parts[2].headers.contains("filename*0*=UTF-8''"));
    EXPECT_TRUE(parsed.parts[2].headers.contains("filename*1*="));

    EXPECT_EQ(parsed.parts[3].fileName, QStringLiteral("photo.JPG"));
    EXPECT_EQ(parsed.parts[3].mimeType, "image/jpeg");
    EXPECT_EQ(parsed.parts[3].content, QByteArray("\xFF\xD8\xFF\xE0", 4));
    expectEveryLineWithin76(built.bytes);
    expectOnlyCrLf(built.bytes);
}

TEST(MessageBuilder, UnreadableAttachmentIsNamed)
{
    TempFiles files;
    const QString good = files.write(QStringLiteral("ok.txt"), "ok");
    const QString missing = files.path(QStringLiteral("無い.txt"));
    QDir().mkpath(files.path(QStringLiteral("folder")));
    for (const QString& bad : {missing, files.path(QStringLiteral("folder"))}) {
        OutgoingMessage m = japaneseMessage();
        m.attachments = good + u',' + bad;
        const BuildResult result = MessageBuilder::build(m);
        EXPECT_EQ(result.error, BuildError::UnreadableAttachment);
        EXPECT_EQ(result.detail, bad);
    }
}

TEST(MessageBuilder, EmptySubjectAndBodyStillMakeAMessage)
{
    OutgoingMessage m = japaneseMessage();
    m.subject.clear();
    m.body.clear();
    m.attachments = QStringLiteral(",");
    const BuiltMessage built = buildOk(m);
    const mc::Message parsed = mc::parse(built.bytes);
    ASSERT_TRUE(parsed.parsed);
    EXPECT_TRUE(built.bytes.contains("\r\nSubject:\r\n"));
    EXPECT_EQ(parsed.topMimeType, "text/plain");
    EXPECT_TRUE(parsed.parts[0].content.isEmpty());
}
