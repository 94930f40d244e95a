// Real-world Japanese mail through Dovecot and the whole receive: every stored
// record and every extracted file checked against what a correct client shows.

#include "ReceiveServer.h"

#include "common/FixedField.h"
#include "common/Text.h"
#include "storage/HistoryFile.h"
#include "support/ScriptedMailbox.h"
#include "support/TempAppDir.h"
#include "transport/NMail.h"
#include "transport/ReceiveMail.h"
#include "transport/Rebuild.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <gtest/gtest.h>

using namespace corvidan;
using namespace corvidan::transport;
using corvidan::test::Pop3Mailbox;
using corvidan::test::TempAppDir;

QT_BEGIN_NAMESPACE
inline void PrintTo(const QString& text, std::ostream* os)
{
    *os << '"' << text.toStdString() << '"';
}
QT_END_NAMESPACE

namespace {

struct File {
    const char16_t* namePiece; // the extracted file's name contains this
    qint64 size;               // decoded size in bytes; -1 when not checked
};

/// What a correct client stores for one message. `subject` and `date` are the
/// full display texts (the record keeps what fits its field); a subject starting
/// with "~" is a pattern for carrier emoji that have no single right rendering.
struct Expectation {
    const char* source;
    const char16_t* subject;
    std::vector<const char16_t*> address; // pieces of the stored sender
    const char16_t* date;
    std::vector<const char16_t*> body; // pieces of the stored body
    bool notice;                       // "attachment" in the raw body
    std::vector<File> files;
    const char16_t* box = u""; // -5/-6 message expected for this message
};

const char16_t* const NoticeText = u"♪♪♪　添付ファイルがありましので、添付フォルダに展開しました。♪♪♪";
const char16_t* const Partial = u"分割されたメールが全て揃っていません";

// Decided from each message (a corpus number or a fixture file name) and the standards (RFC 2045-2047, 2231, 5322): encoded
// words decoded and joined across splits (blanks between an encoded word and
// plain text kept, RFC 2047 section 6.2), Shift_JIS read as CP932 (①, ㈱, ⅱ, ～),
// text outside code page 932 stored as 〓, missing headers stored empty. A
// syntactically invalid Content-Type counts as text/plain (RFC 2045 section
// 5.2), so 35's "BINARY; name=..." part is text, not a named attachment.
const std::vector<Expectation>& corpus()
{
    static const std::vector<Expectation> table = {
        {"01", u"日本語メールテスト (testing Japanese emails)", {u"Atsushi Eno", u"<x@x.com>"},
         u"Wed, 22 Jul 2015 01:02:29 +0900", {u"Let's see if both subject and body works fine...", u"日本語が\r\n正常に\r\n送れているか\r\nテスト."}, false, {}},
        {"02", u"テスト①", {u"softbank@i.softbank.jp"}, u"Mon, 29 Dec 2014 13:02:07 +0900", {u"丸数字のテストです②ⅱ"}, false, {}},
        {"03", u"Re: 【NKSC】test", {u"cp932@ezweb.ne.jp"}, u"Wed, 10 Dec 2014 17:01:30 +0900", {u"テストです。㈱"}, false, {}},
        {"04", u"", {u"jis@i.softbank.jp"}, u"Fri, 5 Dec 2014 13:14:37 +0900", {u"(=ﾟωﾟ)ﾉ"}, false, {}},
        {"05", u"タイトルの長いメールの場合の対処を実装するためのテストケースとしてのメールに含まれている件名であるサブジェクト部分",
         {u"Shin-ichiro OGAWA", u"info@jpmobile.jp"}, u"Mon, 17 Jan 2011 15:56:25 +0900", {u"本文です"}, false, {}},
        {"06", u"タイトルの長いメールの場合の対処を実装するためのテストケースとしてのメールに含まれている件名であるサブジェクト部分",
         {u"Shin-ichiro OGAWA", u"info@jpmobile.jp"}, u"Mon, 17 Jan 2011 16:42:56 +0900", {u"本文です"}, false,
         {{u"pc-mail.eml", -1}}},
        {"07", u"~^テスト.$", {u"docomo@docomo.ne.jp"}, u"Fri, 19 Mar 2010 17:10:49 +0900 (JST)", {u"テストです"}, false, {}},
        {"08", u"テスト", {u"docomo@docomo.ne.jp"}, u"Sun, 06 Feb 2011 17:30:48 +0900 (JST)", {u"テストです"}, false,
         {{u"ao_hatena.gif", 328}}},
        {"09", u"test", {u"ans-earth2@ezweb.ne.jp"}, u"Fri, 14 Jun 2013 19:15:10 +0900",
         {u"　、。，．・：？！", u"＼～∥｜…", u"①②③④⑤⑥⑦⑧⑨⑩", u"ⅠⅡⅢ", u"㈱㈲", u"№㏍℡"}, false, {}},
        {"10", u"テスト〓", {u"au@ezweb.ne.jp"}, u"Tue, 23 Mar 2010 16:10:58 +0900", {u"テストです〓"}, false, {}},
        {"11", u"Fwd: 【NurseryMail】日日", {u"au@ezweb.ne.jp"}, u"Tue, 31 Jul 2012 10:44:23 +0900 (JST)",
         {u"iPhoneから送信", u"> とりあえずＨＴＭＬの本文で"}, false, {}},
        {"12", u"Re: 【NKSC】test", {u"au@ezweb.ne.jp"}, u"Thu, 30 Aug 2012 14:49:20 +0900",
         {u"iPhoneから送信○◎", u"本文改行なし＿５１２文字＿"}, false, {}},
        {"13", u"絵文字〓", {u"jpmobile@i.softbank.jp"}, u"Wed, 17 Dec 2014 19:13:03 +0900", {u"〓〓"}, false, {}},
        {"14", u"test", {u"xxxxxxx@docomo.ne.jp"}, u"Wed, 28 May 2014 17:18:19 +0900 (JST)",
         {u"あいうえお\r\n\r\nこのメールはテスト用のメールです。", u"今後ともよろしくお願い申し上げます！"}, false, {}},
        {"15", u"まみむめもまみむめもまみむめもまみむめもまみむめもまみむめもまみむめもまみむめもまみむめもまみむめも",
         {u"Mikel Lindsaar", u"mikel@test.lindsaar.net"}, u"Fri, 30 Oct 2009 19:11:02 +1100", {}, true,
         {{u"かきくけこかきくけこかきくけこかきくけこかきくけこ.txt", 18}}},
        {"16", u"testing", {u"Mikel Lindsaar", u"raasdnil@gmail.com"}, u"Fri, 16 Oct 2009 23:39:34 +1100",
         {u"testing", u"http://lindsaar.net/"}, true, {{u"てすと.txt", 33}}},
        {"17", u"Fwd: Signed email causes file attachments", {u"xxxxxxxxx.xxxxxxx@gmail.com"}, u"Sun, 8 May 2005 14:09:11 -0500",
         {u"We should not include these files or vcards as attachments."}, true, {{u"Pitbull.mp3", 399}}},
        {"18", u"まみむめも", {u"Mikel Lindsaar", u"raasdnil@gmail.com"}, u"", {u"かきくえこ"}, false, {}},
        {"19", u"You may_be Eligible for Legitimate_Cash from_GovAgencies!", {u"Grants-Notification", u"infoz@reactive-outpost.com"},
         u"<HR>", {}, false, {}},
        {"20", u"Microsoft Vlsta & Office2007, Just released for 79$ Save 1599.95$ 0ff Retai|", {u"Darrell Shaw", u"subventive@vodtravel.com"},
         u"Pn, 29 paX 2007 21:13:00 +0100", {u"hotnewsoft . com"}, false, {}},
        {"21", u"MySurvey.com:  You have a survey waiting!  91123105", {u"MySurvey.com & Carol Adams", u"carol@mysurvey.com"},
         u"Wed, 15 Dec 2010 12:21:20 -0500", {u"You have a survey waiting!"}, false, {}},
        {"22", u"testing", {u"foo@example.com"}, u"Mon, 6 Jun 2005 22:21:22 +0200", {u"This is the first part."}, true,
         {{u"ciële.txt", 11}}},
        {"23", u"〓 Test いろは歌", {u"郵便アリス", u"alice.yuubin@example.com"}, u"Mon, 01 Apr 2019 07:55:00 +0900 (JST)",
         {u"色は匂えど"}, false, {}},
        {"24", u"〓 Test いろは歌", {u"郵便アリス", u"alice.yuubin@example.com"}, u"Mon, 01 Apr 2019 07:55:00 +0900 (JST)",
         {u"色は匂えど"}, false, {}},
        {"25", u"〓 Test いろは歌", {u"郵便アリス", u"alice.yuubin@example.com"}, u"Mon, 01 Apr 2019 07:55:00 +0900 (JST)",
         {u"色は匂えど"}, false, {}},
        {"26", u"〓 Test いろは歌", {u"郵便アリス", u"alice.yuubin@example.com"}, u"Mon, 01 Apr 2019 07:55:00 +0900 (JST)",
         {u"色は匂えど\r\n散りぬるを", u"とりなくこゑすゆめさませ"}, false,
         {{u"inline-jpg-image-without-disposition.jpg", 107}, {u"inline-jpg-image-filename.jpg", 107},
          {u"attached-pdf-filename.pdf", 67}, {u"attached-pdf-without-disposition.pdf", 67},
          {u"attached-json-filename.json", 13}, {u"attached-text-plain-filename.txt", 44},
          {u"attached-text-html-filename.html", 44}}},
        {"27", u"MIME UTF8 Test ￠ More Text", {u"James Hillyerd", u"Andr〓 Pirard"}, u"Fri, 19 Oct 2012 12:22:49 -0700",
         {u"Lorem ipsum dolor sit amet"}, false, {}},
        {"28", u"MIME test 1", {u"James Hillyerd", u"james@makita.skynet"}, u"Sat, 13 Oct 2012 15:33:07 -0700",
         {u"Test of HTML section"}, false, {{u"favicon.png", 687}}},
        {"29", u"Malformed test", {u"Pavel Bazika", u"pavel.bazika@some.domain"}, u"Wed, 22 Feb 2021 13:29:24 +0800",
         {u"Text part"}, true, {{u"管理.doc", 7}}},
        {"30", u"Here is your dingus fish", {u"Barry", u"barry@digicool.com"}, u"Fri, 20 Apr 2001 19:35:02 -0400",
         {u"A text/plain part"}, true, {{u"dingusfish.gif", 3512}}},
        // The three pieces of one split message, all in the mailbox: joined, stored once.
        {"31+32+33", u"Photo of a girl with feather earrings", {u"anonymous@mit.edu"}, u"Tue, 28 Mar 2017 18:40:37 -0400",
         {u"Took the attached photo of a girl on the subway."}, true, {{u"earrings.jpg", -1}}},
        {"34", u"Die hei〓e Zypernsonne qu〓lte Max und Victoria ja b〓se auf dem Weg bis zur K〓steDie hei〓e Zypernsonne qu〓lte",
         {u"bob@example.com"}, u"Tue, 07 May 2013 23:11:57 +0000", {u"test"}, false, {}},
        {"35", u"Multi-media mail demonstration", {u"Mark Crispin", u"mrc@CAC.Washington.EDU"}, u"Mon, 6 Feb 1993 02:53:47 -0800 (PST)",
         {u"This is a demonstration of multi-part mail with encapsulated messages."}, false, {}},
        {"36", u"The Hare and the Tortoise", {u"Doug Sauder", u"dwsauder@example.com"}, u"Fri, 19 May 2000 00:50:08 -0400",
         {u"A HARE one day ridiculed the short feet"}, true,
         {{u"greenball.png", 1298}, {u"blueball.png", 1325}, {u"HasenundFr", 747}}},
        {"37", u"Test message from Microsoft Outlook 00", {u"Doug Sauder", u"doug@example.com"}, u"Wed, 17 May 2000 19:58:13 -0400",
         {u"The Hare and the Tortoise"}, false, {}},
        {"38", u"", {}, u"", {u"Test message"}, false, {}},
        // Our own fixtures (tests/data/receive/): an ISO-2022-JP body without any MIME header,
        // a display name that needs its quotes, uuencoded names in UTF-8 and code page 932,
        // and link targets of an HTML-only mail.
        {"jis-body-without-mime.eml", u"お知らせ", {u"\"Doe, John\" <john@example.com>"}, u"Thu, 10 Dec 2026 09:00:00 +0900",
         {u"こんにちは。\r\nＭＩＭＥの見出しのない本文です。"}, false, {}},
        {"uuencode-japanese-names.eml", u"uuencode", {u"Sato <sato@example.jp>"}, u"Thu, 10 Dec 2026 09:01:00 +0900",
         {u"報告書を送ります。", u"以上です。"}, false, {{u"報告書.txt", 84}, {u"見積.txt", 11}}},
        {"html-links.eml", u"HTML links", {u"News <news@example.com>"}, u"Thu, 10 Dec 2026 09:02:00 +0900",
         {u"詳しくはこちら (https://example.com/news?id=1&x=2)をご覧ください。", u"\r\nhttps://example.com/\r\n",
          u"\r\ninfo@example.com"}, false, {}},
    };
    return table;
}

QString stored(const char16_t* full, int width)
{
    return common::readField(common::fitField(QString::fromUtf16(full), width).constData(), width).trimmed();
}

using common::text::trimBlanks;

void writeAccount(const TempAppDir& dir, const Pop3Mailbox& box)
{
    dir.write(u"\\★MailData\\iniIdPass.ini",
              (QStringLiteral("[EXEINI]\r\nNAME=") + box.user() + QStringLiteral("\r\nNAME2=") + box.password() +
               QStringLiteral("\r\n")).toUtf8());
}

/// Every file below `root`, relative to it.
QStringList filesBelow(const QString& root)
{
    QStringList all;
    QDirIterator it(root, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        all << QDir(root).relativeFilePath(it.next());
    return all;
}

class ReceiveCorpus : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!box.ok())
            GTEST_SKIP() << "no Dovecot (fixture dovecot not running)";
        box.clear();
        writeAccount(dir, box);
    }

    ReceiveOutcome receive()
    {
        NMail mail;
        mail.NMailInitializeWinSock();
        mail.options().caFile = box.value(QStringLiteral("CA_FILE"));
        NMailMailbox client(mail);
        return ReceiveMail(dir.appDir(), {box.serverName(), 0}, client, host);
    }

    Pop3Mailbox box;
    TempAppDir dir;
    test::RecordingReceiveHost host;
};

} // namespace

