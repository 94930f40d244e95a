#include "common/Cp932.h"
#include "storage/HistoryFile.h"
#include "storage/Originals.h"
#include "support/ScriptedMailbox.h"
#include "texts/NetErrorText.h"
#include "support/TempAppDir.h"
#include "common/Durable.h"
#include "transport/ReceiveMail.h"
#include "transport/SeenUids.h"

#include <QDir>
#include <QThread>
#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <functional>
#include <gtest/gtest.h>
#include <vector>

using namespace corvidan;
using namespace corvidan::transport;
using corvidan::test::TempAppDir;

namespace {

const QString Server = QStringLiteral("pop.example.jp");
using RecordingHost = test::RecordingReceiveHost;

void writeAccount(const TempAppDir& dir, const QString& id, const QString& password)
{
    dir.write(u"\\★MailData\\iniIdPass.ini",
              common::cp932::encode(QStringLiteral("[EXEINI]\r\nNAME=") + id + QStringLiteral("\r\nNAME2=") +
                                    password + QStringLiteral("\r\nNAME3=1\r\n")));
}

struct Fixture {
    TempAppDir dir;
    test::ScriptedMailbox mail;
    RecordingHost host;
    ReceiveSettings settings{Server, 0};

    Fixture() { writeAccount(dir, QStringLiteral("taro"), QStringLiteral("secret")); }
    ReceiveOutcome run() { return ReceiveMail(dir.appDir(), settings, mail, host); }
    storage::HistoryFile history() const { return storage::HistoryFile(dir.appDir(), storage::HistoryKind::Received); }
    storage::MailRecord record(int n) const { return *history().ReadRecord(n); }
};

QString trimmed(const QString& field)
{
    QString s = field;
    while (s.endsWith(u' '))
        s.chop(1);
    return s;
}

} // namespace

TEST(ReceiveMail, StoresEachMessageAndDeletesItOnlyAfterItsRecordIsOnDisk)
{
    Fixture f;
    for (int i = 1; i <= 3; ++i)
        f.mail.add(QStringLiteral("u%1").arg(i), QStringLiteral("件名%1").arg(i),
                                     QStringLiteral("本文%1\r\n").arg(i));
    std::vector<int> recordsAtDelete;
    f.mail.onDelete = [&](int) { recordsAtDelete.push_back(f.history().RecordCount()); };

    const ReceiveOutcome out = f.run();

    EXPECT_EQ(out.end, ReceiveEnd::Completed);
    // Messages stored in quick succession share one flush, after which they are deleted.
    EXPECT_EQ(recordsAtDelete, (std::vector<int>{3, 3, 3}));
    const std::vector<QString> expected = {
        QStringLiteral("connect pop.example.jp"), QStringLiteral("login taro/secret"), QStringLiteral("fetch 1"),
        QStringLiteral("fetch 2"), QStringLiteral("fetch 3"), QStringLiteral("dele 1"), QStringLiteral("dele 2"),
        QStringLiteral("dele 3"), QStringLiteral("close")};
    EXPECT_EQ(f.mail.log, expected);
    ASSERT_EQ(f.history().RecordCount(), 3);
    for (int i = 1; i <= 3; ++i) {
        const storage::MailRecord r = f.record(i);
        EXPECT_EQ(trimmed(r.Subject), QStringLiteral("件名%1").arg(i));
        EXPECT_EQ(trimmed(r.Address), QStringLiteral("差出人 <from@example.jp>"));
        EXPECT_EQ(trimmed(r.Date), QStringLiteral("Tue, 08 Dec 2026 09:00:00 +0900"));
        EXPECT_EQ(trimmed(r.Body), QStringLiteral("本文%1\r\n").arg(i));
        EXPECT_EQ(r.Live, 1);
    }
    EXPECT_EQ(f.host.currentRecordNo, 3);
    EXPECT_EQ(f.host.resultLine, QStringLiteral("3の新着メール有り。"));
    EXPECT_EQ(f.host.picture, f.dir.path(u"\\新着画像\\1.jpg"));
    EXPECT_EQ(f.host.statusLines.last(), QStringLiteral("メールのチェックをしています。"));
    EXPECT_TRUE(f.host.statusLines.contains(QStringLiteral("メールのチェックをしています。（2 / 3）")));
    EXPECT_EQ(f.host.progressCalls, (std::vector<std::pair<int, int>>{{1, 3}, {2, 3}, {3, 3}}));
    EXPECT_EQ(f.host.shown.back().subject, QStringLiteral("件名3"));
    EXPECT_FALSE(QFile::exists(f.dir.path(u"\\添付フォルダ\\0.txt")));
}

