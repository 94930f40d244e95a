// The POP3 calls against the real Dovecot of the `dovecot` fixture.
#include "support/FakePop3Server.h"
#include "support/Servers.h"
#include "texts/NetErrorText.h"
#include "transport/NMail.h"
#include "transport/Pop3Session.h"

#include <QFile>
#include <QSet>
#include <QString>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using corvidan::test::Pop3TestServer;
using corvidan::transport::FetchResult;
using corvidan::transport::FetchStatus;
using corvidan::test::TlsStrippingProxy;
using corvidan::transport::NetErrorKind;
using corvidan::transport::NMail;
using corvidan::transport::Pop3Session;

namespace {

QByteArray plainMessage(int number, const QByteArray& body = "Hello.\r\n")
{
    return "From: =?ISO-2022-JP?B?GyRCOzNFRBsoQg==?= <yamada@example.jp>\r\n"
           "To: corvidan@example.jp\r\n"
           "Subject: =?UTF-8?B?44OG44K544OI?= " + QByteArray::number(number) + "\r\n"
           "Date: Tue, 08 Dec 2026 10:00:00 +0900\r\n"
           "Message-ID: <m" + QByteArray::number(number) + "@example.jp>\r\n"
           "\r\n" + body;
}

class Pop3Dovecot : public ::testing::Test {
protected:
    void SetUp() override
    {
        server = Pop3TestServer::load();
        if (!server.isValid())
            GTEST_SKIP() << "the dovecot fixture is not running";
        server.clearMailbox();
        mail.options().caFile = server.caFile;
        mail.options().describeError = corvidan::texts::NetErrorText;
        mail.options().connectTimeoutMs = 5000;
        mail.options().readTimeoutMs = 10000;
        mail.NMailInitializeWinSock();
    }

    int login(bool apop = false, const QString& password = {})
    {
        handle = mail.NMailPop3Connect(server.server());
        if (handle == -1)
            return -100;
        return mail.NMailPop3Authenticate(handle, server.user, password.isEmpty() ? server.password : password,
                                          apop ? -1 : 0);
    }

    QString lastError()
    {
        QString text;
        int size = NMail::BufferSize;
        mail.NMailGetMessage(0, text, size);
        return text;
    }

