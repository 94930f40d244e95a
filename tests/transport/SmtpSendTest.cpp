#include "support/FakePop3Server.h"
#include "SmtpTestMime.h"

#include "support/LoopbackPort.h"
#include "support/Servers.h"
#include "transport/ConnectionCheck.h"
#include "texts/CheckReportText.h"
#include "texts/NetErrorText.h"
#include "transport/NMail.h"
#include "transport/Pop3Session.h"
#include "transport/SmtpClient.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonArray>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <gtest/gtest.h>


using corvidan::test::TlsStrippingProxy;
using corvidan::transport::NetErrorKind;
using corvidan::transport::NMail;
using corvidan::transport::SmtpEndpoint;
using corvidan::transport::SmtpFailureKind;
using corvidan::transport::SmtpSession;
using corvidan::transport::SmtpSettings;
namespace mc = corvidan::test::mimecheck;

namespace {

/// The values smtp-start.sh wrote for this build tree.
QMap<QString, QString> serverEnv()
{
    QMap<QString, QString> env;
    QFile file(QStringLiteral(CORVIDAN_BUILD_DIR "/test-servers/smtp.env"));
    if (!file.open(QIODevice::ReadOnly))
        return env;
    for (const QByteArray& line : file.readAll().split('\n')) {
        const qsizetype eq = line.indexOf('=');
        if (eq > 0)
            env.insert(QString::fromUtf8(line.left(eq)), QString::fromUtf8(line.mid(eq + 1)));
    }
    return env;
}

struct Spooled {
    QByteArray bytes;
    QJsonObject envelope;
};

class SmtpSend : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_env = serverEnv();
        ASSERT_FALSE(m_env.isEmpty()) << "the smtp fixture is not running (smtp.env missing)";
        m_mail.options().caFile = m_env.value(QStringLiteral("CA_FILE"));
        m_mail.options().describeError = corvidan::texts::NetErrorText;
        m_mail.options().connectTimeoutMs = 5000;
        m_mail.options().readTimeoutMs = 10000;
        freshSender();
    }

    /// Each test finds its own messages in the shared spool by a sender of its own.
    void freshSender()
    {
        m_sender = QStringLiteral("sender-%1@example.jp").arg(QRandomGenerator::system()->generate(), 8, 16, QChar(u'0'));
    }

    QString server(const char* portKey, const QString& scheme = {}) const
    {
        return scheme + QStringLiteral("127.0.0.1:") + m_env.value(QString::fromLatin1(portKey));
    }

    void login() { m_mail.setSmtpAccount(m_env.value(QStringLiteral("SMTP_USER")), m_env.value(QStringLiteral("SMTP_PASSWORD"))); }

    int send(const QString& server, const QString& to, const QString& subject = QStringLiteral("件名"),
             const QString& body = QStringLiteral("本文"), const QString& attachments = {})
    {
        return m_mail.NMailSmtpSendMail(server, to, QString(), QString(), m_sender, subject, body, QString(),
                                        attachments, 0);
    }

    QString lastError()
    {
        QString text;
        int size = NMail::BufferSize;
        m_mail.NMailGetMessage(0, text, size);
        return text;
    }

    /// Messages the server accepted from this test's sender, in arrival order.
    QList<Spooled> spooled() const
    {
        QList<Spooled> out;
        const QDir spool(m_env.value(QStringLiteral("SPOOL_DIR")));
        for (const QString& name : spool.entryList({QStringLiteral("*.json")}, QDir::Files, QDir::Name)) {
            QFile meta(spool.filePath(name));
            if (!meta.open(QIODevice::ReadOnly))
                continue;
            const QJsonObject envelope = QJsonDocument::fromJson(meta.readAll()).object();
            if (envelope.value(QStringLiteral("mail_from")).toString() != m_sender)
                continue;
            QFile eml(spool.filePath(QString(name).replace(QStringLiteral(".json"), QStringLiteral(".eml"))));
            EXPECT_TRUE(eml.open(QIODevice::ReadOnly));
            out.append({eml.readAll(), envelope});
        }
        return out;
    }

    QMap<QString, QString> m_env;
    NMail m_mail;
    QString m_sender;
};

} // namespace

