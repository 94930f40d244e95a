#include "transport/ConnectionCheck.h"

#include "transport/Pop3Session.h"
#include "transport/SmtpClient.h"
#include "transport/TlsTrust.h"

#include <QDeadlineTimer>
#include <QSslSocket>

#include <algorithm>
#include <cctype>
#include <iterator>
#include <thread>
#include <vector>

namespace corvidan::transport {

namespace {

constexpr int kMaxReplyLines = 200;
constexpr qsizetype kMaxLine = 4096;

QString hostPart(const QString& host)
{
    return host.contains(u':') ? u'[' + host + u']' : host;
}

QString withPort(const QString& scheme, const QString& host, quint16 port, quint16 usual)
{
    return scheme + hostPart(host) + (port == usual ? QString() : u':' + QString::number(port));
}

QString hostOf(const QString& line, bool pop3)
{
    if (pop3) {
        const std::optional<Pop3Endpoint> endpoint = Pop3Endpoint::parse(line);
        return endpoint ? endpoint->host : QString();
    }
    const std::optional<SmtpEndpoint> endpoint = SmtpEndpoint::parse(line);
    return endpoint ? endpoint->host : QString();
}

ProbeResult startResult(ProbeKind kind, const QString& host, quint16 port, MailProtocol protocol)
{
    ProbeResult result;
    result.kind = kind;
    result.host = host;
    result.port = port;
    result.error.protocol = protocol;
    result.error.host = host;
    result.error.port = port;
    return result;
}

void noteCertificate(ProbeResult& result, const QSslCertificate& certificate)
{
    if (certificate.isNull())
        return;
    result.certificateNames = CertificateNames(certificate);
    result.certificateExpiry = certificate.expiryDate().toString(QStringLiteral("yyyy-MM-dd"));
}

// ---- POP3 -------------------------------------------------------------------

ProbeResult probePop3(ProbeKind kind, const QString& host, quint16 port, const CheckRequest& request)
{
    ProbeResult result = startResult(kind, host, port, MailProtocol::Pop3);
    NMailOptions options = request.options;
    options.connectTimeoutMs = options.readTimeoutMs = request.stepTimeoutMs;
    options.serveEventsWhileWaiting = false;
    const QString scheme = kind == ProbeKind::Pop3s      ? QStringLiteral("pop3s://")
                           : kind == ProbeKind::Pop3Plain ? QStringLiteral("pop3+plain://")
                                                          : QStringLiteral("pop3://");
    Pop3Session session(options);
    session.setReadAhead(false);
    const bool open = session.open(scheme + hostPart(host) + u':' + QString::number(port));
    result.reached = open || session.netError().kind == NetErrorKind::TlsUnavailable
                     || session.netError().kind == NetErrorKind::TlsDowngrade;
    if (!open) {
        result.error = session.netError();
        return result;
    }
    result.tls = session.tls();
    result.tlsOffered = session.tls() || session.capabilities().contains("STLS");
    if (kind == ProbeKind::Pop3Stls && !result.tls)
        result.error.kind = NetErrorKind::TlsUnavailable;
    noteCertificate(result, session.peerCertificate());
    for (const QByteArray& word : {QByteArray("USER"), QByteArray("SASL")}) {
        if (session.capabilities().contains(word))
            result.loginMethods << QString::fromLatin1(word);
    }
    if (session.offersApop())
        result.loginMethods << QStringLiteral("APOP");
    // The plain probe only looks: a login there would be the password in clear.
    const bool mayLogin = kind != ProbeKind::Pop3Plain && (result.tls || request.apop);
    if (mayLogin && !request.user.isEmpty() && !request.password.isEmpty()) {
        const int count = session.authenticate(request.user, request.password, request.apop);
        result.login = count >= 0 ? LoginOutcome::Accepted : LoginOutcome::Refused;
        if (count < 0)
            result.error = session.netError();
    }
    session.quit();
    return result;
}

// ---- SMTP -------------------------------------------------------------------

/// A few SMTP commands over a blocking socket: greeting, EHLO, STARTTLS, AUTH.
class SmtpProbe {
public:
    SmtpProbe(ProbeResult& result, const CheckRequest& request)
        : m_result(result), m_request(request), m_deadline(request.stepTimeoutMs)
    {
    }