TEST(ReceiveMail, EndsEarlyWithoutServerConnectionAccountOrMail)
{
    {
        Fixture f;
        f.settings.pop3Server.clear();
        const ReceiveOutcome out = f.run();
        EXPECT_TRUE(f.mail.log.empty());
        EXPECT_TRUE(f.host.statusLines.isEmpty());
        EXPECT_EQ(f.host.resultLine, QStringLiteral("新着メール無し。"));
        EXPECT_EQ(out.end, ReceiveEnd::NoServer);
        EXPECT_EQ(out.problem.problem, ReceiveProblem::NoServer);
        EXPECT_TRUE(f.host.boxes.empty());
    }
    {
        Fixture f;
        f.mail.connectOk = false;
        f.mail.errorText = QStringLiteral("TLS接続を確立できません (pop.example.jp): The certificate is self-signed, and untrusted");
        const ReceiveOutcome out = f.run();
        EXPECT_EQ(f.mail.log, std::vector<QString>{QStringLiteral("connect pop.example.jp")});
        EXPECT_EQ(f.host.statusLines, QStringList{QStringLiteral("メールのチェックをしています。")});
        EXPECT_EQ(f.host.resultLine, QStringLiteral("新着メール無し。"));
        // A server that was never reached is not an empty mailbox: the reason is shown.
        ASSERT_EQ(f.host.boxes.size(), 1u);
        EXPECT_EQ(f.host.boxes[0], std::make_pair(f.mail.errorText, QStringLiteral("エラー")));
        EXPECT_EQ(out.end, ReceiveEnd::NoConnection);
    }
    {
        Fixture f;
        f.mail.connectOk = false;
        f.mail.errorText.clear();
        f.run();
        ASSERT_EQ(f.host.boxes.size(), 1u);
        EXPECT_EQ(f.host.boxes[0].text, QStringLiteral("POP3サーバーに接続できません: pop.example.jp"));
    }
    {
        // A failure of a kind reaches the front end as that kind, worded by its table.
        Fixture f;
        f.mail.connectOk = false;
        f.mail.netError.kind = NetErrorKind::CertificateUntrusted;
        f.mail.netError.host = QStringLiteral("pop.example.jp");
        f.mail.netError.detail = QStringLiteral("The certificate is self-signed, and untrusted");
        const ReceiveOutcome out = f.run();
        ASSERT_EQ(f.host.notices.size(), 1u);
        EXPECT_EQ(f.host.notices[0].problem, ReceiveProblem::ConnectFailed);
        EXPECT_EQ(f.host.notices[0].net.kind, NetErrorKind::CertificateUntrusted);
        EXPECT_EQ(f.host.boxes[0].text, corvidan::texts::NetErrorText(f.mail.netError));
        EXPECT_EQ(out.problem.net.detail, f.mail.netError.detail);
    }
    {
        Fixture f;
        writeAccount(f.dir, QStringLiteral("taro"), QString());
        f.mail.add(QStringLiteral("u1"), QStringLiteral("s"), QStringLiteral("b"));
        const ReceiveOutcome out = f.run();
        EXPECT_TRUE(f.host.accountRequested);
        EXPECT_EQ(f.host.accountId, QStringLiteral("taro"));
        EXPECT_TRUE(f.host.accountPassword.isEmpty());
        EXPECT_EQ(f.mail.log, (std::vector<QString>{QStringLiteral("connect pop.example.jp"), QStringLiteral("close")}));
        EXPECT_EQ(f.host.resultLine, QStringLiteral("新着メール無し。"));
        EXPECT_EQ(out.end, ReceiveEnd::NoAccount);
        EXPECT_EQ(out.problem.problem, ReceiveProblem::NoAccount);
        EXPECT_TRUE(f.host.boxes.empty()) << "the account dialog says it";
    }
    {
        Fixture f;
        const ReceiveOutcome out = f.run();
        EXPECT_EQ(f.mail.log.back(), QStringLiteral("close"));
        EXPECT_EQ(f.host.resultLine, QStringLiteral("新着メール無し。"));
        EXPECT_TRUE(f.host.picture.isEmpty());
        EXPECT_EQ(out.end, ReceiveEnd::Completed);
        EXPECT_FALSE(QFile::exists(f.history().path()) && f.history().RecordCount() > 0);
    }
}

TEST(ReceiveMail, ReadsTheAccountFileEachTimeAndLogsInWithApopWhenAsked)
{
    Fixture f;
    f.settings.apopFlag = 1;
    f.run();
    EXPECT_EQ(f.host.accountId, QStringLiteral("taro"));
    EXPECT_EQ(f.host.accountPassword, QStringLiteral("secret"));
    EXPECT_TRUE(f.mail.lastApop);

    writeAccount(f.dir, QStringLiteral("hanako"), QStringLiteral("pw2"));
    f.settings.apopFlag = 0;
    f.run();
    EXPECT_EQ(f.host.accountId, QStringLiteral("hanako"));
    EXPECT_FALSE(f.mail.lastApop);
    EXPECT_TRUE(f.mail.called(QStringLiteral("login hanako/pw2")));
}

TEST(ReceiveMail, ShowsTheLibraryTextUnderErrorWhenLoginFails)
{
    Fixture f;
    f.mail.add(QStringLiteral("u1"), QStringLiteral("s"), QStringLiteral("b"));
    f.mail.loginResult = -2;
    const ReceiveOutcome out = f.run();
    ASSERT_EQ(f.host.boxes.size(), 1u);
    EXPECT_EQ(f.host.boxes[0].text, QStringLiteral("-ERR [AUTH] Authentication failed."));
    EXPECT_EQ(f.host.boxes[0].title, QStringLiteral("エラー"));
    EXPECT_EQ(f.mail.log.back(), QStringLiteral("close"));
    EXPECT_FALSE(f.mail.called(QStringLiteral("fetch")));
    EXPECT_EQ(f.host.resultLine, QStringLiteral("新着メール無し。"));
    EXPECT_EQ(out.end, ReceiveEnd::AuthFailed);
}