TEST_F(ReceiveCorpus, StoresEveryRealWorldMessageAsACorrectClientShowsIt)
{
    QList<QByteArray> delivered; // per expectation; empty for a message the receive joins
    for (const Expectation& e : corpus()) {
        const QStringList sources = QString::fromLatin1(e.source).split(u'+');
        QByteArray raw;
        for (const QString& source : sources) {
            raw = source.endsWith(QStringLiteral(".eml")) ? test::fixtureMessage(source) : test::corpusMessage(source);
            ASSERT_FALSE(raw.isEmpty()) << "corpus message " << e.source << " not found in " << test::mailCorpusDir().toStdString();
            box.deliver(raw);
        }
        // POP3 carries lines ended by CR LF, whatever the server's file holds, the last one too.
        raw.replace("\r\n", "\n").replace("\n", "\r\n");
        if (!raw.endsWith("\r\n"))
            raw += "\r\n";
        delivered << (sources.size() == 1 ? raw : QByteArray());
    }
    const ReceiveOutcome out = receive();
    ASSERT_EQ(out.end, ReceiveEnd::Completed) << texts::ReceiveNoticeText(out.problem).toStdString();
    const int n = int(corpus().size());
    EXPECT_EQ(out.stored, n);
    EXPECT_EQ(host.resultLine, QString::number(n) + QStringLiteral("の新着メール有り。"));
    EXPECT_TRUE(box.messages().isEmpty()) << "every stored message is deleted on the server";

    const storage::HistoryFile history(dir.appDir(), storage::HistoryKind::Received);
    ASSERT_EQ(history.RecordCount(), n);
    const QString folder = dir.path(u"\\添付フォルダ");
    const QStringList extracted = QDir(folder).entryList(QDir::Files);
    QStringList keys;
    for (int i = 0; i < n; ++i) {
        const Expectation& e = corpus()[size_t(i)];
        SCOPED_TRACE(std::string("corpus message ") + e.source);
        const storage::MailRecord r = *history.ReadRecord(i + 1);
        // Its original is the message exactly as the server sent it; a record identical to an
        // earlier one (the same text in another encoding) shares the earlier message.
        const QString key = storage::Originals::keyOf(*history.ReadRecordBytes(i + 1));
        const qsizetype first = keys.indexOf(key);
        keys << key;
        const std::optional<QByteArray> original = history.originals()->Load(*history.ReadRecordBytes(i + 1));
        ASSERT_TRUE(original.has_value());
        const QByteArray sent = delivered.value(first >= 0 ? first : i);
        if (!sent.isEmpty()) {
            EXPECT_EQ(QCryptographicHash::hash(*original, QCryptographicHash::Sha256),
                      QCryptographicHash::hash(sent, QCryptographicHash::Sha256));
        }
        const QString subject = trimBlanks(r.Subject);
        const QString expectedSubject = QString::fromUtf16(e.subject);
        if (expectedSubject.startsWith(u'~'))
            EXPECT_TRUE(QRegularExpression(expectedSubject.mid(1)).match(subject).hasMatch()) << subject.toStdString();
        else
            EXPECT_EQ(subject, stored(e.subject, storage::MailRecord::SubjectWidth));
        EXPECT_EQ(trimBlanks(r.Date), stored(e.date, storage::MailRecord::DateWidth));
        const QString address = trimBlanks(r.Address);
        if (e.address.empty()) {
            EXPECT_EQ(address, QString());
        }
        for (const char16_t* piece : e.address)
            EXPECT_TRUE(address.contains(QString::fromUtf16(piece))) << address.toStdString();
        const QString body = r.Body;
        for (const char16_t* piece : e.body)
            EXPECT_TRUE(body.contains(QString::fromUtf16(piece))) << "body lacks " << QString::fromUtf16(piece).toStdString();
        EXPECT_FALSE(body.contains(QStringLiteral("X-Script/function"))) << "header text leaked into the body";
        // The viewer always gets the notice; the record only while the body leaves room for it.
        EXPECT_EQ(host.shown[size_t(i)].body.endsWith(QString::fromUtf16(NoticeText)), e.notice);
        if (host.shown[size_t(i)].body.size() < 8000) {
            EXPECT_EQ(trimBlanks(body).endsWith(QString::fromUtf16(NoticeText)), e.notice);
        }
        EXPECT_FALSE(subject.contains(u'\uFFFD') || body.contains(u'\uFFFD') || address.contains(u'\uFFFD'));
        EXPECT_EQ(host.shown[size_t(i)].subject.isEmpty(), QString::fromUtf16(e.subject).isEmpty());
        const QStringList boxes = host.boxesOf(size_t(i));
        if (*e.box) {
            EXPECT_EQ(boxes, QStringList{QString::fromUtf16(e.box)});
        }
        for (const File& f : e.files) {
            const QString piece = QString::fromUtf16(f.namePiece);
            const auto match = std::find_if(extracted.begin(), extracted.end(),
                                            [&](const QString& name) { return name.contains(piece); });
            EXPECT_NE(match, extracted.end()) << "no extracted file named like " << piece.toStdString();
            if (match != extracted.end() && f.size >= 0) {
                EXPECT_EQ(QFileInfo(folder + u'/' + *match).size(), f.size) << match->toStdString();
            }
        }
    }
    EXPECT_FALSE(QFile::exists(dir.path(u"\\添付フォルダ\\0.txt")));
}

