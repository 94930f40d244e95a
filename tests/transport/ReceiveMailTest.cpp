#include "common/Cp932.h"
#include "storage/HistoryFile.h"
#include "support/TempAppDir.h"
#include "transport/ReceiveMail.h"
#include "transport/SeenUids.h"

#include <QDir>
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

struct FakeMessage {
    QString uid;
    QString subject, date, from;
    QString header = QStringLiteral("From: a@example.jp\r\nSubject: x\r\n");
    QString body;
    QString extractedBody; // what the library leaves in the body after extraction
    int attachResult = 1;
    int getResult = 0;
};

/// A mailbox behind the library calls: records every call in order, deletes only
/// when a confirmed close applies the marks, and lets a test hook into a call.
class FakeMail final : public MailClient {
public:
    std::vector<FakeMessage> box;
    std::vector<QString> log;
    int connectResult = 7;
    int authResultOverride = 1; // 1 = the box size
    bool confirmClose = true;
    QString error = QStringLiteral("-ERR [AUTH] Authentication failed.");
    std::function<void(int n)> onDelete;
    std::function<void(int n)> onStatus;
    QString lastMessageText, lastFolder, lastScratch;
    bool scratchExistedDuringExtraction = false;
    int lastApop = 0;

    int connect(const QString& server) override
    {
        log.push_back(QStringLiteral("connect ") + server);
        return connectResult;
    }
    int authenticate(int, const QString& id, const QString& pw, int apop) override
    {
        log.push_back(QStringLiteral("auth ") + id + u'/' + pw);
        lastApop = apop;
        m_marked.assign(box.size(), false);
        return authResultOverride == 1 ? int(box.size()) : authResultOverride;
    }
    int getMailStatus(int, int n, QString& s, QString& d, QString& f, QString& h) override
    {
        log.push_back(QStringLiteral("status %1").arg(n));
        if (onStatus)
            onStatus(n);
        const FakeMessage& m = box.at(n - 1);
        s = m.subject, d = m.date, f = m.from, h = m.header;
        return 1;
    }
    int getMailSize(int, int n) override
    {
        log.push_back(QStringLiteral("size %1").arg(n));
        return int(box.at(n - 1).body.size());
    }
    int getMail(int, int n, QString& s, QString& d, QString& f, QString& h, QString& b) override
    {
        log.push_back(QStringLiteral("get %1").arg(n));
        const FakeMessage& m = box.at(n - 1);
        s = m.subject, d = m.date, f = m.from, h = m.header, b = m.body;
        m_current = n;
        return m.getResult;
    }
    int attachmentFileFirst(QString&, QString&, QString&, QString&, QString& body, const QString& folder,
                            const QString& scratch, const QString& text) override
    {
        log.push_back(QStringLiteral("extract"));
        lastMessageText = text, lastFolder = folder, lastScratch = scratch;
        scratchExistedDuringExtraction = QFile::exists(scratch);
        const FakeMessage& m = box.at(m_current - 1);
        body = m.extractedBody.isNull() ? m.body : m.extractedBody;
        return m.attachResult;
    }
    int attachmentFileClose() override
    {
        log.push_back(QStringLiteral("extract-close"));
        return 1;
    }
    int deleteMail(int, int n) override
    {
        log.push_back(QStringLiteral("dele %1").arg(n));
        m_marked.at(n - 1) = true;
        if (onDelete)
            onDelete(n);
        return 1;
    }
    int close(int) override
    {
        log.push_back(QStringLiteral("close"));
        m_confirmed = confirmClose;
        if (confirmClose) {
            std::vector<FakeMessage> kept;
            for (size_t i = 0; i < box.size(); ++i)
                if (i >= m_marked.size() || !m_marked[i])
                    kept.push_back(box[i]);
            box = kept;
        }
        return 1;
    }
    QString lastErrorText() override { return error; }
    QString uniqueId(int, int n) override { return box.at(n - 1).uid; }
    bool closeConfirmed() const override { return m_confirmed; }