/// A multipart message with one attachment part named `name`.
QByteArray withAttachment(const QString& subject, const QString& name, const QByteArray& disposition = "attachment")
{
    return QStringLiteral("From: a@example.jp\r\nSubject: %1\r\nMIME-Version: 1.0\r\n"
                          "Content-Type: multipart/mixed; boundary=\"b\"\r\n\r\n"
                          "--b\r\nContent-Type: text/plain; charset=UTF-8\r\n\r\n本文です。\r\n"
                          "--b\r\nContent-Type: application/octet-stream\r\n"
                          "Content-Disposition: %2; filename=\"%3\"\r\nContent-Transfer-Encoding: base64\r\n\r\n"
                          "aGVsbG8=\r\n--b--\r\n")
        .arg(subject, QString::fromLatin1(disposition), name)
        .toUtf8();
}

TEST(ReceiveMail, AddsTheAttachmentNoticeOnlyWhenAMarkedMessageWroteAFile)
{
    Fixture f;
    f.mail.box.push_back({QStringLiteral("u1"), withAttachment(QStringLiteral("添付あり"), QStringLiteral("a.txt"))});
    f.mail.add(QStringLiteral("u2"), QStringLiteral("なし"), QStringLiteral("See the Attachment section.\r\n"));
    // The word alone promises nothing: no file, no notice.
    f.mail.add(QStringLiteral("u3"), QStringLiteral("語だけ"), QStringLiteral("an attachment is missing\r\n"));
    // A file without the word: written, but the notice keeps to its old rule.
    f.mail.box.push_back({QStringLiteral("u4"), withAttachment(QStringLiteral("inline"), QStringLiteral("b.txt"), "inline")});
    f.run();
    const QString notice = QStringLiteral("♪♪♪　添付ファイルがありましので、添付フォルダに展開しました。♪♪♪");
    EXPECT_EQ(trimmed(f.record(1).Body), QStringLiteral("本文です。\r\n") + notice);
    EXPECT_EQ(f.host.shown[0].body, QStringLiteral("本文です。\r\n") + notice);
    for (int n : {2, 3, 4})
        EXPECT_FALSE(f.record(n).Body.contains(notice)) << n;
    EXPECT_TRUE(QFile::exists(f.dir.path(u"\\添付フォルダ\\a.txt")));
    EXPECT_TRUE(QFile::exists(f.dir.path(u"\\添付フォルダ\\b.txt")));
    EXPECT_EQ(f.mail.box.size(), 0u);
}

TEST(ReceiveMail, RecreatesAMissingAttachmentFolderAndLeavesNoScratchFile)
{
    Fixture f;
    ASSERT_TRUE(QDir(f.dir.path(u"\\添付フォルダ")).removeRecursively());
    f.mail.box.push_back({QStringLiteral("u1"), withAttachment(QStringLiteral("s"), QStringLiteral("a.txt"))});
    f.run();
    EXPECT_TRUE(QFile::exists(f.dir.path(u"\\添付フォルダ\\a.txt")));
    EXPECT_FALSE(QFile::exists(f.dir.path(u"\\添付フォルダ\\0.txt")));
    EXPECT_EQ(f.history().RecordCount(), 1);
}

TEST(ReceiveMail, TrimsBlanksAndCutsLongFieldsInTheRecordButShowsThemWhole)
{
    Fixture f;
    const QString longSubject = QString(60, u'長');
    f.mail.box.push_back({QStringLiteral("u1"),
                          test::ScriptedMailbox::text(longSubject + QStringLiteral(" "), QStringLiteral("  \t本文  "), QStringLiteral(" "))});
    f.run();
    const storage::MailRecord r = f.record(1);
    EXPECT_EQ(r.Subject, QString(50, u'長'));
    EXPECT_EQ(trimmed(r.Address), QString());
    EXPECT_EQ(trimmed(r.Body), QStringLiteral("\t本文"));
    EXPECT_TRUE(f.host.shown[0].subject.startsWith(longSubject));
    // The received history's buffer holds the record as written, cut and padded
    // like the file, not the whole text shown in the viewer.
    EXPECT_EQ(f.host.receivedRecord.Subject, r.Subject);
    EXPECT_EQ(f.host.receivedRecord.Address, r.Address);
    EXPECT_EQ(f.host.receivedRecord.Date, r.Date);
    EXPECT_EQ(f.host.receivedRecord.Body, r.Body);
}

TEST(ReceiveMail, ShortensALongSenderInItsNameNeverInItsAddress)
{
    Fixture f;
    const QString address = QStringLiteral("<yamada.hanako.sales-department@example.co.jp>");
    f.mail.box.push_back({QStringLiteral("u1"), test::ScriptedMailbox::text(QStringLiteral("s"), QStringLiteral("b"),
                                                              QString(40, u'山') + u' ' + address)});
    f.run();
    const QString stored = trimmed(f.record(1).Address);
    EXPECT_TRUE(stored.endsWith(address)) << stored.toStdString();
    EXPECT_TRUE(stored.startsWith(u'山'));
}

TEST(ReceiveMail, ReplacesTextCodePage932CannotHoldAndKeepsGoing)
{
    Fixture f;
    f.mail.add(QStringLiteral("u1"), QStringLiteral("絵文字😀です"), QStringLiteral("髙橋〜①😀"));
    f.mail.add(QStringLiteral("u2"), QStringLiteral("次"), QStringLiteral("b"));
    const ReceiveOutcome out = f.run();
    EXPECT_EQ(out.end, ReceiveEnd::Completed);
    EXPECT_EQ(trimmed(f.record(1).Subject), QStringLiteral("絵文字〓です"));
    EXPECT_EQ(trimmed(f.record(1).Body), QStringLiteral("髙橋～①〓"));
    EXPECT_EQ(f.history().RecordCount(), 2);
}