TEST_F(SmtpSend, JapaneseMessageWithTwoAttachmentsArrivesIntact)
{
    QTemporaryDir dir;
    const QString nameA = QStringLiteral("見積書（12月）.txt");
    const QString nameB = QStringLiteral("会議の写真_とても長いファイル名をつけてみた場合の送信テスト.jpg");
    QByteArray binary;
    for (int i = 0; i < 200000; ++i)
        binary += static_cast<char>((i * 131 + i / 7) & 0xFF);
    const QString pathA = dir.filePath(nameA);
    const QString pathB = dir.filePath(nameB);
    QFile a(pathA), b(pathB);
    ASSERT_TRUE(a.open(QIODevice::WriteOnly) && b.open(QIODevice::WriteOnly));
    a.write("\x8C\xA9\x90\xCF\x8F\x91\r\n.dot line\r\n");
    b.write(binary);
    a.close();
    b.close();

    const QString subject = QStringLiteral("【重要】来週の会議について ～ 資料送付");
    const QString body = QStringLiteral("山田様\r\n\r\nいつもお世話になっております。\r\n.\r\n..二つの点\r\n資料を二点お送りします。");
    const QString to = QStringLiteral("山田 花子<hanako@example.jp>");
    ASSERT_EQ(send(server("SMTP_PLAIN_PORT"), to, subject, body, pathA + u',' + pathB), 0) << lastError().toStdString();

    const QList<Spooled> arrived = spooled();
    ASSERT_EQ(arrived.size(), 1);
    EXPECT_EQ(arrived[0].envelope.value(QStringLiteral("rcpt_tos")).toArray().at(0).toString(), QStringLiteral("hanako@example.jp"));
    const mc::Message message = mc::parse(arrived[0].bytes);
    ASSERT_TRUE(message.parsed);
    EXPECT_EQ(mc::decodeWords(message.header("Subject")), subject);
    EXPECT_EQ(message.fromAddress, m_sender.toLatin1());
    EXPECT_EQ(message.toAddresses, QList<QByteArray>{"hanako@example.jp"});
    EXPECT_EQ(mc::decodeWords(message.header("To")), QStringLiteral("山田 花子 <hanako@example.jp>"));
    ASSERT_EQ(message.parts.size(), 3);
    EXPECT_EQ(mc::text(message.parts[0]), body + QStringLiteral("\r\n")) << "dot lines unstuffed exactly once";
    EXPECT_EQ(message.parts[1].fileName, nameA);
    EXPECT_EQ(message.parts[1].content, QByteArray("\x8C\xA9\x90\xCF\x8F\x91\r\n.dot line\r\n"));
    EXPECT_EQ(message.parts[2].fileName, nameB);
    EXPECT_EQ(message.parts[2].mimeType, "image/jpeg");
    EXPECT_EQ(message.parts[2].content, binary);
}

TEST_F(SmtpSend, StartTlsWithTheAccountsLogin)
{
    login();
    ASSERT_EQ(send(server("SMTP_PORT"), QStringLiteral("rcpt@example.jp")), 0) << lastError().toStdString();
    const QList<Spooled> arrived = spooled();
    ASSERT_EQ(arrived.size(), 1);
    EXPECT_TRUE(arrived[0].envelope.value(QStringLiteral("tls")).toBool());
    EXPECT_EQ(arrived[0].envelope.value(QStringLiteral("auth_user")).toString(), m_env.value(QStringLiteral("SMTP_USER")));
}

TEST_F(SmtpSend, ImplicitTlsWithSmtpsScheme)
{
    login();
    ASSERT_EQ(send(server("SMTPS_PORT", QStringLiteral("smtps://")), QStringLiteral("rcpt@example.jp")), 0)
        << lastError().toStdString();
    const QList<Spooled> arrived = spooled();
    ASSERT_EQ(arrived.size(), 1);
    EXPECT_TRUE(arrived[0].envelope.value(QStringLiteral("tls")).toBool());
    EXPECT_EQ(arrived[0].envelope.value(QStringLiteral("auth_user")).toString(), m_env.value(QStringLiteral("SMTP_USER")));
}