TEST_F(ReceiveCorpus, KeepsHostileAndDuplicateAttachmentNamesInsideTheFolder)
{
    dir.write(u"\\添付フォルダ\\報告.txt", "old");
    const QStringList before = filesBelow(dir.root());
    box.deliver(test::fixtureMessage(QStringLiteral("hostile-attachment-name.eml")));
    box.deliver(test::fixtureMessage(QStringLiteral("duplicate-attachment-names.eml")));
    const ReceiveOutcome out = receive();
    ASSERT_EQ(out.stored, 2) << texts::ReceiveNoticeText(out.problem).toStdString();

    const QString folder = dir.path(u"\\添付フォルダ");
    QStringList added;
    for (const QString& f : filesBelow(dir.root()))
        if (!before.contains(f))
            added << f;
    QMap<QByteArray, QString> byContent;
    for (const QString& f : added) {
        if (f.startsWith(QStringLiteral("★MAilData/")))
            continue;
        EXPECT_TRUE(f.startsWith(QStringLiteral("添付フォルダ/")) && !f.mid(7).contains(u'/'))
            << "file written outside the attachment folder: " << f.toStdString();
        QFile file(dir.root() + u'/' + f);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        byContent.insert(file.readAll().trimmed(), f);
    }
    for (const char* content : {"EVIL-ONE", "EVIL-TWO", "EVIL-THREE", "EVIL-FOUR"})
        EXPECT_TRUE(byContent.contains(content)) << content << " not extracted";
    EXPECT_FALSE(QFile::exists(QStringLiteral("/tmp/corvidan-evil3")));
    EXPECT_FALSE(QFileInfo::exists(QFileInfo(dir.root()).absolutePath() + QStringLiteral("/evil1.txt")));
    EXPECT_TRUE(byContent.contains(QStringLiteral("一つ目の報告").toUtf8()));
    EXPECT_TRUE(byContent.contains(QStringLiteral("二つ目の報告").toUtf8()));
    EXPECT_EQ(dir.read(u"\\添付フォルダ\\報告.txt"), QByteArray("old")) << "an existing file was overwritten";

    const storage::HistoryFile history(dir.appDir(), storage::HistoryKind::Received);
    EXPECT_EQ(trimBlanks(history.ReadRecord(1)->Subject), QStringLiteral("危険な添付ファイル名"));
    EXPECT_EQ(trimBlanks(history.ReadRecord(2)->Subject), QStringLiteral("同じ名前の添付"));
    EXPECT_TRUE(history.ReadRecord(2)->Body.contains(QStringLiteral("二つとも同じ名前です。")));
}