TEST(ReceiveMail, AppendsAfterTheLastRecordOfTheFile)
{
    Fixture f;
    f.dir.write(u"\\★MAilData\\zrbdata2.data", QByteArray(2 * storage::MailRecord::Size, ' '));
    f.mail.add(QStringLiteral("u1"), QStringLiteral("三通目"), QStringLiteral("b"));
    f.run();
    EXPECT_EQ(f.host.currentRecordNo, 3);
    EXPECT_EQ(trimmed(f.record(3).Subject), QStringLiteral("三通目"));
}

TEST(ReceiveMail, StopsAndLeavesTheMessageOnTheServerWhenTheRecordCannotBeWritten)
{
    Fixture f;
    for (int i = 1; i <= 3; ++i)
        f.mail.add(QStringLiteral("u%1").arg(i), QStringLiteral("s%1").arg(i), QStringLiteral("b"));
    // After the first record the history file turns into something unwritable. Records
    // go to disk in batches: a slow first message makes the first batch its alone.
    bool slow = false;
    f.host.onStep = [&] {
        if (!f.host.progressCalls.empty() && !std::exchange(slow, true))
            QThread::msleep(80);
        if (f.host.currentRecordNo == 1 && QFileInfo(f.history().path()).isFile()) {
            const QString p = f.history().path();
            ASSERT_TRUE(QFile::remove(p));
            ASSERT_TRUE(QDir().mkpath(p));
        }
    };
    const ReceiveOutcome out = f.run();
    EXPECT_EQ(out.end, ReceiveEnd::StoreFailed);
    EXPECT_TRUE(f.mail.called(QStringLiteral("dele 1")));
    EXPECT_FALSE(f.mail.called(QStringLiteral("dele 2")));
    EXPECT_FALSE(f.mail.called(QStringLiteral("dele 3")));
    EXPECT_EQ(f.mail.log.back(), QStringLiteral("close"));
    ASSERT_EQ(f.host.boxes.size(), 1u);
    EXPECT_TRUE(f.host.boxes[0].text.startsWith(QStringLiteral("受信したメールを着信履歴に保存できませんでした。")));
    EXPECT_TRUE(f.host.boxes[0].text.contains(QStringLiteral("サーバーに残してあります")));
    EXPECT_EQ(f.host.resultLine, QStringLiteral("1の新着メール有り。"));
    EXPECT_EQ(f.mail.box.size(), 2u); // messages 2 and 3 stay for the next receive
    EXPECT_EQ(f.mail.box[0].uid, QStringLiteral("u2"));

    // Their originals, kept for records never written, go at the next start; the first stays.
    ASSERT_TRUE(QDir(f.history().path()).removeRecursively());
    ASSERT_TRUE(storage::HistoryFile(f.dir.appDir(), storage::HistoryKind::Received).AppendRecord(f.host.receivedRecord));
    const storage::Originals originals(f.dir.appDir(), storage::HistoryKind::Received);
    EXPECT_EQ(originals.Keys().size(), 3);
    EXPECT_EQ(storage::CollectOrphanedOriginals(f.dir.appDir()), 2);
    EXPECT_EQ(originals.Keys(), QStringList{storage::Originals::keyOf(f.host.receivedRecord.toBytes())});
}

TEST(ReceiveMail, AMessageWhoseOriginalCannotBeKeptStaysOnTheServer)
{
    Fixture f;
    for (int i = 1; i <= 2; ++i)
        f.mail.add(QStringLiteral("u%1").arg(i), QStringLiteral("s%1").arg(i), QStringLiteral("b"));
    const QString folder = storage::Originals(f.dir.appDir(), storage::HistoryKind::Received).folder();
    ASSERT_TRUE(QDir().mkpath(QFileInfo(folder).path()));
    QFile blocker(folder);
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly)); // a file where the folder belongs
    blocker.close();

    const ReceiveOutcome out = f.run();
    EXPECT_EQ(out.end, ReceiveEnd::StoreFailed);
    EXPECT_EQ(out.stored, 0);
    EXPECT_EQ(f.history().RecordCount(), 0) << "no record without its original";
    EXPECT_FALSE(f.mail.called(QStringLiteral("dele 1")));
    EXPECT_EQ(f.mail.box.size(), 2u);
    ASSERT_EQ(f.host.boxes.size(), 1u);
    EXPECT_TRUE(f.host.boxes[0].text.startsWith(QStringLiteral("受信したメールを着信履歴に保存できませんでした。")));
}

TEST(ReceiveMail, RefusesToStorePastRecord32767)
{
    Fixture f;
    {
        QFile full(f.history().path());
        ASSERT_TRUE(full.open(QIODevice::WriteOnly));
        ASSERT_TRUE(full.resize(qint64(storage::MailRecord::Size) * 32767));
    }
    f.mail.add(QStringLiteral("u1"), QStringLiteral("s"), QStringLiteral("b"));
    const ReceiveOutcome out = f.run();
    EXPECT_EQ(out.end, ReceiveEnd::StoreFailed);
    EXPECT_FALSE(f.mail.called(QStringLiteral("dele")));
    ASSERT_EQ(f.host.boxes.size(), 1u);
    EXPECT_TRUE(f.host.boxes[0].text.contains(QStringLiteral("32767")));
    EXPECT_EQ(QFileInfo(f.history().path()).size(), qint64(storage::MailRecord::Size) * 32767);
    EXPECT_EQ(f.host.resultLine, QStringLiteral("新着メール無し。"));
}