TEST_F(SmtpSend, AuthenticationProblemsCarryTheServersReply)
{
    m_mail.setSmtpAccount(m_env.value(QStringLiteral("SMTP_USER")), QStringLiteral("wrong-password"));
    EXPECT_LT(send(server("SMTP_PORT"), QStringLiteral("rcpt@example.jp")), 0);
    QString text = lastError();
    EXPECT_TRUE(text.contains(QStringLiteral("認証に失敗"))) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("535"))) << text.toStdString();

    m_mail.setSmtpAccount({}, {});
    EXPECT_LT(send(server("SMTPS_PORT", QStringLiteral("smtps://")), QStringLiteral("rcpt@example.jp")), 0);
    text = lastError();
    EXPECT_TRUE(text.contains(QStringLiteral("認証を求めて"))) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("530"))) << text.toStdString();
    EXPECT_TRUE(spooled().isEmpty());
}

TEST_F(SmtpSend, RefusalsCarryTheServersReply)
{
    EXPECT_LT(send(server("SMTP_PLAIN_PORT"), QStringLiteral("Reject-Rcpt@example.jp")), 0);
    QString text = lastError();
    EXPECT_TRUE(text.contains(QStringLiteral("宛先"))) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("550 5.1.1 <Reject-Rcpt@example.jp>: Recipient address rejected"))) << text.toStdString();

    m_sender = QStringLiteral("reject-from@example.jp");
    EXPECT_LT(send(server("SMTP_PLAIN_PORT"), QStringLiteral("rcpt@example.jp")), 0);
    text = lastError();
    EXPECT_TRUE(text.contains(QStringLiteral("送信者"))) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("553"))) << text.toStdString();

    freshSender();
    EXPECT_LT(send(server("SMTP_PLAIN_PORT"), QStringLiteral("rcpt@example.jp"), QStringLiteral("件名"),
                   QStringLiteral("X-Corvidan-Reject-Data")), 0);
    text = lastError();
    EXPECT_TRUE(text.contains(QStringLiteral("554 5.7.1"))) << text.toStdString();
    EXPECT_TRUE(spooled().isEmpty());
}

TEST_F(SmtpSend, UnreachableServersGiveJapaneseTexts)
{
    const auto closed = corvidan::test::LoopbackPort::refusing();
    const int port = closed.port();
    EXPECT_EQ(send(QStringLiteral("127.0.0.1:%1").arg(port), QStringLiteral("rcpt@example.jp")), -4);
    QString text = lastError();
    EXPECT_TRUE(text.startsWith(QStringLiteral("SMTPサーバー「127.0.0.1」(ポート%1)に接続できません。").arg(port)))
        << text.toStdString();

    EXPECT_EQ(send(QString(), QStringLiteral("rcpt@example.jp")), -1);
    EXPECT_EQ(lastError(), QStringLiteral("SMTPサーバーが設定されていません。"));
    EXPECT_EQ(send(QStringLiteral("bad host:25"), QStringLiteral("rcpt@example.jp")), -1);
    EXPECT_TRUE(lastError().contains(QStringLiteral("bad host:25")));
}

TEST_F(SmtpSend, ServerThatNeverAnswersTimesOut)
{
    const auto silent = corvidan::test::LoopbackPort::silent();
    ASSERT_TRUE(silent.isValid());
    m_mail.options().readTimeoutMs = 1000;
    EXPECT_EQ(send(QStringLiteral("127.0.0.1:%1").arg(silent.port()), QStringLiteral("rcpt@example.jp")), -4);
    EXPECT_TRUE(lastError().contains(QStringLiteral("タイムアウト"))) << lastError().toStdString();
}

TEST_F(SmtpSend, UntrustedCertificateIsRefused)
{
    login();
    m_mail.options().caFile.clear();
    EXPECT_EQ(send(server("SMTP_PORT"), QStringLiteral("rcpt@example.jp")), -4);
    EXPECT_TRUE(lastError().contains(QStringLiteral("証明書"))) << lastError().toStdString();
    EXPECT_TRUE(spooled().isEmpty());
}