    bool called(const QString& prefix) const
    {
        return std::any_of(log.begin(), log.end(), [&](const QString& l) { return l.startsWith(prefix); });
    }

private:
    std::vector<bool> m_marked;
    int m_current = 0;
    bool m_confirmed = false;
};

/// Records everything the receive shows.
class RecordingHost final : public ReceiveHost {
public:
    QStringList statusLines;
    QString resultLine;
    QString picture;
    QString accountId, accountPassword;
    bool accountRequested = false;
    std::vector<std::pair<QString, QString>> boxes;
    std::vector<ReceivedMessage> shown;
    std::int16_t currentRecordNo = 0;
    storage::MailRecord receivedRecord;
    std::vector<std::pair<int, int>> progressCalls;
    int cancelAfterStored = -1;

    void setStatusLine(const QString& t) override { statusLines << t; }
    void setResultLine(const QString& t) override { resultLine = t; }
    void showNewMailPicture(const QString& p) override { picture = p; }
    void setAccount(const QString& id, const QString& pw) override { accountId = id, accountPassword = pw; }
    void requestAccount() override { accountRequested = true; }
    void messageBox(const QString& text, const QString& title) override { boxes.emplace_back(text, title); }
    void showMessage(const ReceivedMessage& m) override { shown.push_back(m); }
    void setCurrentRecordNo(std::int16_t n) override { currentRecordNo = n; }
    void setReceivedRecord(const storage::MailRecord& r) override { receivedRecord = r; }
    void progress(int i, int n) override { progressCalls.emplace_back(i, n); }
    bool cancelRequested() override { return cancelAfterStored >= 0 && int(shown.size()) >= cancelAfterStored; }
};

FakeMessage message(const QString& uid, const QString& subject, const QString& body)
{
    FakeMessage m;
    m.uid = uid;
    m.subject = subject;
    m.date = QStringLiteral("Tue, 08 Dec 2026 09:00:00 +0900");
    m.from = QStringLiteral("差出人 <from@example.jp>");
    m.body = body;
    return m;
}

void writeAccount(const TempAppDir& dir, const QString& id, const QString& password)
{
    dir.write(u"\\★MailData\\iniIdPass.ini",
              common::cp932::encode(QStringLiteral("[EXEINI]\r\nNAME=") + id + QStringLiteral("\r\nNAME2=") +
                                    password + QStringLiteral("\r\nNAME3=1\r\n")));
}

struct Fixture {
    TempAppDir dir;
    FakeMail mail;
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
        f.mail.box.push_back(message(QStringLiteral("u%1").arg(i), QStringLiteral("件名%1").arg(i),
                                     QStringLiteral("本文%1\r\n").arg(i)));
    std::vector<int> recordsAtDelete;
    f.mail.onDelete = [&](int) { recordsAtDelete.push_back(f.history().RecordCount()); };

    const ReceiveOutcome out = f.run();