TEST(ReceiveMail, StopsWithoutStoringWhenAFetchFails)
{
    Fixture f;
    f.mail.add(QStringLiteral("u1"), QStringLiteral("s1"), QStringLiteral("b"));
    f.mail.add(QStringLiteral("u2"), QStringLiteral("s2"), QStringLiteral("b"));
    f.mail.box[1].status = MailboxFetch::Status::Failed;
    f.mail.box[1].error.kind = NetErrorKind::Disconnected;
    f.mail.box[1].error.host = QStringLiteral("pop.example.jp");
    f.mail.box[1].error.port = 110;
    const ReceiveOutcome out = f.run();
    EXPECT_EQ(out.end, ReceiveEnd::FetchFailed);
    EXPECT_EQ(f.history().RecordCount(), 1);
    EXPECT_FALSE(f.mail.called(QStringLiteral("dele 2")));
    ASSERT_EQ(f.host.boxes.size(), 1u);
    EXPECT_EQ(f.host.boxes[0], std::make_pair(QStringLiteral("POP3サーバーとの接続が切れました (pop.example.jp:110)"),
                                              QStringLiteral("エラー")));
    EXPECT_EQ(out.problem.net.kind, NetErrorKind::Disconnected);
}

TEST(ReceiveMail, CancelStopsAfterTheMessageBeingStored)
{
    Fixture f;
    for (int i = 1; i <= 3; ++i)
        f.mail.add(QStringLiteral("u%1").arg(i), QStringLiteral("s%1").arg(i), QStringLiteral("b"));
    f.host.cancelAfterStored = 1;
    const ReceiveOutcome out = f.run();
    EXPECT_EQ(out.end, ReceiveEnd::Cancelled);
    EXPECT_TRUE(out.completed());
    EXPECT_EQ(f.history().RecordCount(), 1);
    EXPECT_TRUE(f.mail.called(QStringLiteral("dele 1")));
    EXPECT_FALSE(f.mail.called(QStringLiteral("fetch 2")));
    EXPECT_EQ(f.mail.log.back(), QStringLiteral("close"));
    EXPECT_EQ(f.host.resultLine, QStringLiteral("1の新着メール有り。"));
}

TEST(ReceiveMail, NeverStoresTwiceWhenTheServerDidNotApplyTheDeletions)
{
    Fixture f;
    for (int i = 1; i <= 3; ++i)
        f.mail.add(QStringLiteral("u%1").arg(i), QStringLiteral("s%1").arg(i), QStringLiteral("b"));
    f.mail.confirmClose = false; // connection lost before QUIT was answered
    f.run();
    EXPECT_EQ(f.history().RecordCount(), 3);
    EXPECT_EQ(f.mail.box.size(), 3u);

    // A new message arrived meanwhile; only it is stored, the rest is deleted.
    f.mail.add(QStringLiteral("u4"), QStringLiteral("s4"), QStringLiteral("b"));
    f.mail.confirmClose = true;
    f.host = RecordingHost();
    const ReceiveOutcome out = f.run();
    EXPECT_EQ(f.history().RecordCount(), 4);
    EXPECT_EQ(trimmed(f.record(4).Subject), QStringLiteral("s4"));
    EXPECT_EQ(out.duplicates, 3);
    EXPECT_EQ(out.stored, 1);
    EXPECT_EQ(f.host.resultLine, QStringLiteral("1の新着メール有り。"));
    EXPECT_TRUE(f.mail.box.empty());
    // Confirmed deletions need no memory any more.
    SeenUids seen(SeenUids::pathIn(f.dir.appDir()), Server, QStringLiteral("taro"));
    ASSERT_TRUE(seen.load());
    EXPECT_EQ(seen.size(), 0);
}

TEST(ReceiveMail, AnnouncedRecordsThatReachedTheFileAreNotStoredTwiceWhateverTheirDigest)
{
    Fixture f;
    for (int i = 1; i <= 2; ++i)
        f.mail.add(QStringLiteral("u%1").arg(i), QStringLiteral("s%1").arg(i), QStringLiteral("b"));
    f.mail.confirmClose = false;
    f.run();
    ASSERT_EQ(f.history().RecordCount(), 2);
    // As left by a kill between the write and the remembering: announcements only,
    // one as earlier versions wrote them (SHA-1 of the whole record), one as now.
    QFile::remove(SeenUids::pathIn(f.dir.appDir()));
    SeenUids killed(SeenUids::pathIn(f.dir.appDir()), Server, QStringLiteral("taro"));
    ASSERT_TRUE(killed.load());
    const QByteArray first = *f.history().ReadRecordBytes(1), second = *f.history().ReadRecordBytes(2);
    ASSERT_TRUE(killed.intend(QStringLiteral("u1"), 1, QCryptographicHash::hash(first, QCryptographicHash::Sha1),
                              SeenUids::digestOf(f.mail.box[0].bytes)));
    ASSERT_TRUE(killed.intend(QStringLiteral("u2"), 2, QByteArray::fromHex(storage::Originals::keyOf(second).toLatin1()),
                              SeenUids::digestOf(f.mail.box[1].bytes)));

    f.mail.confirmClose = true;
    const ReceiveOutcome out = f.run();
    EXPECT_EQ(out.duplicates, 2);
    EXPECT_EQ(f.history().RecordCount(), 2);
    EXPECT_TRUE(f.mail.box.empty());
}