TEST_F(SmtpSend, UnreadableAttachmentFailsNamingTheFile)
{
    const QString missing = QStringLiteral("/nonexistent/添付/資料.pdf");
    EXPECT_EQ(send(server("SMTP_PLAIN_PORT"), QStringLiteral("rcpt@example.jp"), QStringLiteral("件名"),
                   QStringLiteral("本文"), missing), -3);
    EXPECT_EQ(lastError(), QStringLiteral("添付ファイル「%1」を読み込めません。").arg(missing));
    EXPECT_TRUE(spooled().isEmpty());
}

TEST_F(SmtpSend, BatchSendsOverOneConnectionAndSurvivesARefusal)
{
    login();
    m_mail.beginSmtpBatch();
    EXPECT_EQ(send(server("SMTP_PORT"), QStringLiteral("one@example.jp")), 0) << lastError().toStdString();
    EXPECT_EQ(send(server("SMTP_PORT"), QStringLiteral("two@example.jp")), 0) << lastError().toStdString();
    EXPECT_EQ(send(server("SMTP_PORT"), QStringLiteral("three@example.jp")), 0) << lastError().toStdString();
    EXPECT_LT(send(server("SMTP_PORT"), QStringLiteral("reject-rcpt@example.jp")), 0);
    EXPECT_EQ(send(server("SMTP_PORT"), QStringLiteral("four@example.jp")), 0) << lastError().toStdString();
    m_mail.endSmtpBatch();
    EXPECT_EQ(send(server("SMTP_PORT"), QStringLiteral("five@example.jp")), 0) << lastError().toStdString();
    EXPECT_EQ(send(server("SMTP_PORT"), QStringLiteral("six@example.jp")), 0) << lastError().toStdString();

    const QList<Spooled> arrived = spooled();
    ASSERT_EQ(arrived.size(), 6);
    const auto connection = [&](int i) { return arrived[i].envelope.value(QStringLiteral("connection")).toInt(); };
    const auto recipient = [&](int i) {
        return arrived[i].envelope.value(QStringLiteral("rcpt_tos")).toArray().at(0).toString();
    };
    EXPECT_EQ(recipient(0), QStringLiteral("one@example.jp"));
    EXPECT_EQ(recipient(3), QStringLiteral("four@example.jp"));
    EXPECT_EQ(connection(0), connection(1));
    EXPECT_EQ(connection(1), connection(2));
    EXPECT_NE(connection(4), connection(5)) << "outside a batch every send connects anew";
    EXPECT_NE(connection(3), connection(4));
}

TEST_F(SmtpSend, RequiredTlsIsNeverSkipped)
{
    // What port 587 gets: STARTTLS or nothing, even where the server offers none.
    SmtpSettings settings;
    settings.endpoint = *SmtpEndpoint::parse(server("SMTP_PLAIN_PORT"));
    settings.endpoint.requireStartTls = true;
    settings.caFile = m_env.value(QStringLiteral("CA_FILE"));
    SmtpSession session(settings);
    EXPECT_FALSE(session.send(m_sender.toUtf8(), {"rcpt@example.jp"}, "Subject: x\r\n\r\nbody\r\n"));
    EXPECT_EQ(session.lastFailure().kind, SmtpFailureKind::StartTlsUnavailable);

    // smtps:// against a server that speaks plain SMTP.
    EXPECT_EQ(send(server("SMTP_PLAIN_PORT", QStringLiteral("smtps://")), QStringLiteral("rcpt@example.jp")), -4);
    EXPECT_TRUE(lastError().contains(QStringLiteral("暗号化(TLS)"))) << lastError().toStdString();
    EXPECT_EQ(m_mail.lastNetError().kind, NetErrorKind::PlainWhereTlsExpected) << lastError().toStdString();
    EXPECT_TRUE(spooled().isEmpty());
}