    Pop3TestServer server;
    NMail mail;
    int handle = -1;
};

TEST_F(Pop3Dovecot, PlainLoginGivesDecodedFieldsRawHeaderAndBody)
{
    server.addMessage(plainMessage(1, "First line\r\n..dot line\r\n.\r\nlast\r\n"));
    ASSERT_EQ(login(), 1) << lastError().toStdString();
    QString subject, date, from, header, body;
    mail.NMailPop3GetMailStatus(handle, 1, subject, date, from, header, 0);
    EXPECT_EQ(subject, QStringLiteral("テスト 1"));
    EXPECT_EQ(from, QStringLiteral("山田 <yamada@example.jp>"));
    EXPECT_EQ(date, QStringLiteral("Tue, 08 Dec 2026 10:00:00 +0900"));
    EXPECT_TRUE(header.startsWith(QStringLiteral("From: =?ISO-2022-JP?B?")));
    EXPECT_TRUE(header.endsWith(QStringLiteral("\r\nMessage-ID: <m1@example.jp>\r\n")));
    const int size = mail.NMailPop3GetMailSize(handle, 1);
    mail.NMailPop3GetMail(handle, 1, subject, date, from, header, body, 0, 0);
    // Dot-stuffed lines come back as they were written.
    EXPECT_EQ(body, QStringLiteral("First line\r\n..dot line\r\n.\r\nlast\r\n"));
    EXPECT_GE(size, body.size());
    EXPECT_EQ(mail.NMailPop3Close(handle), 0);
    EXPECT_TRUE(mail.Pop3LastCloseConfirmed());
}

TEST_F(Pop3Dovecot, ApopLoginAndWrongPasswords)
{
    server.addMessage(plainMessage(1));
    server.addMessage(plainMessage(2));
    EXPECT_EQ(login(true), 2) << lastError().toStdString();
    mail.NMailPop3Close(handle);

    EXPECT_LT(login(false, QStringLiteral("wrong")), 0);
    EXPECT_TRUE(lastError().contains(QStringLiteral("認証に失敗しました"))) << lastError().toStdString();
    EXPECT_TRUE(lastError().contains(QStringLiteral("-ERR"))) << "the server's own reply is shown";
    mail.NMailPop3Close(handle);

    EXPECT_LT(login(true, QStringLiteral("wrong")), 0);
    EXPECT_TRUE(lastError().contains(QStringLiteral("APOP"))) << lastError().toStdString();
    mail.NMailPop3Close(handle);
    EXPECT_EQ(server.messageCount(), 2);
}

TEST_F(Pop3Dovecot, DeletionTakesEffectOnlyAfterQuit)
{
    for (int i = 1; i <= 3; ++i)
        server.addMessage(plainMessage(i));
    ASSERT_EQ(login(), 3);
    const QString uid2 = mail.Pop3UniqueId(handle, 2);
    mail.NMailPop3DeleteMail(handle, 2);
    EXPECT_EQ(mail.NMailPop3Close(handle), 0);

    ASSERT_EQ(login(), 2);
    QStringList remaining{mail.Pop3UniqueId(handle, 1), mail.Pop3UniqueId(handle, 2)};
    EXPECT_FALSE(remaining.contains(uid2));
    QString subject, date, from, header;
    mail.NMailPop3GetMailStatus(handle, 2, subject, date, from, header, 0);
    EXPECT_EQ(subject, QStringLiteral("テスト 3"));
    // A session that ends without QUIT deletes nothing.
    mail.NMailPop3DeleteMail(handle, 1);
    mail.NMailPop3DeleteMail(handle, 2);
    mail.NMailEndWinSock();
    mail.NMailInitializeWinSock();
    EXPECT_EQ(login(), 2);
    mail.NMailPop3Close(handle);
}

TEST_F(Pop3Dovecot, UniqueIdsAreDistinctAndStableAcrossSessions)
{
    for (int i = 1; i <= 5; ++i)
        server.addMessage(plainMessage(i));
    ASSERT_EQ(login(), 5);
    QStringList first;
    for (int n = 1; n <= 5; ++n)
        first << mail.Pop3UniqueId(handle, n);
    mail.NMailPop3Close(handle);
    EXPECT_EQ(first.count(QString()), 0);
    EXPECT_EQ(QSet<QString>(first.begin(), first.end()).size(), 5);
    ASSERT_EQ(login(), 5);
    for (int n = 1; n <= 5; ++n)
        EXPECT_EQ(mail.Pop3UniqueId(handle, n), first[n - 1]);
    mail.NMailPop3Close(handle);
}

TEST_F(Pop3Dovecot, PipelinedFetchOfManyMessagesKeepsEveryByte)
{
    constexpr int count = 300;
    // Over TLS: a 3 MB message of dotted lines spans many reads; a 5 MB one is
    // over the bound and stays on the server without holding up the rest.
    constexpr int large = 150;
    constexpr int tooLarge = 151;
    QList<QByteArray> sent;
    for (int i = 1; i <= count; ++i) {
        QByteArray body;
        const int lines = i == large ? 90000 : i == tooLarge ? 160000 : (i % 37) * 20;
        for (int line = 0; line < lines; ++line)
            body += (line % 7 == 0 ? "." : "") + QByteArray::number(i * 1000 + line).repeated(5) + "\r\n";
        sent << plainMessage(i, body);
        server.addMessage(sent.last());
    }
    mail.options().pipelineWindowBytes = 64 * 1024; // many refills of the window
    mail.options().maxMessageBytes = 4 << 20;
    Pop3Session session(mail.options());
    ASSERT_TRUE(session.open(QStringLiteral("pop3://") + server.server())) << corvidan::texts::NetErrorText(session.netError()).toStdString();
    ASSERT_TRUE(session.tls());
    ASSERT_EQ(session.authenticate(server.user, server.password, false), count);
    EXPECT_TRUE(session.pipelining());
    for (int n = 1; n <= count; ++n) {
        if (n == tooLarge) {
            const FetchResult got = session.fetch(n);
            EXPECT_EQ(got.status, FetchStatus::TooBig);
            EXPECT_TRUE(got.bytes.isEmpty());
            EXPECT_GE(got.size, sent[n - 1].size());
            continue;
        }
        // Both ways of asking: the typed fetch and the classic pointer.
        if (n % 2) {
            const FetchResult got = session.fetch(n);
            ASSERT_EQ(got.status, FetchStatus::Ok) << corvidan::texts::NetErrorText(got.error).toStdString();
            ASSERT_EQ(got.bytes, sent[n - 1]) << "message " << n;
        } else {
            const QByteArray* got = session.message(n);
            ASSERT_NE(got, nullptr) << corvidan::texts::NetErrorText(session.netError()).toStdString();
            ASSERT_EQ(*got, sent[n - 1]) << "message " << n;
        }
        ASSERT_TRUE(session.remove(n));
    }
    EXPECT_TRUE(session.quit());
    EXPECT_EQ(server.messageCount(), 1);
}

TEST_F(Pop3Dovecot, TlsBothWaysAndUntrustedCertificate)
{
    server.addMessage(plainMessage(1));
    {
        Pop3Session implicit(mail.options());
        ASSERT_TRUE(implicit.open(server.server(true))) << corvidan::texts::NetErrorText(implicit.netError()).toStdString();
        EXPECT_TRUE(implicit.tls());
        EXPECT_EQ(implicit.authenticate(server.user, server.password, false), 1);
        EXPECT_TRUE(implicit.quit());
    }
    {
        Pop3Session upgraded(mail.options());
        ASSERT_TRUE(upgraded.open(QStringLiteral("pop3://") + server.server())) << corvidan::texts::NetErrorText(upgraded.netError()).toStdString();
        EXPECT_TRUE(upgraded.tls()) << "STLS is used when offered";
        EXPECT_EQ(upgraded.authenticate(server.user, server.password, true), 1);
        EXPECT_TRUE(upgraded.quit());
    }
    for (bool tls : {false, true}) {
        NMail untrusting;
        untrusting.options().connectTimeoutMs = 5000;
        EXPECT_EQ(untrusting.NMailPop3Connect(server.server(tls)), -1);
        const QString said = corvidan::texts::NetErrorText(untrusting.lastNetError());
        EXPECT_TRUE(said.contains(QStringLiteral("TLS"))) << said.toStdString();
        EXPECT_TRUE(said.contains(QStringLiteral("self-signed"), Qt::CaseInsensitive)) << said.toStdString();
    }
}

TEST_F(Pop3Dovecot, ConnectFailuresGiveMinusOneAndAText)
{
    EXPECT_EQ(mail.NMailPop3Connect(QStringLiteral("127.0.0.1:1")), -1);
    EXPECT_TRUE(lastError().contains(QStringLiteral("接続できません"))) << lastError().toStdString();
    EXPECT_EQ(mail.NMailPop3Connect(QStringLiteral("pop3://")), -1);
    EXPECT_FALSE(lastError().isEmpty());
}

/// Dovecot seen through a man in the middle, with the TLS memory of a fresh data folder.
class Pop3DovecotTls : public Pop3Dovecot {
protected:
    void SetUp() override
    {
        Pop3Dovecot::SetUp();
        if (IsSkipped())
            return;
        proxy = std::make_unique<TlsStrippingProxy>(server.port);
        mail.options().tlsMemoryFile = folder.filePath(QStringLiteral("tls-servers.txt"));
        server.addMessage(plainMessage(1));
    }