    EXPECT_EQ(out.end, ReceiveEnd::Completed);
    // Messages stored in quick succession share one flush, after which they are deleted.
    EXPECT_EQ(recordsAtDelete, (std::vector<int>{3, 3, 3}));
    const std::vector<QString> expected = {
        QStringLiteral("connect pop.example.jp"), QStringLiteral("auth taro/secret"),
        QStringLiteral("status 1"), QStringLiteral("size 1"), QStringLiteral("get 1"), QStringLiteral("extract"),
        QStringLiteral("extract-close"),
        QStringLiteral("status 2"), QStringLiteral("size 2"), QStringLiteral("get 2"), QStringLiteral("extract"),
        QStringLiteral("extract-close"),
        QStringLiteral("status 3"), QStringLiteral("size 3"), QStringLiteral("get 3"), QStringLiteral("extract"),
        QStringLiteral("extract-close"), QStringLiteral("dele 1"), QStringLiteral("dele 2"),
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
    }
    {
        Fixture f;
        f.mail.connectResult = -1;
        f.mail.error = QStringLiteral("TLS接続を確立できません (pop.example.jp): The certificate is self-signed, and untrusted");
        const ReceiveOutcome out = f.run();
        EXPECT_EQ(f.mail.log, std::vector<QString>{QStringLiteral("connect pop.example.jp")});
        EXPECT_EQ(f.host.statusLines, QStringList{QStringLiteral("メールのチェックをしています。")});
        EXPECT_EQ(f.host.resultLine, QStringLiteral("新着メール無し。"));
        // A server that was never reached is not an empty mailbox: the reason is shown.
        ASSERT_EQ(f.host.boxes.size(), 1u);
        EXPECT_EQ(f.host.boxes[0], std::make_pair(f.mail.error, QStringLiteral("エラー")));
        EXPECT_EQ(out.end, ReceiveEnd::NoConnection);
    }
    {
        Fixture f;
        f.mail.connectResult = -1;
        f.mail.error.clear();
        f.run();
        ASSERT_EQ(f.host.boxes.size(), 1u);
        EXPECT_EQ(f.host.boxes[0].first, QStringLiteral("POP3サーバーに接続できません: pop.example.jp"));
    }
    {
        Fixture f;
        writeAccount(f.dir, QStringLiteral("taro"), QString());
        f.mail.box.push_back(message(QStringLiteral("u1"), QStringLiteral("s"), QStringLiteral("b")));
        const ReceiveOutcome out = f.run();
        EXPECT_TRUE(f.host.accountRequested);
        EXPECT_EQ(f.host.accountId, QStringLiteral("taro"));
        EXPECT_TRUE(f.host.accountPassword.isEmpty());
        EXPECT_EQ(f.mail.log, (std::vector<QString>{QStringLiteral("connect pop.example.jp"), QStringLiteral("close")}));
        EXPECT_EQ(f.host.resultLine, QStringLiteral("新着メール無し。"));
        EXPECT_EQ(out.end, ReceiveEnd::NoAccount);
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
    EXPECT_EQ(f.mail.lastApop, -1);

    writeAccount(f.dir, QStringLiteral("hanako"), QStringLiteral("pw2"));
    f.settings.apopFlag = 0;
    f.run();
    EXPECT_EQ(f.host.accountId, QStringLiteral("hanako"));
    EXPECT_EQ(f.mail.lastApop, 0);
    EXPECT_TRUE(f.mail.called(QStringLiteral("auth hanako/pw2")));
}

TEST(ReceiveMail, ShowsTheLibraryTextUnderErrorWhenLoginFails)
{
    Fixture f;
    f.mail.box.push_back(message(QStringLiteral("u1"), QStringLiteral("s"), QStringLiteral("b")));
    f.mail.authResultOverride = -2;
    const ReceiveOutcome out = f.run();
    ASSERT_EQ(f.host.boxes.size(), 1u);
    EXPECT_EQ(f.host.boxes[0].first, QStringLiteral("-ERR [AUTH] Authentication failed."));
    EXPECT_EQ(f.host.boxes[0].second, QStringLiteral("エラー"));
    EXPECT_EQ(f.mail.log.back(), QStringLiteral("close"));
    EXPECT_FALSE(f.mail.called(QStringLiteral("status")));
    EXPECT_EQ(f.host.resultLine, QStringLiteral("新着メール無し。"));
    EXPECT_EQ(out.end, ReceiveEnd::AuthFailed);
}

TEST(ReceiveMail, MarksBodiesHoldingAnAttachmentCaseSensitively)
{
    Fixture f;
    FakeMessage marked = message(QStringLiteral("u1"), QStringLiteral("添付あり"),
                                 QStringLiteral("--b\r\nContent-Disposition: attachment; filename=a.txt\r\n"));
    marked.extractedBody = QStringLiteral("本文です。\r\n");
    f.mail.box.push_back(marked);
    f.mail.box.push_back(message(QStringLiteral("u2"), QStringLiteral("なし"),
                                 QStringLiteral("See the Attachment section.\r\n")));
    f.run();
    const QString notice = QStringLiteral("♪♪♪　添付ファイルがありましので、添付フォルダに展開しました。♪♪♪");
    EXPECT_EQ(trimmed(f.record(1).Body), QStringLiteral("本文です。\r\n\r\n") + notice);
    EXPECT_EQ(f.host.shown[0].body, QStringLiteral("本文です。\r\n\r\n") + notice);
    EXPECT_FALSE(f.record(2).Body.contains(notice));
}

TEST(ReceiveMail, ReportsUnopenableAttachmentsAndMissingPartsButStillStoresTheMessage)
{
    Fixture f;
    FakeMessage a = message(QStringLiteral("u1"), QStringLiteral("a"), QStringLiteral("x"));
    a.attachResult = -5;
    FakeMessage b = message(QStringLiteral("u2"), QStringLiteral("b"), QStringLiteral("y"));
    b.attachResult = 65536 - 6; // the result counts as a 16-bit number
    FakeMessage c = message(QStringLiteral("u3"), QStringLiteral("c"), QStringLiteral("z"));
    c.attachResult = -1;
    f.mail.box = {a, b, c};
    f.run();
    ASSERT_EQ(f.host.boxes.size(), 2u);
    EXPECT_EQ(f.host.boxes[0], std::make_pair(QStringLiteral("添付ファイルをオープンできません"), QString()));
    EXPECT_EQ(f.host.boxes[1], std::make_pair(QStringLiteral("分割されたメールが全て揃っていません"), QString()));
    EXPECT_EQ(f.history().RecordCount(), 3);
    EXPECT_TRUE(f.mail.called(QStringLiteral("dele 3")));
}

TEST(ReceiveMail, HandsTheLibraryTheMessageTextAndTheScratchFile)
{
    Fixture f;
    FakeMessage m = message(QStringLiteral("u1"), QStringLiteral("s"), QStringLiteral("line1\r\nline2\rline3\nsame\r\n"));
    m.header = QStringLiteral("Subject: s\r\nFrom: a@b\r\n");
    f.mail.box.push_back(m);
    f.run();
    EXPECT_EQ(f.mail.lastMessageText,
              QStringLiteral("Subject: s\r\nFrom: a@b\r\n\r\nline1\r\nline2\r\nline3\nsame\r\n\r\n") + QChar(u'\0'));
    EXPECT_TRUE(f.mail.scratchExistedDuringExtraction);
    EXPECT_EQ(f.mail.lastScratch, f.dir.path(u"\\添付フォルダ\\0.txt"));
    EXPECT_EQ(f.mail.lastFolder, f.dir.path(u"\\添付フォルダ\\"));
    EXPECT_TRUE(f.mail.lastFolder.endsWith(u'/'));
    EXPECT_FALSE(QFile::exists(f.mail.lastScratch));
}

TEST(ReceiveMail, RecreatesAMissingAttachmentFolder)
{
    Fixture f;
    ASSERT_TRUE(QDir(f.dir.path(u"\\添付フォルダ")).removeRecursively());
    f.mail.box.push_back(message(QStringLiteral("u1"), QStringLiteral("s"), QStringLiteral("b")));
    f.run();
    EXPECT_TRUE(f.mail.scratchExistedDuringExtraction);
    EXPECT_TRUE(QFileInfo(f.dir.path(u"\\添付フォルダ")).isDir());
    EXPECT_EQ(f.history().RecordCount(), 1);
}

TEST(BuildMessageText, EndsLinesAtCrLfOrLoneCrAndStopsAtNul)
{
    EXPECT_EQ(BuildMessageText(QString(), QString()), QStringLiteral("\r\n\r\n") + QChar(u'\0'));
    EXPECT_EQ(BuildMessageText(QStringLiteral("H"), QStringLiteral("a\r\rb")),
              QStringLiteral("H\r\na\r\n\r\nb\r\n") + QChar(u'\0'));
    EXPECT_EQ(BuildMessageText(QStringLiteral("H") + QChar(u'\0') + QStringLiteral("junk"),
                               QStringLiteral("b") + QChar(u'\0') + QStringLiteral("   ")),
              QStringLiteral("H\r\nb\r\n") + QChar(u'\0'));
    EXPECT_EQ(BuildMessageText(QStringLiteral("H\n"), QStringLiteral("x\n")),
              QStringLiteral("H\n\r\nx\n\r\n") + QChar(u'\0'));
}

TEST(ReceiveMail, TrimsBlanksAndCutsLongFieldsInTheRecordButShowsThemWhole)
{
    Fixture f;
    const QString longSubject = QString(60, u'長');
    FakeMessage m = message(QStringLiteral("u1"), QStringLiteral("  ") + longSubject + QStringLiteral(" "),
                            QStringLiteral("  \t本文  "));
    m.from = QStringLiteral("   ");
    f.mail.box.push_back(m);
    f.run();
    const storage::MailRecord r = f.record(1);
    EXPECT_EQ(r.Subject, QString(50, u'長'));
    EXPECT_EQ(trimmed(r.Address), QString());
    EXPECT_EQ(trimmed(r.Body), QStringLiteral("\t本文"));
    EXPECT_EQ(f.host.shown[0].subject, QStringLiteral("  ") + longSubject + QStringLiteral(" "));
    // The received history's buffer holds the record as written, cut and padded
    // like the file, not the whole text shown in the viewer.
    EXPECT_EQ(f.host.receivedRecord.Subject, r.Subject);
    EXPECT_EQ(f.host.receivedRecord.Address, r.Address);
    EXPECT_EQ(f.host.receivedRecord.Date, r.Date);
    EXPECT_EQ(f.host.receivedRecord.Body, r.Body);
}

TEST(ReceiveMail, ReplacesTextCodePage932CannotHoldAndKeepsGoing)
{
    Fixture f;
    f.mail.box.push_back(message(QStringLiteral("u1"), QStringLiteral("絵文字😀です"), QStringLiteral("髙橋〜①😀")));
    f.mail.box.push_back(message(QStringLiteral("u2"), QStringLiteral("次"), QStringLiteral("b")));
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
    f.mail.box.push_back(message(QStringLiteral("u1"), QStringLiteral("三通目"), QStringLiteral("b")));
    f.run();
    EXPECT_EQ(f.host.currentRecordNo, 3);
    EXPECT_EQ(trimmed(f.record(3).Subject), QStringLiteral("三通目"));
}

TEST(ReceiveMail, StopsAndLeavesTheMessageOnTheServerWhenTheRecordCannotBeWritten)
{
    Fixture f;
    for (int i = 1; i <= 3; ++i)
        f.mail.box.push_back(message(QStringLiteral("u%1").arg(i), QStringLiteral("s%1").arg(i), QStringLiteral("b")));
    // After the first message the history file turns into something unwritable.
    f.mail.onStatus = [&](int n) {
        if (n == 2) {
            const QString p = f.history().path();
            ASSERT_TRUE(QFile::remove(p));
            ASSERT_TRUE(QDir().mkpath(p));
        }
    };
    const ReceiveOutcome out = f.run();
    EXPECT_EQ(out.end, ReceiveEnd::StoreFailed);
    EXPECT_TRUE(f.mail.called(QStringLiteral("dele 1")));
    EXPECT_FALSE(f.mail.called(QStringLiteral("dele 2")));
    EXPECT_FALSE(f.mail.called(QStringLiteral("status 3")));
    EXPECT_EQ(f.mail.log.back(), QStringLiteral("close"));
    ASSERT_EQ(f.host.boxes.size(), 1u);
    EXPECT_TRUE(f.host.boxes[0].first.startsWith(QStringLiteral("受信したメールを着信履歴に保存できませんでした。")));
    EXPECT_TRUE(f.host.boxes[0].first.contains(QStringLiteral("サーバーに残してあります")));
    EXPECT_EQ(f.host.resultLine, QStringLiteral("1の新着メール有り。"));
    EXPECT_EQ(f.mail.box.size(), 2u); // messages 2 and 3 stay for the next receive
    EXPECT_EQ(f.mail.box[0].uid, QStringLiteral("u2"));
}

TEST(ReceiveMail, RefusesToStorePastRecord32767)
{
    Fixture f;
    {
        QFile full(f.history().path());
        ASSERT_TRUE(full.open(QIODevice::WriteOnly));
        ASSERT_TRUE(full.resize(qint64(storage::MailRecord::Size) * 32767));
    }
    f.mail.box.push_back(message(QStringLiteral("u1"), QStringLiteral("s"), QStringLiteral("b")));
    const ReceiveOutcome out = f.run();
    EXPECT_EQ(out.end, ReceiveEnd::StoreFailed);
    EXPECT_FALSE(f.mail.called(QStringLiteral("dele")));
    ASSERT_EQ(f.host.boxes.size(), 1u);
    EXPECT_TRUE(f.host.boxes[0].first.contains(QStringLiteral("32767")));
    EXPECT_EQ(QFileInfo(f.history().path()).size(), qint64(storage::MailRecord::Size) * 32767);
    EXPECT_EQ(f.host.resultLine, QStringLiteral("新着メール無し。"));
}

TEST(ReceiveMail, StopsWithoutStoringWhenAFetchFails)
{
    Fixture f;
    f.mail.box.push_back(message(QStringLiteral("u1"), QStringLiteral("s1"), QStringLiteral("b")));
    f.mail.box.push_back(message(QStringLiteral("u2"), QStringLiteral("s2"), QStringLiteral("b")));
    f.mail.box[1].getResult = -1;
    f.mail.error = QStringLiteral("接続が切れました");
    const ReceiveOutcome out = f.run();
    EXPECT_EQ(out.end, ReceiveEnd::FetchFailed);
    EXPECT_EQ(f.history().RecordCount(), 1);
    EXPECT_FALSE(f.mail.called(QStringLiteral("dele 2")));
    ASSERT_EQ(f.host.boxes.size(), 1u);
    EXPECT_EQ(f.host.boxes[0], std::make_pair(QStringLiteral("接続が切れました"), QStringLiteral("エラー")));
}

TEST(ReceiveMail, CancelStopsAfterTheMessageBeingStored)
{
    Fixture f;
    for (int i = 1; i <= 3; ++i)
        f.mail.box.push_back(message(QStringLiteral("u%1").arg(i), QStringLiteral("s%1").arg(i), QStringLiteral("b")));
    f.host.cancelAfterStored = 1;
    const ReceiveOutcome out = f.run();
    EXPECT_EQ(out.end, ReceiveEnd::Cancelled);
    EXPECT_TRUE(out.completed());
    EXPECT_EQ(f.history().RecordCount(), 1);
    EXPECT_TRUE(f.mail.called(QStringLiteral("dele 1")));
    EXPECT_FALSE(f.mail.called(QStringLiteral("status 2")));
    EXPECT_EQ(f.mail.log.back(), QStringLiteral("close"));
    EXPECT_EQ(f.host.resultLine, QStringLiteral("1の新着メール有り。"));
}

TEST(ReceiveMail, NeverStoresTwiceWhenTheServerDidNotApplyTheDeletions)
{
    Fixture f;
    for (int i = 1; i <= 3; ++i)
        f.mail.box.push_back(message(QStringLiteral("u%1").arg(i), QStringLiteral("s%1").arg(i), QStringLiteral("b")));
    f.mail.confirmClose = false; // connection lost before QUIT was answered
    f.run();
    EXPECT_EQ(f.history().RecordCount(), 3);
    EXPECT_EQ(f.mail.box.size(), 3u);

    // A new message arrived meanwhile; only it is stored, the rest is deleted.
    f.mail.box.push_back(message(QStringLiteral("u4"), QStringLiteral("s4"), QStringLiteral("b")));
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

TEST(ReceiveMail, KeepsRememberedIdsOfMessagesAStoppedRunDidNotReach)
{
    Fixture f;
    for (int i = 1; i <= 3; ++i)
        f.mail.box.push_back(message(QStringLiteral("u%1").arg(i), QStringLiteral("s%1").arg(i), QStringLiteral("b")));
    SeenUids earlier(SeenUids::pathIn(f.dir.appDir()), Server, QStringLiteral("taro"));
    ASSERT_TRUE(earlier.load());
    ASSERT_TRUE(earlier.remember(QStringLiteral("u3")));
    ASSERT_TRUE(earlier.remember(QStringLiteral("gone")));
    f.host.cancelAfterStored = 1;
    f.run();

    SeenUids seen(SeenUids::pathIn(f.dir.appDir()), Server, QStringLiteral("taro"));
    ASSERT_TRUE(seen.load());
    EXPECT_TRUE(seen.contains(QStringLiteral("u3")));     // still on the server, not reached
    EXPECT_FALSE(seen.contains(QStringLiteral("u1")));    // deleted and confirmed
    EXPECT_FALSE(seen.contains(QStringLiteral("gone")));  // no longer on the server
}

TEST(ReceiveMail, AnEmptyMailboxForgetsTheAccountsRememberedIds)
{
    // Left by a run killed after the server applied its deletions.
    Fixture f;
    SeenUids earlier(SeenUids::pathIn(f.dir.appDir()), Server, QStringLiteral("taro"));
    ASSERT_TRUE(earlier.load());
    ASSERT_TRUE(earlier.remember(QStringLiteral("u1")));
    ASSERT_TRUE(earlier.intend(QStringLiteral("u2"), 2, QByteArray(20, 'x')));
    SeenUids other(SeenUids::pathIn(f.dir.appDir()), Server, QStringLiteral("hanako"));
    ASSERT_TRUE(other.load());
    ASSERT_TRUE(other.remember(QStringLiteral("h1")));

    f.mail.confirmClose = false; // deletions unconfirmed: nothing is forgotten
    f.run();
    SeenUids kept(SeenUids::pathIn(f.dir.appDir()), Server, QStringLiteral("taro"));
    ASSERT_TRUE(kept.load());
    EXPECT_TRUE(kept.contains(QStringLiteral("u1")));

    f.mail.confirmClose = true;
    f.run();
    SeenUids seen(SeenUids::pathIn(f.dir.appDir()), Server, QStringLiteral("taro"));
    ASSERT_TRUE(seen.load());
    EXPECT_EQ(seen.size(), 0);
    SeenUids theirs(SeenUids::pathIn(f.dir.appDir()), Server, QStringLiteral("hanako"));
    ASSERT_TRUE(theirs.load());
    EXPECT_TRUE(theirs.contains(QStringLiteral("h1")));
}

TEST(SeenUids, KeepsAccountsApartAndSurvivesATornLastLine)
{
    TempAppDir dir;
    const QString path = SeenUids::pathIn(dir.appDir());
    {
        SeenUids other(path, QStringLiteral("other.example"), QStringLiteral("taro"));
        ASSERT_TRUE(other.load());
        ASSERT_TRUE(other.remember(QStringLiteral("X1")));
    }
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::Append));
    file.write("pop.example.jp\ttaro\tTOR"); // a crash in the middle of an append
    file.close();

    SeenUids mine(path, Server, QStringLiteral("taro"));
    ASSERT_TRUE(mine.load());
    EXPECT_EQ(mine.size(), 0);
    EXPECT_FALSE(mine.contains(QStringLiteral("X1")));
    ASSERT_TRUE(mine.remember(QStringLiteral("A1")));
    ASSERT_TRUE(mine.sync());

    SeenUids again(path, Server, QStringLiteral("taro"));
    ASSERT_TRUE(again.load());
    EXPECT_TRUE(again.contains(QStringLiteral("A1")));
    EXPECT_FALSE(again.contains(QStringLiteral("TOR")));
    ASSERT_TRUE(again.keepOnly({}));

    SeenUids other(path, QStringLiteral("other.example"), QStringLiteral("taro"));
    ASSERT_TRUE(other.load());
    EXPECT_TRUE(other.contains(QStringLiteral("X1")));
    ASSERT_TRUE(other.keepOnly({}));
    EXPECT_FALSE(QFile::exists(path));
}
