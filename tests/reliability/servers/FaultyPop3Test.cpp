// The receive procedure against a POP3 server that misbehaves: it drops the
// connection inside RETR, answers garbage, answers slowly or not at all,
// refuses DELE, or goes away before QUIT. Each run ends with one clear Japanese
// message; no message is lost or stored twice, and the next receive finishes.

#include "JapaneseMail.h"
#include "Torture.h"

#include "support/FakePop3Server.h"
#include "support/ScriptedMailbox.h"
#include "support/TempAppDir.h"
#include "texts/ErrorText.h"
#include "transport/NMail.h"
#include "transport/ReceiveMail.h"

#include <QElapsedTimer>
#include <QMap>
#include <QProcess>
#include <QThread>
#include <csignal>
#include <functional>
#include <iostream>
#include <gtest/gtest.h>

using namespace corvidan;
using namespace corvidan::transport;
using Faults = corvidan::test::FakePop3Server::Faults;

namespace {

const QString kTags = QStringLiteral("FS-\\d{2}");

/// Every case runs twice: with the socket's blocking waits (the headless receive)
/// and with the waits that keep the windows painting (the program's).
class FaultyPop3 : public ::testing::TestWithParam<bool> {
protected:
    explicit FaultyPop3(int messages = 5) : server(mailbox(messages))
    {
        dir.write(u"\\★MailData\\iniIdPass.ini", "[EXEINI]\r\nNAME=taro\r\nNAME2=secret\r\n");
    }

    QList<test::FakePop3Server::Message> mailbox(int count)
    {
        QList<test::FakePop3Server::Message> box;
        for (int i = 1; i <= count; ++i) {
            const QString tag = QStringLiteral("FS-%1").arg(i, 2, 10, QChar(u'0'));
            all << tag;
            box.append({"uidl-" + tag.toLatin1(), test::torture::makeJapaneseMail(tag, i).bytes});
        }
        return box;
    }

    ReceiveOutcome receive(int readTimeoutMs = 3000)
    {
        server.waitIdle();
        NMail mail;
        mail.NMailInitializeWinSock();
        mail.options().connectTimeoutMs = readTimeoutMs;
        mail.options().readTimeoutMs = readTimeoutMs;
        mail.options().serveEventsWhileWaiting = GetParam();
        NMailMailbox client(mail);
        host = test::RecordingReceiveHost();
        return ReceiveMail(dir.appDir(), {server.server(), 0}, client, host);
    }

    QStringList storedTags() const
    {
        const test::torture::HistoryScan scan = test::torture::scanHistory(dir.path(u"\\★MAilData\\zrbdata2.data"));
        EXPECT_TRUE(scan.problems.isEmpty());
        EXPECT_EQ(scan.tornTailBytes, 0);
        QStringList tags;
        for (int i = 0; i < scan.subjects.size(); ++i) {
            const QStringList inSubject = test::torture::markersIn(scan.subjects[i], kTags);
            EXPECT_EQ(inSubject.size(), 1);
            EXPECT_TRUE(scan.bodies[i].contains(QStringLiteral("[%1]").arg(inSubject.value(0))));
            tags += inSubject;
        }
        return tags;
    }

    QStringList serverTags() const
    {
        QStringList tags;
        for (const auto& m : server.mailbox())
            tags << QString::fromLatin1(m.uid.mid(5));
        return tags;
    }

    /// Nothing lost, nothing doubled: every message is in the history once or still on the server.
    void expectNothingLost()
    {
        const QStringList stored = storedTags();
        const QStringList waiting = serverTags();
        for (const QString& tag : std::as_const(all)) {
            EXPECT_LE(stored.count(tag), 1) << tag.toStdString() << " stored twice";
            EXPECT_TRUE(stored.contains(tag) || waiting.contains(tag)) << tag.toStdString() << " lost";
        }
    }