TEST_F(ReceiveCorpus, JoinsWordsSplitInsideACharacterAndCutsTheSubjectToItsField)
{
    box.deliver(test::fixtureMessage(QStringLiteral("long-subject.eml")));
    const ReceiveOutcome out = receive();
    ASSERT_EQ(out.stored, 1) << texts::ReceiveNoticeText(out.problem).toStdString();
    const QString full = QStringLiteral("長い件名のテスト").repeated(8).left(60);
    ASSERT_EQ(host.shown.size(), 1u);
    EXPECT_EQ(host.shown[0].subject, full);
    const storage::HistoryFile history(dir.appDir(), storage::HistoryKind::Received);
    const storage::MailRecord r = *history.ReadRecord(1);
    EXPECT_EQ(r.Subject, full.left(50));
    EXPECT_TRUE(r.Address.contains(QStringLiteral("次郎")));
    EXPECT_TRUE(r.Body.contains(QStringLiteral("件名が長いメールです。")));
}

TEST_F(ReceiveCorpus, KeepsAPieceOfASplitMessageWhoseSiblingsAreMissing)
{
    box.deliver(test::corpusMessage(QStringLiteral("32")));
    const ReceiveOutcome out = receive();
    ASSERT_EQ(out.stored, 1) << texts::ReceiveNoticeText(out.problem).toStdString();
    const storage::MailRecord r = *storage::HistoryFile(dir.appDir(), storage::HistoryKind::Received).ReadRecord(1);
    EXPECT_TRUE(r.Body.contains(QStringLiteral("2/3"))) << r.Body.left(200).toStdString();
    EXPECT_FALSE(r.Body.contains(QStringLiteral("nlzNO8mVGVkbzXm8W55Zaellt0KqRv0ysF6H9")));
    ASSERT_EQ(host.shown.size(), 1u);
    EXPECT_EQ(host.boxesOf(0), QStringList{QString::fromUtf16(Partial)});
    // Its bytes wait in the folder for the other pieces.
    const QStringList kept = QDir(dir.path(u"\\添付フォルダ")).entryList({QStringLiteral("*.eml")}, QDir::Files);
    ASSERT_EQ(kept.size(), 1);
    // As the server sent it: with CR LF line ends.
    const QByteArray sent = test::corpusMessage(QStringLiteral("32")).replace("\r\n", "\n").replace("\n", "\r\n");
    EXPECT_EQ(QFileInfo(dir.path(u"\\添付フォルダ") + u'/' + kept[0]).size(), sent.size());
    EXPECT_TRUE(box.messages().isEmpty());
}

