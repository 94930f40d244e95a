// The receive against the real Dovecot: counts, numbering, failures, and the
// duplicate protection after a lost connection; partly through corvidan-receive.

#include "ReceiveServer.h"

#include "storage/HistoryFile.h"
#include "support/ScriptedMailbox.h"
#include "support/TempAppDir.h"
#include "transport/NMail.h"
#include "transport/ReceiveMail.h"

#include <QCryptographicHash>
#include <QDir>
#include <QRegularExpression>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <gtest/gtest.h>

using namespace corvidan;
using namespace corvidan::transport;
using corvidan::test::Pop3Mailbox;
using corvidan::test::TempAppDir;

namespace {

QByteArray simpleMessage(int i)
{
    return QStringLiteral("From: =?UTF-8?B?5aSq6YOO?= <sender%1@example.jp>\r\n"
                          "To: taro@example.jp\r\n"
                          "Subject: =?ISO-2022-JP?B?GyRCJUYlOSVIGyhC?= %1\r\n"
                          "Date: Tue, 08 Dec 2026 09:0%1:00 +0900\r\n"
                          "Message-ID: <run%1@example.jp>\r\n"
                          "MIME-Version: 1.0\r\n"
                          "Content-Type: text/plain; charset=UTF-8\r\n"
                          "Content-Transfer-Encoding: 8bit\r\n"
                          "\r\n")
               .arg(i)
               .toUtf8() +
           QStringLiteral("本文 %1 です。\r\n").arg(i).toUtf8();
}

/// The library with a connection that breaks instead of closing: no QUIT reaches
/// the server, so it applies none of the deletions.
class LosingClient final : public NMailMailbox {
public:
    explicit LosingClient(NMail& mail) : NMailMailbox(mail), m_mail(mail) {}
    bool close() override
    {
        m_mail.NMailEndWinSock();
        return false;
    }

private:
    NMail& m_mail;
};

struct Headless {
    int exitCode = -1;
    QString out, err;
};

class ReceiveRun : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!box.ok())
            GTEST_SKIP() << "no Dovecot (fixture dovecot not running)";
        box.clear();
        configure(box.serverName());
        setAccount(box.user(), box.password());
    }

    void configure(const QString& server)
    {
        dir.write(u"\\zorbet.ini", (QStringLiteral("SMTP=\r\nPOP3=") + server + QStringLiteral("\r\nMAIL=\r\nAPOP=0\r\n")).toUtf8());
    }
    void setAccount(const QString& id, const QString& password)
    {
        dir.write(u"\\★MailData\\iniIdPass.ini",
                  (QStringLiteral("[EXEINI]\r\nNAME=") + id + QStringLiteral("\r\nNAME2=") + password + QStringLiteral("\r\n")).toUtf8());
    }

    Headless runHeadless(QStringList options = {})
    {
        if (options.isEmpty())
            options = {QStringLiteral("--ca-file"), box.value(QStringLiteral("CA_FILE"))};
        QProcess p;
        p.start(QString::fromLocal8Bit(qgetenv("CORVIDAN_APPDIR")) + QStringLiteral("/corvidan-receive"),
                options << dir.root());
        Headless h;
        if (!p.waitForFinished(120000))
            return h;
        h.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
        h.out = QString::fromUtf8(p.readAllStandardOutput()).trimmed();
        h.err = QString::fromUtf8(p.readAllStandardError()).trimmed();
        return h;
    }

    /// `loseConnection`: the connection drops where QUIT would be sent.
    ReceiveOutcome runInProcess(bool loseConnection = false)
    {
        NMail mail;
        mail.NMailInitializeWinSock();
        mail.options().caFile = box.value(QStringLiteral("CA_FILE"));
        NMailMailbox real(mail);
        LosingClient losing(mail);
        Mailbox& client = loseConnection ? static_cast<Mailbox&>(losing) : real;
        return ReceiveMail(dir.appDir(), {box.serverName(), 0}, client, host);
    }

    storage::HistoryFile history() const { return storage::HistoryFile(dir.appDir(), storage::HistoryKind::Received); }

    Pop3Mailbox box;
    TempAppDir dir;
    test::RecordingReceiveHost host;
};

} // namespace

TEST_F(ReceiveRun, HeadlessReceiveStoresThreeMessagesInServerOrder)
{
    for (int i = 1; i <= 3; ++i)
        box.deliver(simpleMessage(i));
    const Headless h = runHeadless();
    EXPECT_EQ(h.exitCode, 0) << h.err.toStdString();
    EXPECT_EQ(h.out, QStringLiteral("3の新着メール有り。"));
    ASSERT_EQ(history().RecordCount(), 3);
    for (int i = 1; i <= 3; ++i) {
        const storage::MailRecord r = *history().ReadRecord(i);
        EXPECT_EQ(r.Subject.trimmed(), QStringLiteral("テスト %1").arg(i));
        EXPECT_TRUE(r.Address.contains(QStringLiteral("太郎"))) << r.Address.toStdString();
        EXPECT_TRUE(r.Body.contains(QStringLiteral("本文 %1 です。").arg(i)));
    }
    EXPECT_TRUE(box.messages().isEmpty());
    // Each record's original is the message as the server sent it, and only the owner reads it.
    for (int i = 1; i <= 3; ++i) {
        const QByteArray record = *history().ReadRecordBytes(i);
        EXPECT_EQ(QCryptographicHash::hash(history().originals()->Load(record).value_or(""), QCryptographicHash::Sha256),
                  QCryptographicHash::hash(simpleMessage(i), QCryptographicHash::Sha256));
    }
    const QFileDevice::Permissions others = QFileDevice::ReadGroup | QFileDevice::WriteGroup |
                                            QFileDevice::ReadOther | QFileDevice::WriteOther;
    for (const QFileInfo& file : QDir(history().originals()->folder()).entryInfoList(QDir::Files | QDir::Hidden))
        EXPECT_FALSE(file.permissions() & others) << file.fileName().toStdString();

    const Headless again = runHeadless();
    EXPECT_EQ(again.exitCode, 0);
    EXPECT_EQ(again.out, QStringLiteral("新着メール無し。"));
    EXPECT_EQ(history().RecordCount(), 3);

    // Decoded again from the originals: the same history, the old one kept beside it.
    const QByteArray before = dir.read(u"\\★MAilData\\zrbdata2.data");
    const Headless rebuilt = runHeadless({QStringLiteral("--rebuild")});
    EXPECT_EQ(rebuilt.exitCode, 0) << rebuilt.err.toStdString();
    EXPECT_EQ(rebuilt.out, QStringLiteral("着信履歴 3件: 原文から作り直し 3件（うち変更 0件）、原文なし 0件\n元の着信履歴: ") +
                               dir.path(u"\\★MAilData\\zrbdata2.data.bak"));
    EXPECT_TRUE(dir.read(u"\\★MAilData\\zrbdata2.data") == before);
    EXPECT_TRUE(dir.read(u"\\★MAilData\\zrbdata2.data.bak") == before);
}