TEST(ReceiveMail, KeepsRememberedIdsOfMessagesAStoppedRunDidNotReach)
{
    Fixture f;
    for (int i = 1; i <= 3; ++i)
        f.mail.add(QStringLiteral("u%1").arg(i), QStringLiteral("s%1").arg(i), QStringLiteral("b"));
    SeenUids earlier(SeenUids::pathIn(f.dir.appDir()), Server, QStringLiteral("taro"));
    ASSERT_TRUE(earlier.load());
    ASSERT_TRUE(earlier.remember(QStringLiteral("u3"), SeenUids::digestOf(f.mail.box[2].bytes)));
    ASSERT_TRUE(earlier.remember(QStringLiteral("gone"), QByteArray(20, 'g')));
    f.host.cancelAfterStored = 1;
    f.run();

    SeenUids seen(SeenUids::pathIn(f.dir.appDir()), Server, QStringLiteral("taro"));
    ASSERT_TRUE(seen.load());
    EXPECT_TRUE(seen.knows(QStringLiteral("u3")));     // still on the server, not reached
    EXPECT_FALSE(seen.knows(QStringLiteral("u1")));    // deleted and confirmed
    EXPECT_FALSE(seen.knows(QStringLiteral("gone")));  // no longer on the server
}

TEST(ReceiveMail, AnEmptyMailboxForgetsTheAccountsRememberedIds)
{
    // Left by a run killed after the server applied its deletions.
    Fixture f;
    SeenUids earlier(SeenUids::pathIn(f.dir.appDir()), Server, QStringLiteral("taro"));
    ASSERT_TRUE(earlier.load());
    ASSERT_TRUE(earlier.remember(QStringLiteral("u1"), QByteArray(20, 'c')));
    ASSERT_TRUE(earlier.intend(QStringLiteral("u2"), 2, QByteArray(20, 'x'), QByteArray(20, 'y')));
    SeenUids other(SeenUids::pathIn(f.dir.appDir()), Server, QStringLiteral("hanako"));
    ASSERT_TRUE(other.load());
    ASSERT_TRUE(other.remember(QStringLiteral("h1"), QByteArray(20, 'h')));

    f.mail.confirmClose = false; // deletions unconfirmed: nothing is forgotten
    f.run();
    SeenUids kept(SeenUids::pathIn(f.dir.appDir()), Server, QStringLiteral("taro"));
    ASSERT_TRUE(kept.load());
    EXPECT_TRUE(kept.contains(QStringLiteral("u1"), QByteArray(20, 'c')));

    f.mail.confirmClose = true;
    f.run();
    SeenUids seen(SeenUids::pathIn(f.dir.appDir()), Server, QStringLiteral("taro"));
    ASSERT_TRUE(seen.load());
    EXPECT_EQ(seen.size(), 0);
    SeenUids theirs(SeenUids::pathIn(f.dir.appDir()), Server, QStringLiteral("hanako"));
    ASSERT_TRUE(theirs.load());
    EXPECT_TRUE(theirs.knows(QStringLiteral("h1")));
}

TEST(SeenUids, KeepsAccountsApartAndSurvivesATornLastLine)
{
    TempAppDir dir;
    const QString path = SeenUids::pathIn(dir.appDir());
    {
        SeenUids other(path, QStringLiteral("other.example"), QStringLiteral("taro"));
        ASSERT_TRUE(other.load());
        ASSERT_TRUE(other.remember(QStringLiteral("X1"), QByteArray(20, '1')));
    }
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::Append));
    file.write("pop.example.jp\ttaro\tTOR"); // a crash in the middle of an append
    file.close();

    SeenUids mine(path, Server, QStringLiteral("taro"));
    ASSERT_TRUE(mine.load());
    EXPECT_EQ(mine.size(), 0);
    EXPECT_FALSE(mine.knows(QStringLiteral("X1")));
    ASSERT_TRUE(mine.remember(QStringLiteral("A1"), QByteArray(20, 'a')));
    ASSERT_TRUE(mine.sync());

    SeenUids again(path, Server, QStringLiteral("taro"));
    ASSERT_TRUE(again.load());
    EXPECT_TRUE(again.contains(QStringLiteral("A1"), QByteArray(20, 'a')));
    EXPECT_FALSE(again.contains(QStringLiteral("A1"), QByteArray(20, 'b')));
    EXPECT_FALSE(again.knows(QStringLiteral("TOR")));
    ASSERT_TRUE(again.keepOnly({}));

    SeenUids other(path, QStringLiteral("other.example"), QStringLiteral("taro"));
    ASSERT_TRUE(other.load());
    EXPECT_TRUE(other.contains(QStringLiteral("X1"), QByteArray(20, '1')));
    ASSERT_TRUE(other.keepOnly({}));
    EXPECT_FALSE(QFile::exists(path));
}

/// One case of a message that must stay on the server, and what must be true after.
struct UnstoredCase {
    const char* name;
    std::function<void(Fixture&)> arrange;
    /// Message numbers of the first run that must never see a DELE.
    std::vector<int> kept;
    int records;
    QString boxStart;
};

