// Faults a real server will not produce on demand, served by a scripted fake.
#include "support/FakePop3Server.h"
#include "common/Cp932.h"
#include "texts/NetErrorText.h"
#include "transport/NMail.h"
#include "transport/Pop3Session.h"

#include <QElapsedTimer>
#include <atomic>
#include <thread>
#include <functional>
#include <QThread>
#include <QTemporaryDir>
#include <QDir>
#include <gtest/gtest.h>

using corvidan::test::FakePop3Server;
using corvidan::transport::FetchResult;
using corvidan::transport::FetchStatus;
using corvidan::transport::NMail;
using corvidan::transport::Pop3Endpoint;
using corvidan::transport::Pop3Session;

namespace {

QByteArray message(int n, const QByteArray& body = "text\r\n")
{
    return "Subject: message " + QByteArray::number(n) + "\r\nFrom: a@example.jp\r\n\r\n" + body;
}

FakePop3Server::Config withMessages(int count)
{
    FakePop3Server::Config config;
    for (int i = 1; i <= count; ++i)
        config.messages << message(i);
    return config;
}

class Pop3Fault : public ::testing::Test {
protected:
    void SetUp() override
    {
        mail.options().connectTimeoutMs = 2000;
        mail.options().readTimeoutMs = 700;
        mail.options().describeError = corvidan::texts::NetErrorText;
    }
    QString lastError()
    {
        QString text;
        int size = NMail::BufferSize;
        mail.NMailGetMessage(0, text, size);
        return text;
    }
    NMail mail;
};

TEST(Pop3EndpointParse, SchemesAndPorts)
{
    const auto plain = Pop3Endpoint::parse(QStringLiteral("mail.example.jp"));
    ASSERT_TRUE(plain);
    EXPECT_EQ(plain->host, QStringLiteral("mail.example.jp"));
    EXPECT_EQ(plain->port, 110);
    EXPECT_FALSE(plain->implicitTls);
    EXPECT_TRUE(Pop3Endpoint::parse(QStringLiteral("mail.example.jp:995"))->implicitTls);
    EXPECT_EQ(Pop3Endpoint::parse(QStringLiteral("mail.example.jp:1110"))->port, 1110);
    const auto secure = Pop3Endpoint::parse(QStringLiteral("pop3s://mail.example.jp"));
    EXPECT_TRUE(secure->implicitTls);
    EXPECT_EQ(secure->port, 995);
    EXPECT_TRUE(Pop3Endpoint::parse(QStringLiteral("POP3S://h:2995/"))->implicitTls);
    EXPECT_FALSE(Pop3Endpoint::parse(QStringLiteral("pop3://h:995"))->implicitTls) << "an explicit scheme wins";
    EXPECT_FALSE(Pop3Endpoint::parse(QStringLiteral(" pop3://")));
    EXPECT_FALSE(Pop3Endpoint::parse(QStringLiteral("h/path")));
}

TEST_F(Pop3Fault, DroppedConnectionMidMessageFailsThatCall)
{
    FakePop3Server::Config config = withMessages(3);
    config.messages[1] = message(2, QByteArray("line of text\r\n").repeated(20000));
    config.dropInRetr = 2;
    FakePop3Server server(config);
    const int handle = mail.NMailPop3Connect(server.server());
    ASSERT_GE(handle, 0) << lastError().toStdString();
    ASSERT_EQ(mail.NMailPop3Authenticate(handle, QStringLiteral("u"), QStringLiteral("p"), 0), 3);
    QString subject, date, from, header, body;
    EXPECT_GE(mail.NMailPop3GetMail(handle, 1, subject, date, from, header, body, 0, 0), 0);
    EXPECT_EQ(subject, QStringLiteral("message 1"));
    EXPECT_LT(mail.NMailPop3GetMail(handle, 2, subject, date, from, header, body, 0, 0), 0);
    EXPECT_TRUE(subject.isEmpty());
    EXPECT_TRUE(body.isEmpty());
    EXPECT_TRUE(lastError().contains(QStringLiteral("切れました"))) << lastError().toStdString();
    EXPECT_LT(mail.NMailPop3GetMailSize(handle, 3), 0);
    EXPECT_LT(mail.NMailPop3DeleteMail(handle, 1), 0);
    EXPECT_LT(mail.NMailPop3Close(handle), 0);
    EXPECT_FALSE(mail.Pop3LastCloseConfirmed());
}

TEST_F(Pop3Fault, GarbageReplyIsAnError)
{
    FakePop3Server::Config config = withMessages(1);
    config.garbageAfter = "PASS";
    FakePop3Server server(config);
    const int handle = mail.NMailPop3Connect(server.server());
    ASSERT_GE(handle, 0);
    EXPECT_LT(mail.NMailPop3Authenticate(handle, QStringLiteral("u"), QStringLiteral("p"), 0), 0);
    EXPECT_TRUE(lastError().contains(QStringLiteral("HTTP/1.1 400"))) << lastError().toStdString();
}

TEST_F(Pop3Fault, SilentServersTimeOut)
{
    FakePop3Server::Config mute;
    mute.greeting.clear();
    FakePop3Server silent(mute);
    QElapsedTimer timer;
    timer.start();
    EXPECT_EQ(mail.NMailPop3Connect(silent.server()), -1);
    EXPECT_LT(timer.elapsed(), 5000);
    EXPECT_TRUE(lastError().contains(QStringLiteral("タイムアウト"))) << lastError().toStdString();

    FakePop3Server::Config stalls = withMessages(2);
    stalls.hangAfter = "RETR";
    FakePop3Server stalling(stalls);
    const int handle = mail.NMailPop3Connect(stalling.server());
    ASSERT_GE(handle, 0);
    ASSERT_EQ(mail.NMailPop3Authenticate(handle, QStringLiteral("u"), QStringLiteral("p"), 0), 2);
    timer.restart();
    EXPECT_LT(mail.NMailPop3GetMailSize(handle, 1), 0);
    EXPECT_LT(timer.elapsed(), 5000);
    EXPECT_TRUE(lastError().contains(QStringLiteral("タイムアウト")));
}

TEST_F(Pop3Fault, ApopWithoutTimestampNeverFallsBackToPlainPassword)
{
    FakePop3Server::Config config = withMessages(1);
    config.greeting = "+OK no timestamp here";
    FakePop3Server server(config);
    const int handle = mail.NMailPop3Connect(server.server());
    ASSERT_GE(handle, 0);
    EXPECT_LT(mail.NMailPop3Authenticate(handle, QStringLiteral("u"), QStringLiteral("secret"), -1), 0);
    EXPECT_TRUE(lastError().contains(QStringLiteral("APOP"))) << lastError().toStdString();
    mail.NMailPop3Close(handle);
    for (const QByteArray& command : server.commands()) {
        EXPECT_FALSE(command.startsWith("PASS")) << command.constData();
        EXPECT_FALSE(command.contains("secret")) << command.constData();
    }
}

TEST_F(Pop3Fault, ApopDigestFollowsTheGreetingTimestamp)
{
    FakePop3Server server(withMessages(1));
    const int handle = mail.NMailPop3Connect(server.server());
    ASSERT_EQ(mail.NMailPop3Authenticate(handle, QStringLiteral("mrose"), QStringLiteral("tanstaaf"), -1), 1);
    // The example of RFC 1939 section 7.
    EXPECT_TRUE(server.commands().contains("APOP mrose c4c9334bac560ecc979e58001b3e22fb"));
}

TEST_F(Pop3Fault, LockStepWithoutPipeliningAndDotUnstuffing)
{
    FakePop3Server::Config config = withMessages(4);
    config.pipelining = false;
    config.messages[2] = message(3, ".leading dot\r\n..two dots\r\n.\r\nend\r\n");
    FakePop3Server server(config);
    Pop3Session session(mail.options());
    ASSERT_TRUE(session.open(server.server()));
    EXPECT_FALSE(session.pipelining());
    ASSERT_EQ(session.authenticate(QStringLiteral("u"), QStringLiteral("p"), false), 4);
    for (int n = 1; n <= 4; ++n) {
        const QByteArray* got = session.message(n);
        ASSERT_NE(got, nullptr) << corvidan::texts::NetErrorText(session.netError()).toStdString();
        EXPECT_EQ(*got, config.messages[n - 1]);
        EXPECT_TRUE(session.remove(n));
    }
    EXPECT_EQ(session.uniqueId(3), QStringLiteral("uid-3"));
    EXPECT_TRUE(session.quit());
    EXPECT_FALSE(server.sawUnexpectedPipelining());
    EXPECT_EQ(server.applied(), (QList<int>{1, 2, 3, 4}));
}

TEST_F(Pop3Fault, ReadAheadIsBoundedInBytes)
{
    FakePop3Server::Config config;
    for (int i = 1; i <= 10; ++i)
        config.messages << message(i, QByteArray("x").repeated(1000) + "\r\n");
    FakePop3Server server(config);
    const auto retrSent = [&] {
        QThread::msleep(150); // let the server thread take in what was sent
        int count = 0;
        for (const QByteArray& command : server.commands())
            count += command.startsWith("RETR") ? 1 : 0;
        return count;
    };
    mail.options().pipelineWindowBytes = 2500; // two messages ahead of the caller
    Pop3Session session(mail.options());
    ASSERT_TRUE(session.open(server.server()));
    ASSERT_EQ(session.authenticate(QStringLiteral("u"), QStringLiteral("p"), false), 10);
    ASSERT_NE(session.message(1), nullptr);
    EXPECT_EQ(retrSent(), 3);
    ASSERT_NE(session.message(2), nullptr);
    EXPECT_EQ(retrSent(), 4);
    for (int n = 3; n <= 10; ++n)
        ASSERT_NE(session.message(n), nullptr);
    EXPECT_TRUE(session.quit());
    EXPECT_EQ(retrSent(), 10) << "every message asked for once";
}

const char* statusName(FetchStatus status)
{
    switch (status) {
    case FetchStatus::Ok: return "Ok";
    case FetchStatus::TooBig: return "TooBig";
    case FetchStatus::Refused: return "Refused";
    case FetchStatus::Failed: return "Failed";
    case FetchStatus::Cancelled: return "Cancelled";
    }
    return "?";
}

// What a hostile or broken server may send: no reply sizes a buffer, nothing
// waits for ever, and a message over the bound does not end the run.
TEST_F(Pop3Fault, ServerAbuse)
{
    constexpr int kOpenFails = -9;
    const QByteArray big = message(1, QByteArray("a line of the big message\r\n").repeated(60000)); // 1.6 MB
    const QByteArray listTwo = "2 " + QByteArray::number(message(2).size()) + "\r\n";
    struct Abuse {
        const char* name;
        std::function<void(FakePop3Server::Config&)> serve;
        int count; // authenticate(), below 0 refused, kOpenFails: open() fails
        QList<FetchStatus> fetched;
        QString error; // in the first error text
        QByteArray neverSent;
    };
    const QList<Abuse> table = {
        {"LIST size 2147483647",
         [&](auto& c) { c.listLines = "1 2147483647\r\n" + listTwo; }, 2,
         {FetchStatus::TooBig, FetchStatus::Ok}, QStringLiteral("大きすぎる"), "RETR 1"},
        {"LIST number 2000000000", [](auto& c) { c.listLines = "1 10\r\n2000000000 10\r\n"; }, -1, {},
         QStringLiteral("2000000000"), "RETR"},
        {"UIDL number 2000000000", [](auto& c) { c.uidlLines = "2000000000 x\r\n"; }, -1, {},
         QStringLiteral("2000000000"), "RETR"},
        {"STAT count 2000000000", [](auto& c) { c.statLine = "+OK 2000000000 1"; }, -1, {},
         QStringLiteral("STAT"), "RETR"},
        {"LIST line without end", [](auto& c) { c.listLines = "1 " + QByteArray(1000, '7') + "\r\n"; }, -1, {},
         QStringLiteral("長すぎます"), "RETR"},
        {"never-ending CAPA", [](auto& c) { c.endlessCapa = true; }, kOpenFails, {}, QStringLiteral("長すぎます"),
         "USER"},
        {"never-ending RETR", [](auto& c) { c.endlessRetr = 1; }, 2, {FetchStatus::TooBig, FetchStatus::Failed},
         QStringLiteral("大きすぎる"), {}},
        {"dripping RETR",
         [](auto& c) {
             c.dripRetr = 1;
             c.dripMs = 20;
         },
         2, {FetchStatus::Failed, FetchStatus::Failed}, QStringLiteral("遅すぎます (タイムアウト"), "DELE"},
        {"a slow link that keeps its pace, over several read time-outs",
         [](auto& c) {
             c.messages[0] = message(1, QByteArray("slow but steady\r\n").repeated(300));
             c.dripRetr = 1;
             c.dripBytes = 64;
             c.dripMs = 20;
         },
         2, {FetchStatus::Ok, FetchStatus::Ok}, QString(), {}},
        {"RETR over the bound, then a normal one",
         [&](auto& c) {
             c.messages[0] = big;
             c.listLines = "1 100\r\n" + listTwo;
         },
         2, {FetchStatus::TooBig, FetchStatus::Ok}, QStringLiteral("大きすぎる"), {}},
        {"the same without pipelining",
         [&](auto& c) {
             c.pipelining = false;
             c.messages[0] = big;
             c.listLines = "1 100\r\n" + listTwo;
         },
         2, {FetchStatus::TooBig, FetchStatus::Ok}, QStringLiteral("大きすぎる"), {}},
        {"RETR refused", [](auto& c) { c.refuseRetr = 1; }, 2, {FetchStatus::Refused, FetchStatus::Ok},
         QStringLiteral("message is unavailable"), {}},
    };
    mail.options().maxMessageBytes = 1 << 20;
    for (const Abuse& row : table) {
        SCOPED_TRACE(row.name);
        FakePop3Server::Config config = withMessages(2);
        row.serve(config);
        FakePop3Server server(config);
        QElapsedTimer timer;
        timer.start();
        Pop3Session session(mail.options());
        QString firstError;
        const auto noteError = [&] {
            if (firstError.isEmpty())
                firstError = corvidan::texts::NetErrorText(session.netError());
        };
        const bool opened = session.open(server.server());
        EXPECT_EQ(opened, row.count != kOpenFails);
        int count = kOpenFails;
        if (opened) {
            count = session.authenticate(QStringLiteral("u"), QStringLiteral("p"), false);
            EXPECT_EQ(count < 0 ? -1 : count, row.count);
        }
        noteError();
        QList<FetchStatus> fetched;
        for (int n = 1; n <= std::max(count, 0); ++n) {
            FetchResult got = session.fetch(n);
            fetched << got.status;
            if (got.status == FetchStatus::Ok)
                EXPECT_EQ(got.bytes, config.messages[n - 1]);
            else if (firstError.isEmpty())
                firstError = corvidan::texts::NetErrorText(got.error);
            if (got.status == FetchStatus::TooBig) {
                EXPECT_GT(got.size, mail.options().maxMessageBytes) << "TooBig names the size";
            }
            if (got.status == FetchStatus::Ok)
                session.remove(n);
        }
        QStringList names;
        for (FetchStatus status : fetched)
            names << QString::fromLatin1(statusName(status));
        QStringList expected;
        for (FetchStatus status : row.fetched)
            expected << QString::fromLatin1(statusName(status));
        EXPECT_EQ(names, expected);
        EXPECT_TRUE(firstError.contains(row.error)) << firstError.toStdString();
        if (count >= 0 && !row.fetched.contains(FetchStatus::Failed)) {
            EXPECT_TRUE(session.quit()) << corvidan::texts::NetErrorText(session.netError()).toStdString();
        }
        EXPECT_LT(timer.elapsed(), 8000) << "a hostile server held the session";
        if (!row.neverSent.isEmpty()) {
            for (const QByteArray& command : server.commands()) {
                EXPECT_FALSE(command.startsWith(row.neverSent)) << command.constData();
            }
        }
    }
}

TEST_F(Pop3Fault, CancelBetweenMessagesStillQuitsButNotWhileARetrArrives)
{
    std::atomic<bool> stop{false};
    mail.options().readTimeoutMs = 5000;
    mail.options().cancelled = [&] { return stop.load(); };
    {
        FakePop3Server server(withMessages(3));
        Pop3Session session(mail.options());
        ASSERT_TRUE(session.open(server.server()));
        ASSERT_EQ(session.authenticate(QStringLiteral("u"), QStringLiteral("p"), false), 3);
        ASSERT_EQ(session.fetch(1).status, FetchStatus::Ok);
        EXPECT_TRUE(session.remove(1));
        stop = true;
        EXPECT_EQ(session.fetch(2).status, FetchStatus::Cancelled);
        EXPECT_TRUE(session.isOpen());
        EXPECT_TRUE(session.quit()) << "the RETRs in flight are read, then QUIT";
        EXPECT_EQ(server.applied(), QList<int>{1});
    }
    {
        // What is still owed after the cancel is waited for only so long.
        stop = false;
        FakePop3Server::Config config = withMessages(3);
        config.dripRetr = 2;
        config.dripMs = 200; // about 12 s for message 2
        FakePop3Server server(config);
        Pop3Session session(mail.options());
        ASSERT_TRUE(session.open(server.server()));
        ASSERT_EQ(session.authenticate(QStringLiteral("u"), QStringLiteral("p"), false), 3);
        ASSERT_EQ(session.fetch(1).status, FetchStatus::Ok);
        EXPECT_TRUE(session.remove(1));
        stop = true;
        EXPECT_EQ(session.fetch(2).status, FetchStatus::Cancelled);
        EXPECT_TRUE(session.isOpen());
        QElapsedTimer timer;
        timer.start();
        EXPECT_FALSE(session.quit());
        EXPECT_LT(timer.elapsed(), 4500);
        EXPECT_FALSE(session.isOpen());
        EXPECT_TRUE(server.applied().isEmpty());
    }
    stop = false;
    FakePop3Server::Config config = withMessages(3);
    config.dripRetr = 2;
    config.dripMs = 30;
    FakePop3Server server(config);
    Pop3Session session(mail.options());
    ASSERT_TRUE(session.open(server.server()));
    ASSERT_EQ(session.authenticate(QStringLiteral("u"), QStringLiteral("p"), false), 3);
    ASSERT_EQ(session.fetch(1).status, FetchStatus::Ok);
    EXPECT_TRUE(session.remove(1));
    QElapsedTimer timer;
    timer.start();
    std::thread canceller([&] {
        QThread::msleep(300);
        stop = true;
    });
    const FetchResult got = session.fetch(2);
    canceller.join();
    EXPECT_EQ(got.status, FetchStatus::Cancelled) << corvidan::texts::NetErrorText(got.error).toStdString();
    EXPECT_LT(timer.elapsed(), 3000);
    EXPECT_FALSE(session.isOpen()) << "dropped mid-message";
    EXPECT_FALSE(session.quit());
    EXPECT_FALSE(server.commands().contains("QUIT"));
    EXPECT_TRUE(server.applied().isEmpty());
}

TEST_F(Pop3Fault, DotUnstuffingHoldsAcrossReadBoundaries)
{
    // Lines of dots, lines that look like the end, CR and LF split over reads.
    QByteArray body;
    for (int i = 0; i < 20000; ++i)
        body += i % 3 == 0 ? ".\r\n" : i % 3 == 1 ? "..x.\r\n" : ".\r.\r\n";
    FakePop3Server::Config config;
    config.messages << message(1, body) << message(2, ".\r\n") << message(3, body);
    config.dripRetr = 1;
    config.dripBytes = 997;
    config.dripMs = 1; // one read per piece, boundaries everywhere
    FakePop3Server server(config);
    Pop3Session session(mail.options());
    ASSERT_TRUE(session.open(server.server()));
    ASSERT_EQ(session.authenticate(QStringLiteral("u"), QStringLiteral("p"), false), 3);
    for (int n = 1; n <= 3; ++n) {
        const FetchResult got = session.fetch(n);
        ASSERT_EQ(got.status, FetchStatus::Ok) << corvidan::texts::NetErrorText(got.error).toStdString();
        EXPECT_EQ(got.bytes, config.messages[n - 1]) << n;
        EXPECT_EQ(got.size, config.messages[n - 1].size());
    }
    EXPECT_TRUE(session.quit());
}

TEST_F(Pop3Fault, RefusedDeletionIsReportedAtClose)
{
    FakePop3Server::Config config = withMessages(2);
    config.refuseDele = 2;
    FakePop3Server server(config);
    const int handle = mail.NMailPop3Connect(server.server());
    ASSERT_EQ(mail.NMailPop3Authenticate(handle, QStringLiteral("u"), QStringLiteral("p"), 0), 2);
    mail.NMailPop3DeleteMail(handle, 1);
    mail.NMailPop3DeleteMail(handle, 2);
    EXPECT_LT(mail.NMailPop3Close(handle), 0);
    EXPECT_TRUE(mail.Pop3LastCloseConfirmed());
    EXPECT_TRUE(lastError().contains(QStringLiteral("message is locked"))) << lastError().toStdString();
    EXPECT_EQ(server.applied(), QList<int>{1});
}

TEST_F(Pop3Fault, ExtractionParsesTheOriginalBytesOfAnEightBitMessage)
{
    const QString text = QStringLiteral("8ビットの本文 ①");
    FakePop3Server::Config config;
    config.messages << "Subject: =?UTF-8?B?" + QStringLiteral("件名").toUtf8().toBase64() + "?=\r\n"
                       "Content-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\n"
                       "Content-Type: text/plain; charset=UTF-8\r\nContent-Transfer-Encoding: 8bit\r\n\r\n"
                       + text.toUtf8() + "\r\n--b\r\nContent-Type: text/plain; name=\"x.txt\"\r\n"
                       "Content-Disposition: attachment; filename=\"x.txt\"\r\n\r\ncontent\r\n--b--\r\n";
    FakePop3Server server(config);
    const int handle = mail.NMailPop3Connect(server.server());
    ASSERT_EQ(mail.NMailPop3Authenticate(handle, QStringLiteral("u"), QStringLiteral("p"), 0), 1);
    QString subject, date, from, header, body;
    mail.NMailPop3GetMail(handle, 1, subject, date, from, header, body, 0, 0);
    EXPECT_TRUE(body.contains(QStringLiteral("attachment")));
    // The receive hands the text back after a trip through code page 932.
    const QString roundTrip = corvidan::common::cp932::decode(
        corvidan::common::cp932::encode(header + QStringLiteral("\r\n") + body + QStringLiteral("\r\n")));
    QTemporaryDir folder;
    EXPECT_EQ(mail.NMailAttachmentFileFirst(0, subject, date, from, header, body, folder.path() + u'\\',
                                            folder.filePath(QStringLiteral("0.txt")), roundTrip + QChar(u'\0'), 0),
              1);
    EXPECT_EQ(mail.NMailAttachmentFileClose(0), 0);
    EXPECT_EQ(subject, QStringLiteral("件名"));
    EXPECT_EQ(body, text);
    EXPECT_EQ(QDir(folder.path()).entryList(QDir::Files), QStringList{QStringLiteral("x.txt")});
    mail.NMailPop3Close(handle);
}

TEST_F(Pop3Fault, ExtractionOfATextBuiltFromHeaderAndBody)
{
    // A caller that fetched nothing: the text is parsed as given.
    QString subject, date, from;
    QString header = QStringLiteral("Subject: =?UTF-8?B?5re75LuY?=\r\nContent-Type: multipart/mixed; boundary=b\r\n");
    QString body = QStringLiteral("--b\r\nContent-Type: text/plain; charset=UTF-8\r\n\r\n本文\r\n--b\r\n"
                                  "Content-Disposition: attachment; filename=\"a.txt\"\r\n\r\nA\r\n--b--");
    QTemporaryDir folder;
    EXPECT_EQ(mail.NMailAttachmentFileFirst(0, subject, date, from, header, body, folder.path(), QString(),
                                            header + QStringLiteral("\r\n") + body + QStringLiteral("\r\n"), 0),
              1);
    EXPECT_EQ(subject, QStringLiteral("添付"));
    EXPECT_EQ(body, QStringLiteral("本文"));
    EXPECT_EQ(QDir(folder.path()).entryList(QDir::Files), QStringList{QStringLiteral("a.txt")});
}

TEST_F(Pop3Fault, ErrorTextFitsTheCallersBuffer)
{
    mail.setLastError(QStringLiteral("長").repeated(9000));
    QString text;
    int size = NMail::BufferSize;
    EXPECT_EQ(mail.NMailGetMessage(0, text, size), NMail::BufferSize - 1);
    EXPECT_EQ(text.size(), NMail::BufferSize - 1);
    EXPECT_EQ(mail.NMailSetOption(1, 8192), 0);
}

} // namespace