TEST_F(ReceiveRun, AppendsAfterTheRecordsAlreadyInTheHistory)
{
    dir.write(u"\\★MAilData\\zrbdata2.data", QByteArray(2 * storage::MailRecord::Size, ' '));
    box.deliver(simpleMessage(1));
    const ReceiveOutcome out = runInProcess();
    EXPECT_EQ(out.stored, 1);
    ASSERT_EQ(history().RecordCount(), 3);
    EXPECT_EQ(history().ReadRecord(3)->Subject.trimmed(), QStringLiteral("テスト 1"));
}

TEST_F(ReceiveRun, ReportsAMissingAccountOrAWrongPasswordWithoutTouchingTheMailbox)
{
    box.deliver(simpleMessage(1));
    setAccount(box.user(), QString());
    const Headless missing = runHeadless();
    EXPECT_NE(missing.exitCode, 0);
    EXPECT_EQ(missing.out, QStringLiteral("新着メール無し。"));
    EXPECT_TRUE(missing.err.contains(QStringLiteral("ID・パスワード"))) << missing.err.toStdString();

    setAccount(box.user(), QStringLiteral("wrong-password"));
    const ReceiveOutcome out = runInProcess();
    EXPECT_EQ(out.end, ReceiveEnd::AuthFailed);
    ASSERT_EQ(host.boxes.size(), 1u);
    EXPECT_EQ(host.boxes[0].title, QStringLiteral("エラー"));
    EXPECT_FALSE(host.boxes[0].text.isEmpty());
    EXPECT_EQ(box.messages().size(), 1);
    EXPECT_EQ(history().RecordCount(), 0);

    const Headless wrong = runHeadless();
    EXPECT_NE(wrong.exitCode, 0);
    EXPECT_TRUE(wrong.err.startsWith(QStringLiteral("エラー"))) << wrong.err.toStdString();
}

TEST_F(ReceiveRun, ALostConnectionBeforeQuitNeverStoresAMessageTwice)
{
    for (int i = 1; i <= 2; ++i)
        box.deliver(simpleMessage(i));
    runInProcess(true);
    ASSERT_EQ(history().RecordCount(), 2);
    ASSERT_EQ(box.messages().size(), 2) << "the server applied deletions although QUIT was lost";

    box.deliver(simpleMessage(3));
    const Headless h = runHeadless();
    EXPECT_EQ(h.exitCode, 0) << h.err.toStdString();
    EXPECT_EQ(h.out, QStringLiteral("1の新着メール有り。"));
    ASSERT_EQ(history().RecordCount(), 3);
    EXPECT_EQ(history().ReadRecord(3)->Subject.trimmed(), QStringLiteral("テスト 3"));
    EXPECT_TRUE(box.messages().isEmpty());
    EXPECT_FALSE(QFile::exists(dir.path(u"\\★MAilData\\received-uids.txt")));
}

TEST_F(ReceiveRun, AFailedWriteLeavesTheMessageOnTheServer)
{
    box.deliver(simpleMessage(1));
    const QString historyPath = history().path();
    ASSERT_TRUE(QDir().mkpath(historyPath)); // a folder where the file belongs: every write fails
    const Headless failed = runHeadless();
    EXPECT_NE(failed.exitCode, 0);
    EXPECT_TRUE(failed.err.contains(QStringLiteral("保存できませんでした"))) << failed.err.toStdString();
    EXPECT_EQ(failed.out, QStringLiteral("新着メール無し。"));
    EXPECT_EQ(box.messages().size(), 1);

    ASSERT_TRUE(QDir(historyPath).removeRecursively());
    const Headless retried = runHeadless();
    EXPECT_EQ(retried.exitCode, 0) << retried.err.toStdString();
    EXPECT_EQ(retried.out, QStringLiteral("1の新着メール有り。"));
    EXPECT_EQ(history().RecordCount(), 1);
    EXPECT_TRUE(box.messages().isEmpty());
    // The original of the failed write went at the next start; the stored one stays.
    const QDir originals(history().originals()->folder());
    EXPECT_EQ(history().originals()->Keys(), QStringList{storage::Originals::keyOf(*history().ReadRecordBytes(1))});
    // A lock and one pack: no marker, nothing half written.
    const QStringList files = originals.entryList(QDir::Files | QDir::Hidden);
    EXPECT_EQ(files.size(), 2) << files.join(u' ').toStdString();
    EXPECT_EQ(files.filter(QRegularExpression(QStringLiteral("^\\.lock$|\\.pack$"))), files);
}