TEST(ReceiveMail, NeverDeletesAMessageWhoseRecordAndFilesAreNotOnDisk)
{
    const auto blockAttachments = [](Fixture& f) {
        ASSERT_TRUE(QDir(f.dir.path(u"\\添付フォルダ")).removeRecursively());
        f.dir.write(u"\\添付フォルダ", "a file where the folder should be");
    };
    const std::vector<UnstoredCase> cases = {
        {"attachment cannot be written",
         [&](Fixture& f) {
             f.mail.add(QStringLiteral("u1"), QStringLiteral("s1"), QStringLiteral("b"));
             f.mail.box.push_back({QStringLiteral("u2"), withAttachment(QStringLiteral("s2"), QStringLiteral("a.jpg"))});
             f.mail.add(QStringLiteral("u3"), QStringLiteral("s3"), QStringLiteral("b"));
             blockAttachments(f);
         },
         {2, 3}, 1, QStringLiteral("添付ファイルをオープンできません")},
        {"the history's flush fails",
         [](Fixture& f) {
             f.mail.add(QStringLiteral("u1"), QStringLiteral("s1"), QStringLiteral("b"));
             f.mail.add(QStringLiteral("u2"), QStringLiteral("s2"), QStringLiteral("b"));
             common::durable::setSyncProbe([](const QString& path) { return !path.endsWith(u"zrbdata2.data"); });
         },
         {1, 2}, 2, QStringLiteral("受信したメールを着信履歴に保存できませんでした。")},
        {"one id for two messages in one listing",
         [](Fixture& f) {
             f.mail.add(QStringLiteral("same"), QStringLiteral("first"), QStringLiteral("b"));
             f.mail.add(QStringLiteral("same"), QStringLiteral("second"), QStringLiteral("b"));
             SeenUids earlier(SeenUids::pathIn(f.dir.appDir()), Server, QStringLiteral("taro"));
             ASSERT_TRUE(earlier.load());
             ASSERT_TRUE(earlier.remember(QStringLiteral("same"), SeenUids::digestOf(f.mail.box[0].bytes)));
         },
         {}, 2, QString()},
        {"a remembered id with other content",
         [](Fixture& f) {
             f.mail.add(QStringLiteral("u1"), QStringLiteral("new mail, reused id"), QStringLiteral("b"));
             SeenUids earlier(SeenUids::pathIn(f.dir.appDir()), Server, QStringLiteral("taro"));
             ASSERT_TRUE(earlier.load());
             ASSERT_TRUE(earlier.remember(QStringLiteral("u1"), SeenUids::digestOf("an older message")));
         },
         {}, 1, QString()},
        {"an id remembered by an earlier version, without content",
         [](Fixture& f) {
             f.mail.add(QStringLiteral("u1"), QStringLiteral("s1"), QStringLiteral("b"));
             f.dir.write(u"\\★MAilData\\received-uids.txt", "pop.example.jp\ttaro\tu1\n");
         },
         {}, 1, QString()},
        {"the same message remembered by an earlier version's SHA-1",
         [](Fixture& f) {
             f.mail.add(QStringLiteral("u1"), QStringLiteral("s1"), QStringLiteral("b"));
             f.dir.write(u"\\★MAilData\\received-uids.txt",
                         "pop.example.jp\ttaro\tu1\tsha1:" +
                             QCryptographicHash::hash(f.mail.box[0].bytes, QCryptographicHash::Sha1).toHex() + '\n');
         },
         {}, 0, QString()},
        {"over the size bound, refused by the server",
         [](Fixture& f) {
             f.mail.add(QStringLiteral("u1"), QStringLiteral("s1"), QStringLiteral("b"));
             f.mail.add(QStringLiteral("u2"), QStringLiteral("big"), QStringLiteral("b"));
             f.mail.box[1].status = MailboxFetch::Status::TooBig;
             f.mail.add(QStringLiteral("u3"), QStringLiteral("refused"), QStringLiteral("b"));
             f.mail.box[2].status = MailboxFetch::Status::Refused;
             f.mail.box[2].error.kind = NetErrorKind::MessageRefused;
             f.mail.box[2].error.message = 3;
             f.mail.box[2].error.serverReply = QStringLiteral("-ERR locked");
             f.mail.add(QStringLiteral("u4"), QStringLiteral("s4"), QStringLiteral("b"));
         },
         {2, 3}, 2, QStringLiteral("次のメールは受信せず、サーバーに残しました。")},
    };
    for (const UnstoredCase& c : cases) {
        SCOPED_TRACE(c.name);
        Fixture f;
        c.arrange(f);
        const int waiting = int(f.mail.box.size());
        f.run();
        common::durable::setSyncProbe({});
        EXPECT_EQ(f.history().RecordCount(), c.records);
        for (int n = 1; n <= waiting; ++n) {
            const bool kept = std::find(c.kept.begin(), c.kept.end(), n) != c.kept.end();
            EXPECT_EQ(f.mail.called(QStringLiteral("dele %1").arg(n)), !kept) << "message " << n;
        }
        EXPECT_EQ(int(f.mail.box.size()), int(c.kept.size()));
        if (c.boxStart.isEmpty()) {
            EXPECT_TRUE(f.host.boxes.empty());
        } else {
            ASSERT_EQ(f.host.boxes.size(), 1u);
            EXPECT_TRUE(f.host.boxes[0].text.startsWith(c.boxStart)) << f.host.boxes[0].text.toStdString();
        }
    }
}