/// The SMTP fixture seen through a man in the middle, with the TLS memory of a fresh data folder.
class SmtpSendTls : public SmtpSend {
protected:
    void SetUp() override
    {
        SmtpSend::SetUp();
        m_mail.options().tlsMemoryFile = m_folder.filePath(QStringLiteral("tls-servers.txt"));
    }

    QString through(const char* portKey, const QString& scheme = {})
    {
        m_proxy = std::make_unique<TlsStrippingProxy>(static_cast<quint16>(m_env.value(QString::fromLatin1(portKey)).toUInt()));
        return scheme + QStringLiteral("127.0.0.1:") + QString::number(m_proxy->port());
    }

    bool passwordOnTheWire() const
    {
        const QByteArray user = m_env.value(QStringLiteral("SMTP_USER")).toUtf8();
        const QByteArray password = m_env.value(QStringLiteral("SMTP_PASSWORD")).toUtf8();
        const QByteArray wire = m_proxy->clientBytes();
        return wire.contains("AUTH") || wire.contains(password) || wire.contains(password.toBase64())
            || wire.contains(('\0' + user + '\0' + password).toBase64());
    }

    QTemporaryDir m_folder;
    std::unique_ptr<TlsStrippingProxy> m_proxy;
};

TEST_F(SmtpSendTls, LoginOnlyInsideTlsAndThePlainFormSendsInClear)
{
    login();
    // An old server that takes AUTH without TLS: the account stays here.
    const QString plainAuth = through("SMTP_PLAIN_AUTH_PORT");
    EXPECT_EQ(send(plainAuth, QStringLiteral("rcpt@example.jp")), -4);
    EXPECT_EQ(m_mail.lastNetError().kind, NetErrorKind::TlsUnavailable);
    EXPECT_TRUE(lastError().contains(QStringLiteral("smtp+plain://") + plainAuth.mid(0))) << lastError().toStdString();
    EXPECT_FALSE(passwordOnTheWire());
    EXPECT_TRUE(spooled().isEmpty());

    // Typed on purpose, the same server gets the login in clear.
    m_proxy->clearClientBytes();
    ASSERT_EQ(send(QStringLiteral("smtp+plain://") + plainAuth, QStringLiteral("rcpt@example.jp")), 0)
        << lastError().toStdString();
    EXPECT_TRUE(passwordOnTheWire());
    ASSERT_EQ(spooled().size(), 1);
    EXPECT_EQ(spooled()[0].envelope.value(QStringLiteral("auth_user")).toString(), m_env.value(QStringLiteral("SMTP_USER")));

    // A relay that needs no login still takes mail in clear, without the account.
    freshSender();
    const QString relay = through("SMTP_PLAIN_PORT");
    ASSERT_EQ(send(relay, QStringLiteral("rcpt@example.jp")), 0) << lastError().toStdString();
    EXPECT_FALSE(passwordOnTheWire());
    ASSERT_EQ(spooled().size(), 1);
    EXPECT_FALSE(spooled()[0].envelope.value(QStringLiteral("tls")).toBool());
}

TEST_F(SmtpSendTls, StartTlsRemovedOnTheWayIsADowngrade)
{
    login();
    const QString relayed = through("SMTP_PORT");
    ASSERT_EQ(send(relayed, QStringLiteral("rcpt@example.jp")), 0) << lastError().toStdString();
    EXPECT_FALSE(passwordOnTheWire());

    m_proxy->setStripping(true);
    m_proxy->clearClientBytes();
    EXPECT_EQ(send(relayed, QStringLiteral("rcpt@example.jp")), -4);
    EXPECT_EQ(m_mail.lastNetError().kind, NetErrorKind::TlsDowngrade);
    EXPECT_TRUE(lastError().startsWith(QStringLiteral("前回は暗号化できたサーバーが暗号化を拒否しました"))) << lastError().toStdString();
    EXPECT_FALSE(passwordOnTheWire());
    EXPECT_FALSE(m_proxy->clientBytes().contains("MAIL FROM")) << "not even the message goes out in clear";
    EXPECT_EQ(spooled().size(), 1);

    // Without the memory the stripped server is told to need TLS for the login.
    m_mail.options().tlsMemoryFile.clear();
    EXPECT_EQ(send(relayed, QStringLiteral("rcpt@example.jp")), -4);
    EXPECT_EQ(m_mail.lastNetError().kind, NetErrorKind::TlsUnavailable) << lastError().toStdString();
    EXPECT_FALSE(passwordOnTheWire());
}