    /// The one box of a failed run: under "エラー", Japanese, holding `reason`.
    void expectOneErrorBox(const QString& reason)
    {
        EXPECT_FALSE(host.accountRequested);
        ASSERT_EQ(host.boxes.size(), 1u) << "boxes shown: " << host.boxes.size();
        std::cout << "  [" << host.boxes[0].title.toStdString() << "] " << host.boxes[0].text.toStdString() << '\n';
        EXPECT_EQ(host.boxes[0].title, QStringLiteral("エラー"));
        EXPECT_TRUE(host.boxes[0].text.contains(reason)) << host.boxes[0].text.toStdString();
    }

    /// A clean run afterwards finishes the job.
    void expectNextReceiveFinishes()
    {
        const ReceiveOutcome out = receive();
        EXPECT_TRUE(out.completed());
        EXPECT_FALSE(host.accountRequested);
        EXPECT_TRUE(host.boxes.empty()) << host.boxes[0].text.toStdString();
        QStringList stored = storedTags();
        stored.sort();
        EXPECT_EQ(stored, all);
        EXPECT_TRUE(server.mailbox().isEmpty());
    }

    /// The server went away where QUIT belongs: everything is stored, nothing was
    /// deleted, and the next receive deletes without storing again.
    void expectStoredButNotDeleted()
    {
        const ReceiveOutcome out = receive();
        EXPECT_TRUE(out.completed());
        EXPECT_EQ(out.stored, 5);
        expectOneErrorBox(QStringLiteral("POP3サーバー"));
        EXPECT_EQ(server.mailbox().size(), 5) << "deleted without a confirmed QUIT";
        expectNothingLost();
        const ReceiveOutcome next = receive();
        EXPECT_EQ(next.stored, 0);
        EXPECT_EQ(next.duplicates, 5);
        expectNextReceiveFinishes();
    }

    test::TempAppDir dir;
    QStringList all;
    test::FakePop3Server server;
    test::RecordingReceiveHost host;
};

} // namespace

TEST_P(FaultyPop3, ConnectionDroppedInsideRetrStopsWithTheMessageStillOnTheServer)
{
    server.nextSession([&](Faults& f) { f.dropInRetr = 3; });
    const ReceiveOutcome out = receive();
    EXPECT_EQ(out.end, ReceiveEnd::FetchFailed);
    EXPECT_EQ(out.stored, 2);
    expectOneErrorBox(QStringLiteral("POP3サーバーとの接続が切れました"));
    EXPECT_EQ(storedTags(), (QStringList{QStringLiteral("FS-01"), QStringLiteral("FS-02")}));
    EXPECT_EQ(server.mailbox().size(), 5) << "deletions applied without QUIT";
    expectNothingLost();
    expectNextReceiveFinishes();
}

TEST_P(FaultyPop3, GarbageRepliesAreReportedAndNothingIsStoredFromThem)
{
    for (const QByteArray verb : {"PASS", "STAT", "RETR"}) {
        SCOPED_TRACE(verb.constData());
        server.nextSession([&](Faults& f) { f.garbageAfter = verb; });
        const ReceiveOutcome out = receive();
        EXPECT_FALSE(out.completed());
        expectOneErrorBox(QStringLiteral("POP3サーバーの応答が正しくありません"));
        ASSERT_FALSE(host.boxes.empty());
        EXPECT_TRUE(host.boxes[0].text.contains(QStringLiteral("HTTP/1.1 400")));
        EXPECT_EQ(out.stored, 0);
        EXPECT_EQ(host.resultLine, QStringLiteral("新着メール無し。"));
        expectNothingLost();
    }
    expectNextReceiveFinishes();
}

TEST_P(FaultyPop3, ASlowServerWithinTheTimeOutIsWaitedFor)
{
    server.nextSession([&](Faults& f) { f.slowMs = 60; });
    const ReceiveOutcome out = receive(2000);
    EXPECT_TRUE(out.completed());
    EXPECT_TRUE(host.boxes.empty());
    EXPECT_EQ(out.stored, 5);
    EXPECT_EQ(host.resultLine, QStringLiteral("5の新着メール有り。"));
    EXPECT_TRUE(server.mailbox().isEmpty());
}