TEST(ReceiveMail, DeletesEachMessageOnlyAfterAFlushThatCoversItsRecord)
{
    Fixture f;
    for (int i = 1; i <= 4; ++i)
        f.mail.box.push_back({QStringLiteral("u%1").arg(i), withAttachment(QStringLiteral("s%1").arg(i), QStringLiteral("a.bin"))});
    // The order of flushes and deletions, as the server and the disk see it.
    common::durable::setSyncProbe([&](const QString& path) {
        if (path.endsWith(u"zrbdata2.data"))
            f.mail.log.push_back(QStringLiteral("flush history"));
        else if (path.contains(u"添付フォルダ"))
            f.mail.log.push_back(QStringLiteral("flush attachments"));
        return true;
    });
    f.run();
    common::durable::setSyncProbe({});
    ASSERT_EQ(f.history().RecordCount(), 4);
    for (int n = 1; n <= 4; ++n) {
        const auto at = [&](const QString& entry) {
            return std::find(f.mail.log.begin(), f.mail.log.end(), entry) - f.mail.log.begin();
        };
        const auto fetched = at(QStringLiteral("fetch %1").arg(n));
        const auto deleted = at(QStringLiteral("dele %1").arg(n));
        ASSERT_LT(deleted, std::ptrdiff_t(f.mail.log.size())) << n;
        bool history = false, attachments = false;
        for (auto i = fetched; i < deleted; ++i) {
            history = history || f.mail.log[i] == QStringLiteral("flush history");
            attachments = attachments || f.mail.log[i] == QStringLiteral("flush attachments");
        }
        EXPECT_TRUE(history && attachments) << "message " << n << " deleted before its flush";
    }
}

/// Message/partial fragments of one message split at line ends into `total` pieces.
std::vector<QByteArray> fragments(const QByteArray& whole, int total, const QByteArray& id)
{
    std::vector<QByteArray> out;
    qsizetype from = 0;
    for (int i = 0; i < total; ++i) {
        qsizetype to = i + 1 == total ? whole.size() : whole.indexOf("\r\n", whole.size() * (i + 1) / total) + 2;
        out.push_back("From: a@example.jp\r\nSubject: split\r\nMIME-Version: 1.0\r\n"
                      "Content-Type: message/partial; id=\"" + id + "\"; number=" + QByteArray::number(i + 1) +
                      "; total=" + QByteArray::number(total) + "\r\n\r\n" + whole.mid(from, to - from));
        from = to;
    }
    return out;
}

TEST(ReceiveMail, JoinsASplitMessageWhoseFragmentsAllArriveAndKeepsALoneFragment)
{
    Fixture f;
    const QByteArray inner = withAttachment(QStringLiteral("分割された添付"), QStringLiteral("whole.bin"));
    const std::vector<QByteArray> parts = fragments(inner, 3, "joined@example.jp");
    f.mail.box.push_back({QStringLiteral("p3"), parts[2]});
    f.mail.add(QStringLiteral("u1"), QStringLiteral("between"), QStringLiteral("b"));
    f.mail.box.push_back({QStringLiteral("p1"), parts[0]});
    f.mail.box.push_back({QStringLiteral("p2"), parts[1]});
    f.mail.box.push_back({QStringLiteral("q1"), fragments(inner, 2, "lonely@example.jp")[0]});
    f.run();

    ASSERT_EQ(f.history().RecordCount(), 3);
    EXPECT_EQ(trimmed(f.record(1).Subject), QStringLiteral("between"));
    EXPECT_EQ(trimmed(f.record(2).Subject), QStringLiteral("分割された添付"));
    EXPECT_TRUE(f.record(2).Body.startsWith(QStringLiteral("本文です。")));
    EXPECT_TRUE(QFile::exists(f.dir.path(u"\\添付フォルダ\\whole.bin")));
    // The lone part: a line saying what it is, its bytes kept in the folder.
    EXPECT_FALSE(f.record(3).Body.contains(QStringLiteral("aGVsbG8")));
    EXPECT_TRUE(f.record(3).Body.contains(QStringLiteral("1/2")));
    ASSERT_EQ(f.host.boxes.size(), 1u);
    EXPECT_EQ(f.host.boxes[0], std::make_pair(QStringLiteral("分割されたメールが全て揃っていません"), QString()));
    EXPECT_TRUE(f.mail.box.empty());
}

TEST(ReceiveMail, ReadsTheSizeBoundTheUserWroteAndIgnoresNonsense)
{
    TempAppDir dir;
    const qint64 fallback = 128ll << 20;
    EXPECT_EQ(ReadMaxMessageBytes(dir.appDir(), fallback), fallback);
    const std::vector<std::pair<QByteArray, qint64>> cases = {
        {"[RECEIVE]\r\nMaxMessageMB=512\r\n", 512ll << 20},
        {"[RECEIVE]\r\nMaxMessageMB= 300 \r\n", 300ll << 20},
        {"[RECEIVE]\r\nMaxMessageMB=0\r\n", fallback},
        {"[RECEIVE]\r\nMaxMessageMB=-5\r\n", fallback},
        {"[RECEIVE]\r\nMaxMessageMB=99999999999\r\n", fallback},
        {"[RECEIVE]\r\nMaxMessageMB=lots\r\n", fallback},
        {"[OTHER]\r\nMaxMessageMB=512\r\n", fallback},
    };
    for (const auto& [file, expected] : cases) {
        dir.write(u"\\★MAilData\\receive.ini", file);
        EXPECT_EQ(ReadMaxMessageBytes(dir.appDir(), fallback), expected) << file.constData();
    }
}