TEST_F(SmtpSendTls, OwnCertificatesAreTrustedAndAWrongNameIsRefusedByBothProtocols)
{
    login();
    m_mail.options().caFile.clear();
    m_mail.options().trustedCertificatesFile = m_folder.filePath(QStringLiteral("trusted-certificates.pem"));
    QFile own(m_mail.options().trustedCertificatesFile);
    QFile ca(m_env.value(QStringLiteral("CA_FILE")));
    QFile wrong(m_env.value(QStringLiteral("WRONG_NAME_CERT")));
    ASSERT_TRUE(own.open(QIODevice::WriteOnly) && ca.open(QIODevice::ReadOnly) && wrong.open(QIODevice::ReadOnly));
    own.write(ca.readAll() + '\n' + wrong.readAll());
    own.close();

    ASSERT_EQ(send(server("SMTPS_PORT", QStringLiteral("smtps://")), QStringLiteral("rcpt@example.jp")), 0)
        << lastError().toStdString();

    EXPECT_EQ(send(server("SMTPS_WRONG_NAME_PORT", QStringLiteral("smtps://")), QStringLiteral("rcpt@example.jp")), -4);
    EXPECT_EQ(m_mail.lastNetError().kind, NetErrorKind::CertificateNameMismatch) << lastError().toStdString();
    EXPECT_TRUE(lastError().contains(QStringLiteral("wrong.example.invalid"))) << lastError().toStdString();

    // The handshake comes before any protocol word, so POP3 meets the same certificate.
    corvidan::transport::Pop3Session pop(m_mail.options());
    EXPECT_FALSE(pop.open(server("SMTPS_WRONG_NAME_PORT", QStringLiteral("pop3s://"))));
    const QString said = corvidan::texts::NetErrorText(pop.netError());
    EXPECT_EQ(pop.netError().kind, NetErrorKind::CertificateNameMismatch) << said.toStdString();
    EXPECT_TRUE(said.contains(QStringLiteral("wrong.example.invalid"))) << said.toStdString();
    EXPECT_EQ(spooled().size(), 1);
}

/// The connection check, its well-known ports mapped onto the fixtures' ports.
class ConnectionCheckTest : public SmtpSendTls {
protected:
    void SetUp() override
    {
        SmtpSendTls::SetUp();
        pop = corvidan::test::Pop3TestServer::load();
        ASSERT_TRUE(pop.isValid()) << "the dovecot fixture is not running";
        request.pop3Server = QStringLiteral("127.0.0.1");
        request.smtpServer = QStringLiteral("smtp://127.0.0.1");
        request.user = pop.user;
        request.password = pop.password;
        request.options = m_mail.options();
        request.ports = {pop.tlsPort, pop.port, port("SMTPS_PORT"), port("SMTP_PORT"), port("SMTP_PLAIN_PORT")};
    }

    quint16 port(const char* key) const { return static_cast<quint16>(m_env.value(QString::fromLatin1(key)).toUInt()); }

    static const corvidan::transport::ProbeResult* probe(const corvidan::transport::CheckReport& report,
                                                         corvidan::transport::ProbeKind kind)
    {
        for (const auto& r : report.probes)
            if (r.kind == kind)
                return &r;
        return nullptr;
    }

    corvidan::test::Pop3TestServer pop;
    corvidan::transport::CheckRequest request;
};