TEST_P(FaultyPop3, TimeOutsFireAndAreReported)
{
    struct Case {
        std::function<void(Faults&)> script;
        ReceiveEnd end;
        QString reason;
    };
    const QList<Case> cases = {
        {[](Faults& f) { f.slowMs = 1500; }, ReceiveEnd::NoConnection, QStringLiteral("タイムアウト")}, // greeting
        {[](Faults& f) { f.hangAfter = "PASS"; }, ReceiveEnd::AuthFailed, QStringLiteral("応答がありません (タイムアウト")},
        {[](Faults& f) { f.slowFrom = "RETR"; f.slowMs = 1500; }, ReceiveEnd::FetchFailed, QStringLiteral("応答がありません (タイムアウト")},
        // A byte now and then does not keep a reply alive.
        {[](Faults& f) { f.dripRetr = 1; f.dripMs = 40; }, ReceiveEnd::FetchFailed, QStringLiteral("遅すぎます (タイムアウト")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reason.toStdString());
        server.nextSession(c.script);
        const ReceiveOutcome out = receive(400);
        EXPECT_EQ(out.end, c.end);
        expectOneErrorBox(c.reason);
        EXPECT_EQ(out.stored, 0);
        expectNothingLost();
    }
    expectNextReceiveFinishes();
}

TEST_P(FaultyPop3, RefusedDeletionKeepsTheMessageFromBeingStoredTwice)
{
    server.nextSession([&](Faults& f) { f.refuseDele = 2; });
    const ReceiveOutcome out = receive();
    EXPECT_TRUE(out.completed());
    EXPECT_EQ(out.stored, 5);
    expectOneErrorBox(QStringLiteral("削除できません"));
    EXPECT_EQ(serverTags(), QStringList{QStringLiteral("FS-02")});
    expectNothingLost();
    expectNextReceiveFinishes();
}

TEST_P(FaultyPop3, ServerHangingUpBeforeQuitLeavesNoDoubleOnTheNextReceive)
{
    server.nextSession([&](Faults& f) { f.closeAfterRetr = 5; });
    expectStoredButNotDeleted();
}

TEST_P(FaultyPop3, UnansweredQuitLeavesNoDoubleOnTheNextReceive)
{
    server.nextSession([&](Faults& f) { f.quitUnanswered = true; });
    expectStoredButNotDeleted();
}

TEST_P(FaultyPop3, InterruptedHeadlessReceiveEndsQuicklyAndDeletesNothing)
{
    if (GetParam())
        GTEST_SKIP() << "corvidan-receive has waits of its own";
    server.nextSession([&](Faults& f) { f.dripRetr = 3; f.dripMs = 200; });
    dir.write(u"\\zorbet.ini", "SMTP=\r\nPOP3=" + server.server().toLatin1() + "\r\nMAIL=\r\nAPOP=0\r\n");
    QProcess receiver;
    receiver.start(qEnvironmentVariable("CORVIDAN_APPDIR") + QStringLiteral("/corvidan-receive"), {dir.root()});
    ASSERT_TRUE(receiver.waitForStarted());
    // Messages 1 and 2 are stored meanwhile; 3 is dripping.
    QThread::msleep(1500);
    ASSERT_EQ(receiver.state(), QProcess::Running) << receiver.readAllStandardError().toStdString();
    QElapsedTimer timer;
    timer.start();
    ::kill(static_cast<pid_t>(receiver.processId()), SIGTERM);
    ASSERT_TRUE(receiver.waitForFinished(15000));
    EXPECT_LT(timer.elapsed(), 3000);
    EXPECT_EQ(receiver.exitStatus(), QProcess::NormalExit) << "the signal was handled";
    EXPECT_TRUE(QString::fromUtf8(receiver.readAllStandardError()).contains(QStringLiteral("中止")));
    EXPECT_EQ(server.mailbox().size(), 5) << "no QUIT while a message was arriving";
    EXPECT_FALSE(storedTags().contains(QStringLiteral("FS-03")));
    expectNothingLost();
    expectNextReceiveFinishes();
}

INSTANTIATE_TEST_SUITE_P(Waits, FaultyPop3, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? "ServingEvents" : "Blocking";
                         });
