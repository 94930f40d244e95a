// Faults a real server will not produce on demand, served by a scripted fake.
#include "FakePop3Server.h"
#include "common/Cp932.h"
#include "transport/NMail.h"
#include "transport/Pop3Session.h"

#include <QElapsedTimer>
#include <QThread>
#include <QTemporaryDir>
#include <QDir>
#include <gtest/gtest.h>

using corvidan::test::FakePop3Server;
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
        ASSERT_NE(got, nullptr) << session.error().toStdString();
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