TEST_F(ConnectionCheckTest, FindsEveryWayInAndAdvisesTheTlsLines)
{
    using corvidan::transport::LoginOutcome;
    using corvidan::transport::ProbeKind;
    const corvidan::transport::CheckReport report = corvidan::transport::RunConnectionCheck(request);
    ASSERT_EQ(report.probes.size(), 6);
    EXPECT_EQ(report.pop3Line, QStringLiteral("pop3s://127.0.0.1:%1").arg(pop.tlsPort));
    EXPECT_EQ(report.smtpLine, QStringLiteral("smtps://127.0.0.1:%1").arg(port("SMTPS_PORT")));
    for (ProbeKind kind : {ProbeKind::Pop3s, ProbeKind::Pop3Stls, ProbeKind::Smtps, ProbeKind::Submission}) {
        const auto* r = probe(report, kind);
        ASSERT_NE(r, nullptr);
        EXPECT_TRUE(r->tls) << r->settingsLine().toStdString();
        EXPECT_EQ(r->login, LoginOutcome::Accepted) << r->settingsLine().toStdString();
        EXPECT_TRUE(r->certificateNames.contains(QStringLiteral("127.0.0.1")));
        EXPECT_FALSE(r->certificateExpiry.isEmpty());
    }
    const auto* plain = probe(report, ProbeKind::Pop3Plain);
    EXPECT_TRUE(plain->reached && plain->tlsOffered);
    EXPECT_EQ(plain->login, LoginOutcome::NotTried);
    const auto* relay = probe(report, ProbeKind::Smtp);
    EXPECT_TRUE(relay->reached && !relay->tls && !relay->tlsOffered);
    EXPECT_TRUE(corvidan::texts::CheckReportText(report).contains(QStringLiteral("SMTPサーバー名: ") + report.smtpLine)) << corvidan::texts::CheckReportText(report).toStdString();

    // The account is refused where it is tried, and the report says so.
    request.password = QStringLiteral("wrong");
    const corvidan::transport::CheckReport refused = corvidan::transport::RunConnectionCheck(request);
    EXPECT_EQ(probe(refused, ProbeKind::Pop3s)->login, LoginOutcome::Refused);
    EXPECT_EQ(probe(refused, ProbeKind::Smtps)->login, LoginOutcome::Refused);
    EXPECT_TRUE(corvidan::texts::CheckReportText(refused).contains(QStringLiteral("認証に失敗しました"))) << corvidan::texts::CheckReportText(refused).toStdString();
}

TEST_F(ConnectionCheckTest, NeverSendsThePasswordInClearAndNamesDeadPorts)
{
    using corvidan::transport::NetErrorKind;
    using corvidan::transport::ProbeKind;
    // POP3 on 110 with its STLS removed on the way; SMTPS on a port that never answers; no POP3S.
    TlsStrippingProxy stripped(pop.port);
    stripped.setStripping(true);
    const auto silent = corvidan::test::LoopbackPort::silent();
    const auto closed = corvidan::test::LoopbackPort::refusing();
    ASSERT_TRUE(silent.isValid() && closed.isValid());
    request.ports.pop3 = stripped.port();
    request.ports.pop3s = closed.port();
    request.ports.smtps = silent.port();
    request.options.tlsMemoryFile.clear();

    const corvidan::transport::CheckReport report = corvidan::transport::RunConnectionCheck(request);
    EXPECT_TRUE(report.pop3Line.isEmpty()) << report.pop3Line.toStdString();
    EXPECT_EQ(report.smtpLine, QStringLiteral("127.0.0.1:%1").arg(port("SMTP_PORT")));
    EXPECT_EQ(probe(report, ProbeKind::Pop3s)->error.kind, NetErrorKind::Refused);
    EXPECT_EQ(probe(report, ProbeKind::Pop3Stls)->error.kind, NetErrorKind::TlsUnavailable);
    EXPECT_EQ(probe(report, ProbeKind::Smtps)->error.kind, NetErrorKind::Timeout);
    EXPECT_FALSE(stripped.clientBytes().contains(pop.password.toUtf8()));
    EXPECT_FALSE(stripped.clientBytes().contains("USER"));
    EXPECT_TRUE(corvidan::texts::CheckReportText(report).contains(QStringLiteral("× POP3S"))) << corvidan::texts::CheckReportText(report).toStdString();
}