    void run(bool implicitTls, bool startTls);

private:
    bool fail(NetErrorKind kind, const QString& detail = {});
    bool wait(bool encrypted);
    bool readReply(int& code, QList<QByteArray>& lines);
    bool command(const QByteArray& line, int& code, QList<QByteArray>& lines);
    bool ehlo();
    bool upgrade();
    void login();

    ProbeResult& m_result;
    const CheckRequest& m_request;
    QSslSocket m_socket;
    QDeadlineTimer m_deadline;
    QByteArray m_in;
    QList<QByteArray> m_ehlo;
};

bool SmtpProbe::fail(NetErrorKind kind, const QString& detail)
{
    m_result.error.kind = kind;
    m_result.error.detail = detail;
    return false;
}

bool SmtpProbe::wait(bool encrypted)
{
    const int ms = static_cast<int>(std::max<qint64>(1, m_deadline.remainingTime()));
    if (encrypted ? m_socket.waitForEncrypted(ms) : m_socket.waitForReadyRead(ms))
        return true;
    if (encrypted) {
        DescribeHandshakeFailure(m_socket, m_deadline.hasExpired(), m_result.error);
        return false;
    }
    return fail(m_socket.state() == QAbstractSocket::ConnectedState ? NetErrorKind::Timeout
                                                                   : NetErrorKind::ConnectionLost);
}

bool SmtpProbe::readReply(int& code, QList<QByteArray>& lines)
{
    lines.clear();
    while (lines.size() < kMaxReplyLines) {
        qsizetype lf;
        while ((lf = m_in.indexOf('\n')) < 0) {
            if (m_in.size() > kMaxLine)
                return fail(NetErrorKind::ProbeReplyTooLong);
            if (m_socket.bytesAvailable() == 0 && !wait(false))
                return false;
            m_in += m_socket.readAll();
        }
        const QByteArray line = m_in.left(lf).trimmed();
        m_in.remove(0, lf + 1);
        lines << line;
        if (line.size() < 3 || !std::isdigit(static_cast<unsigned char>(line[0]))) {
            m_result.error.serverReply = QString::fromLatin1(line.left(80));
            return fail(NetErrorKind::ProbeReplyMalformed);
        }
        if (line.size() == 3 || line[3] != '-') {
            code = line.left(3).toInt();
            return true;
        }
    }
    return fail(NetErrorKind::ProbeReplyTooLong);
}

bool SmtpProbe::command(const QByteArray& line, int& code, QList<QByteArray>& lines)
{
    m_deadline.setRemainingTime(m_request.stepTimeoutMs);
    m_socket.write(line + "\r\n");
    m_socket.flush();
    return readReply(code, lines);
}

bool SmtpProbe::ehlo()
{
    int code = 0;
    if (!command("EHLO corvidan-check", code, m_ehlo))
        return false;
    if (code != 250)
        return fail(NetErrorKind::Other, QString::fromLatin1(m_ehlo.value(0)));
    m_result.loginMethods.clear();
    for (const QByteArray& line : m_ehlo) {
        const QByteArray words = line.mid(4).trimmed().toUpper();
        if (words == "STARTTLS")
            m_result.tlsOffered = true;
        if (words.startsWith("AUTH ") || words.startsWith("AUTH="))
            for (const QByteArray& method : words.mid(5).split(' '))
                if (!method.isEmpty() && !m_result.loginMethods.contains(QString::fromLatin1(method)))
                    m_result.loginMethods << QString::fromLatin1(method);
    }
    return true;
}

bool SmtpProbe::upgrade()
{
    int code = 0;
    QList<QByteArray> lines;
    if (!command("STARTTLS", code, lines))
        return false;
    if (code != 220) {
        m_result.error.serverReply = QString::fromLatin1(lines.value(0));
        return fail(NetErrorKind::TlsUnavailable);
    }
    m_in.clear();
    m_socket.setPeerVerifyName(m_result.host);
    m_socket.startClientEncryption();
    m_deadline.setRemainingTime(m_request.stepTimeoutMs);
    if (!wait(true))
        return false;
    m_result.tls = true;
    return ehlo();
}

void SmtpProbe::login()
{
    const bool plain = m_result.loginMethods.contains(QStringLiteral("PLAIN"));
    const bool loginMethod = m_result.loginMethods.contains(QStringLiteral("LOGIN"));
    if (!m_result.tls || m_request.user.isEmpty() || m_request.password.isEmpty() || !(plain || loginMethod))
        return;
    const QByteArray user = m_request.user.toUtf8();
    const QByteArray password = m_request.password.toUtf8();
    int code = 0;
    QList<QByteArray> lines;
    bool ok = false;
    if (plain) {
        ok = command("AUTH PLAIN " + ('\0' + user + '\0' + password).toBase64(), code, lines);
    } else {
        ok = command("AUTH LOGIN", code, lines) && code == 334 && command(user.toBase64(), code, lines)
             && code == 334 && command(password.toBase64(), code, lines);
    }
    if (!ok && m_result.error.isError())
        return;
    m_result.login = code == 235 ? LoginOutcome::Accepted : LoginOutcome::Refused;
    if (code != 235) {
        m_result.error.kind = NetErrorKind::LoginRefused;
        m_result.error.serverReply = QString::fromLatin1(lines.join(' '));
    }
}

void SmtpProbe::run(bool implicitTls, bool startTls)
{
    NetError trustError;
    const std::optional<QSslConfiguration> config = TrustConfiguration(m_request.options, trustError);
    if (!config) {
        m_result.error.kind = trustError.kind;
        m_result.error.detail = trustError.detail;
        return;
    }
    m_socket.setSslConfiguration(*config);
    if (implicitTls)
        m_socket.connectToHostEncrypted(m_result.host, m_result.port);
    else
        m_socket.connectToHost(m_result.host, m_result.port);
    if (!m_socket.waitForConnected(m_request.stepTimeoutMs)) {
        const auto error = m_socket.error();
        fail(error == QAbstractSocket::HostNotFoundError        ? NetErrorKind::HostNotFound
             : error == QAbstractSocket::ConnectionRefusedError ? NetErrorKind::Refused
                                                                 : NetErrorKind::NoAnswer);
        return;
    }
    if (implicitTls) {
        m_deadline.setRemainingTime(m_request.stepTimeoutMs);
        if (!wait(true))
            return;
        m_result.tls = true;
    }
    int code = 0;
    QList<QByteArray> greeting;
    m_deadline.setRemainingTime(m_request.stepTimeoutMs);
    if (!readReply(code, greeting)) {
        // A port that speaks TLS first never greets in plain text.
        if (!implicitTls && m_result.error.kind == NetErrorKind::Timeout && m_result.port == m_request.ports.smtps)
            m_result.error.kind = NetErrorKind::TlsWherePlainExpected;
        return;
    }
    if (code != 220) {
        fail(NetErrorKind::Other, QString::fromLatin1(greeting.value(0)));
        return;
    }
    m_result.reached = true;
    if (!ehlo())
        return;
    noteCertificate(m_result, m_socket.peerCertificate());
    if (!implicitTls && m_result.tlsOffered && startTls) {
        if (!upgrade())
            return;
        noteCertificate(m_result, m_socket.peerCertificate());
    }
    if (!implicitTls && startTls && !m_result.tls) {
        fail(NetErrorKind::TlsUnavailable);
        return;
    }
    login();
    int quitCode = 0;
    QList<QByteArray> bye;
    command("QUIT", quitCode, bye);
}

ProbeResult probeSmtp(ProbeKind kind, const QString& host, quint16 port, const CheckRequest& request)
{
    ProbeResult result = startResult(kind, host, port, MailProtocol::Smtp);
    SmtpProbe probe(result, request);
    probe.run(kind == ProbeKind::Smtps, kind != ProbeKind::Smtps);
    // Port 25 may be a relay without TLS: not having it is a finding, not a failure.
    if (kind == ProbeKind::Smtp && result.reached && !result.tls && result.error.kind == NetErrorKind::TlsUnavailable)
        result.error = startResult(kind, host, port, MailProtocol::Smtp).error;
    return result;
}

} // namespace

QString ProbeResult::settingsLine() const
{
    switch (kind) {
    case ProbeKind::Pop3s: return withPort(QStringLiteral("pop3s://"), host, port, 995);
    case ProbeKind::Pop3Stls:
    case ProbeKind::Pop3Plain: return withPort(QString(), host, port, 110);
    case ProbeKind::Smtps: return withPort(QStringLiteral("smtps://"), host, port, 465);
    case ProbeKind::Submission: return hostPart(host) + u':' + QString::number(port);
    case ProbeKind::Smtp: return withPort(QString(), host, port, 25);
    }
    return {};
}

bool ProbeResult::usable(bool apop) const
{
    if (!reached)
        return false;
    switch (kind) {
    case ProbeKind::Pop3s:
    case ProbeKind::Pop3Stls: return tls && (!error.isError() || login == LoginOutcome::Refused);
    // Without TLS only APOP keeps the password here.
    case ProbeKind::Pop3Plain: return apop && loginMethods.contains(QStringLiteral("APOP"));
    case ProbeKind::Smtps:
    case ProbeKind::Submission: return tls && (!error.isError() || login == LoginOutcome::Refused);
    case ProbeKind::Smtp: return !error.isError() || login == LoginOutcome::Refused;
    }
    return false;
}

CheckReport RunConnectionCheck(const CheckRequest& request)
{
    const QString pop3Host = hostOf(request.pop3Server, true);
    const QString smtpHost = hostOf(request.smtpServer, false);
    struct Plan {
        ProbeKind kind;
        bool pop3;
        quint16 port;
    };
    const Plan plans[] = {
        {ProbeKind::Pop3s, true, request.ports.pop3s},     {ProbeKind::Pop3Stls, true, request.ports.pop3},
        {ProbeKind::Pop3Plain, true, request.ports.pop3},  {ProbeKind::Smtps, false, request.ports.smtps},
        {ProbeKind::Submission, false, request.ports.submission}, {ProbeKind::Smtp, false, request.ports.smtp},
    };
    CheckReport report;
    report.apop = request.apop;
    std::vector<std::thread> threads;
    std::vector<ProbeResult> results(std::size(plans));
    for (size_t i = 0; i < std::size(plans); ++i) {
        const Plan plan = plans[i];
        const QString host = plan.pop3 ? pop3Host : smtpHost;
        if (host.isEmpty())
            continue;
        threads.emplace_back([&results, &request, plan, host, i] {
            results[i] = plan.pop3 ? probePop3(plan.kind, host, plan.port, request)
                                   : probeSmtp(plan.kind, host, plan.port, request);
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    for (size_t i = 0; i < std::size(plans); ++i) {
        const ProbeResult& r = results[i];
        if (r.host.isEmpty())
            continue;
        report.probes << r;
        // The plans are in order of preference: the first usable one is the advice.
        QString& line = plans[i].pop3 ? report.pop3Line : report.smtpLine;
        if (line.isEmpty() && r.usable(request.apop))
            line = r.settingsLine();
    }
    return report;
}

} // namespace corvidan::transport