    QString proxied(const QString& scheme = {}) const
    {
        return scheme + QStringLiteral("127.0.0.1:") + QString::number(proxy->port());
    }

    int loginThrough(const QString& serverName, bool apop)
    {
        handle = mail.NMailPop3Connect(serverName);
        if (handle == -1)
            return -100;
        const int count = mail.NMailPop3Authenticate(handle, server.user, server.password, apop ? -1 : 0);
        mail.NMailPop3Close(handle);
        return count;
    }

    bool passwordOnTheWire() const { return proxy->clientBytes().contains(server.password.toUtf8()); }

    QTemporaryDir folder;
    std::unique_ptr<TlsStrippingProxy> proxy;
};

TEST_F(Pop3DovecotTls, PasswordGoesOutOnlyInsideTlsAndADowngradeIsRefused)
{
    ASSERT_EQ(loginThrough(proxied(), false), 1) << lastError().toStdString();
    EXPECT_FALSE(proxy->clientBytes().isEmpty());
    EXPECT_FALSE(passwordOnTheWire());
    EXPECT_FALSE(proxy->clientBytes().contains("USER")) << "the login went inside TLS";

    // The same server, its STLS now removed on the way: refused before any login, APOP included.
    proxy->setStripping(true);
    proxy->clearClientBytes();
    for (bool apop : {false, true}) {
        EXPECT_EQ(loginThrough(proxied(), apop), -100);
        EXPECT_EQ(mail.lastNetError().kind, NetErrorKind::TlsDowngrade);
        EXPECT_TRUE(lastError().startsWith(QStringLiteral("前回は暗号化できたサーバーが暗号化を拒否しました")))
            << lastError().toStdString();
    }
    EXPECT_FALSE(proxy->clientBytes().contains("USER"));
    EXPECT_FALSE(proxy->clientBytes().contains("APOP"));
    EXPECT_FALSE(passwordOnTheWire());
    EXPECT_EQ(server.messageCount(), 1);
}

TEST_F(Pop3DovecotTls, ServerWithoutStlsGetsNoPasswordUnlessThePlainFormIsTyped)
{
    proxy->setStripping(true);
    EXPECT_EQ(loginThrough(proxied(), false), -2);
    EXPECT_EQ(mail.lastNetError().kind, NetErrorKind::TlsUnavailable);
    EXPECT_TRUE(lastError().contains(QStringLiteral("pop3+plain://") + proxied())) << lastError().toStdString();
    EXPECT_TRUE(lastError().contains(QStringLiteral("pop3s://127.0.0.1"))) << lastError().toStdString();
    EXPECT_FALSE(proxy->clientBytes().contains("USER"));
    EXPECT_FALSE(passwordOnTheWire());

    // APOP sends no password, so it may run in clear.
    EXPECT_EQ(loginThrough(proxied(), true), 1) << lastError().toStdString();
    EXPECT_TRUE(proxy->clientBytes().contains("APOP " + server.user.toUtf8()));
    EXPECT_FALSE(passwordOnTheWire());

    // Typed on purpose: in clear, even where STLS is offered.
    proxy->setStripping(false);
    proxy->clearClientBytes();
    EXPECT_EQ(loginThrough(proxied(QStringLiteral("pop3+plain://")), false), 1) << lastError().toStdString();
    EXPECT_TRUE(proxy->clientBytes().contains("PASS " + server.password.toUtf8()));
    EXPECT_FALSE(proxy->clientBytes().contains("STLS"));
}

TEST_F(Pop3DovecotTls, OwnCertificatesFileOfTheDataFolderIsTrusted)
{
    NMail own;
    own.options().connectTimeoutMs = 5000;
    own.options().trustedCertificatesFile = folder.filePath(QStringLiteral("trusted-certificates.pem"));
    EXPECT_EQ(own.NMailPop3Connect(server.server(true)), -1) << "no such file: the system's store alone";
    EXPECT_EQ(own.lastNetError().kind, NetErrorKind::CertificateUntrusted);
    const QString said = corvidan::texts::NetErrorText(own.lastNetError());
    EXPECT_TRUE(said.contains(QStringLiteral("trusted-certificates.pem"))) << said.toStdString();

    ASSERT_TRUE(QFile::copy(server.caFile, own.options().trustedCertificatesFile));
    for (bool tls : {false, true}) {
        const int h = own.NMailPop3Connect(server.server(tls));
        ASSERT_NE(h, -1) << corvidan::texts::NetErrorText(own.lastNetError()).toStdString();
        EXPECT_EQ(own.NMailPop3Authenticate(h, server.user, server.password, 0), 1) << corvidan::texts::NetErrorText(own.lastNetError()).toStdString();
        own.NMailPop3Close(h);
    }

    QFile broken(own.options().trustedCertificatesFile);
    ASSERT_TRUE(broken.open(QIODevice::WriteOnly | QIODevice::Truncate));
    broken.write("not a certificate\n");
    broken.close();
    EXPECT_EQ(own.NMailPop3Connect(server.server(true)), -1);
    EXPECT_EQ(own.lastNetError().kind, NetErrorKind::TrustFileUnreadable);
}

TEST_F(Pop3DovecotTls, TlsAndPlainPortsMixedUpAreNamed)
{
    // pop3s:// to the port that greets in plain text.
    EXPECT_EQ(mail.NMailPop3Connect(QStringLiteral("pop3s://127.0.0.1:") + QString::number(server.port)), -1);
    EXPECT_EQ(mail.lastNetError().kind, NetErrorKind::PlainWhereTlsExpected) << lastError().toStdString();
    EXPECT_TRUE(lastError().contains(QStringLiteral("\n詳細: "))) << "technical words on a line of their own";
    EXPECT_EQ(mail.NMailPop3Connect(QStringLiteral("127.0.0.1:1")), -1);
    EXPECT_EQ(mail.lastNetError().kind, NetErrorKind::Refused);
}

} // namespace