TEST_F(ReceiveCorpus, RebuildMakesTheSameHistoryAgainAndMendsARecordWhoseDecodingChanged)
{
    for (const Expectation& e : corpus()) {
        for (const QString& source : QString::fromLatin1(e.source).split(u'+'))
            box.deliver(source.endsWith(QStringLiteral(".eml")) ? test::fixtureMessage(source)
                                                               : test::corpusMessage(source));
    }
    box.deliver(test::corpusMessage(QStringLiteral("32"))); // a piece on its own, its file named in the record
    ASSERT_TRUE(receive().completed());
    storage::HistoryFile history(dir.appDir(), storage::HistoryKind::Received);
    const int n = history.RecordCount();
    ASSERT_EQ(n, int(corpus().size()) + 1);
    // Mail from before originals were kept.
    storage::MailRecord older;
    older.Subject = QStringLiteral("原文のない古いメール");
    older.Body = QStringLiteral("本文");
    ASSERT_TRUE(history.AppendRecord(older));
    const QByteArray received = dir.read(u"\\★MAilData\\zrbdata2.data");
    const QStringList originalsBefore = history.originals()->Keys();

    RebuildReport report = RebuildReceivedHistory(dir.appDir());
    ASSERT_TRUE(report.status) << report.status.detail().toStdString();
    EXPECT_EQ(report.records, n + 1);
    EXPECT_EQ(report.redecoded, n);
    EXPECT_EQ(report.changed, 0);
    EXPECT_EQ(report.withoutOriginal, 1);
    EXPECT_TRUE(dir.read(u"\\★MAilData\\zrbdata2.data") == received) << "decoding unchanged: the same bytes";
    EXPECT_TRUE(dir.read(u"\\★MAilData\\zrbdata2.data.bak") == received);
    EXPECT_EQ(history.originals()->Keys(), originalsBefore);

    // Record 2 as a faulty decoder of an earlier version once stored it, its original
    // in a file of its own named after every byte of that record.
    const QByteArray good = *history.ReadRecordBytes(2);
    storage::MailRecord wrong = storage::MailRecord::fromBytes(good.constData());
    wrong.Body = QStringLiteral("文字化けした本文");
    ASSERT_TRUE(history.WriteRecord(2, wrong));
    const QString earlierFile = history.originals()->folder() + u'/' +
                                storage::Originals::wholeRecordKeyOf(wrong.toBytes()) + QStringLiteral(".eml");
    {
        const storage::Originals move(history.originals()->folder());
        dir.write(QStringLiteral("\\★MAilData\\originals\\received\\") + QFileInfo(earlierFile).fileName(),
                  *move.Load(good));
        ASSERT_TRUE(move.RemoveKeys({storage::Originals::keyOf(good)}));
        ASSERT_TRUE(move.Load(wrong.toBytes()).has_value()) << "found under the earlier name";
    }
    (void)history.ReadAllHeaders(); // the summary now holds the faulty record

    report = RebuildReceivedHistory(dir.appDir());
    ASSERT_TRUE(report.status) << report.status.detail().toStdString();
    EXPECT_EQ(report.changed, 1);
    EXPECT_TRUE(dir.read(u"\\★MAilData\\zrbdata2.data") == received) << "the record is mended, the others untouched";
    EXPECT_TRUE(report.backupPath.endsWith(QStringLiteral("zrbdata2.data.bak2"))) << "the first backup is kept";
    EXPECT_TRUE(dir.read(u"\\★MAilData\\zrbdata2.data.bak") == received);
    EXPECT_NE(dir.read(u"\\★MAilData\\zrbdata2.data.bak2"), received);
    EXPECT_TRUE(history.originals()->Load(good).has_value());
    EXPECT_EQ(history.originals()->Keys(), originalsBefore) << "named anew";
    EXPECT_FALSE(QFileInfo::exists(earlierFile));
    EXPECT_EQ(history.ReadAllHeaders()[1].Subject, storage::MailRecord::fromBytes(good.constData()).Subject);
    EXPECT_EQ(history.ReadRecord(2)->Body, storage::MailRecord::fromBytes(good.constData()).Body);
    EXPECT_EQ(storage::CollectOrphanedOriginals(dir.appDir()), 0);
}
