#include "transport/NMail.h"

#include "common/FixedField.h"
#include "transport/MessageBuilder.h"
#include "transport/SmtpClient.h"

namespace corvidan::transport {

namespace {

enum SendResult {
    BadServer = -1,
    BadAddress = -2,
    BadAttachment = -3,
    Unreachable = -4,
    AuthProblem = -5,
    Refused = -6,
    NotKept = -7,
};

NetError buildError(const BuildResult& built)
{
    NetError error;
    error.protocol = MailProtocol::Smtp;
    error.item = built.detail;
    switch (built.error) {
    case BuildError::NoSender: error.kind = NetErrorKind::NoSender; break;
    case BuildError::NoRecipient: error.kind = NetErrorKind::NoRecipient; break;
    case BuildError::BadAddress: error.kind = NetErrorKind::BadAddress; break;
    case BuildError::UnreadableAttachment: error.kind = NetErrorKind::UnreadableAttachment; break;
    case BuildError::None: break;
    }
    return error;
}

int buildErrorResult(BuildError error)
{
    return error == BuildError::UnreadableAttachment ? BadAttachment : BadAddress;
}

NetErrorKind netErrorKind(const SmtpFailure& failure, const SmtpEndpoint& endpoint)
{
    switch (failure.kind) {
    case SmtpFailureKind::Resolve: return NetErrorKind::HostNotFound;
    case SmtpFailureKind::Connect: return NetErrorKind::Refused;
    case SmtpFailureKind::Timeout:
        if (!failure.connected)
            return NetErrorKind::NoAnswer;
        // A port that speaks TLS first waits for a handshake that never comes.
        return endpoint.plainAllowed && endpoint.port == 465 ? NetErrorKind::TlsWherePlainExpected
                                                             : NetErrorKind::Timeout;
    case SmtpFailureKind::Tls:
        return failure.detail.contains(QLatin1String("wrong version number"), Qt::CaseInsensitive)
                       || failure.detail.contains(QLatin1String("packet length too long"), Qt::CaseInsensitive)
                   ? NetErrorKind::PlainWhereTlsExpected
                   : NetErrorKind::TlsFailed;
    case SmtpFailureKind::Certificate:
        if (failure.detail.contains(QLatin1String("expired"), Qt::CaseInsensitive))
            return NetErrorKind::CertificateExpired;
        if (failure.detail.contains(QLatin1String("subject name"), Qt::CaseInsensitive)
            || failure.detail.contains(QLatin1String("does not match"), Qt::CaseInsensitive))
            return NetErrorKind::CertificateNameMismatch;
        return NetErrorKind::CertificateUntrusted;
    case SmtpFailureKind::StartTlsUnavailable:
    case SmtpFailureKind::LoginNeedsTls: return NetErrorKind::TlsUnavailable;
    case SmtpFailureKind::TlsDowngrade: return NetErrorKind::TlsDowngrade;
    case SmtpFailureKind::TrustFileUnreadable: return NetErrorKind::TrustFileUnreadable;
    case SmtpFailureKind::AuthFailed: return NetErrorKind::LoginRefused;
    case SmtpFailureKind::AuthRequired: return NetErrorKind::LoginRequired;
    case SmtpFailureKind::SenderRejected: return NetErrorKind::SenderRejected;
    case SmtpFailureKind::RecipientRejected: return NetErrorKind::RecipientRejected;
    case SmtpFailureKind::DataRejected: return NetErrorKind::DataRejected;
    case SmtpFailureKind::ConnectionLost: return NetErrorKind::ConnectionLost;
    case SmtpFailureKind::Other:
    case SmtpFailureKind::None: break;
    }
    return NetErrorKind::Other;
}

NetError netError(const SmtpFailure& failure, const SmtpEndpoint& endpoint)
{
    NetError error;
    error.kind = netErrorKind(failure, endpoint);
    error.protocol = MailProtocol::Smtp;
    error.host = endpoint.host;
    error.port = endpoint.port;
    error.certificateNames = failure.certificateNames;
    error.serverReply = failure.serverReply;
    error.detail = failure.detail;
    if (error.kind == NetErrorKind::Other)
        error.kind = NetErrorKind::NotSent;
    return error;
}

int failureResult(SmtpFailureKind kind)
{
    switch (kind) {
    case SmtpFailureKind::Resolve:
    case SmtpFailureKind::Connect:
    case SmtpFailureKind::Timeout:
    case SmtpFailureKind::Tls:
    case SmtpFailureKind::Certificate:
    case SmtpFailureKind::StartTlsUnavailable:
    case SmtpFailureKind::LoginNeedsTls:
    case SmtpFailureKind::TlsDowngrade:
    case SmtpFailureKind::TrustFileUnreadable:
    case SmtpFailureKind::ConnectionLost:
        return Unreachable;
    case SmtpFailureKind::AuthFailed:
    case SmtpFailureKind::AuthRequired:
        return AuthProblem;
    default:
        return Refused;
    }
}

bool sameSettings(const SmtpSettings& a, const SmtpSettings& b)
{
    return a.endpoint.url({}) == b.endpoint.url({}) && a.user == b.user && a.password == b.password
        && a.caFile == b.caFile && a.trustFile == b.trustFile && a.tlsMemoryFile == b.tlsMemoryFile
        && a.connectTimeoutMs == b.connectTimeoutMs
        && a.readTimeoutMs == b.readTimeoutMs;
}

} // namespace

namespace {
void destroySmtpSession(SmtpSession* session) { delete session; }
} // namespace

void NMail::beginSmtpBatch() { m_smtpBatch = true; }

void NMail::endSmtpBatch()
{
    m_smtpBatch = false;
    m_smtpSession.reset();
}

int NMail::NMailSmtpSendMail(const QString& server, const QString& to, const QString& cc,
                             const QString& bcc, const QString& from, const QString& subject,
                             const QString& body, const QString& /*header*/,
                             const QString& attachments, int /*flag*/)
{
    // The classic interface takes NUL-terminated strings: nothing after a NUL exists.
    using common::CutAtNul;
    const std::optional<SmtpEndpoint> endpoint = SmtpEndpoint::parse(CutAtNul(server));
    if (!endpoint) {
        NetError error;
        error.protocol = MailProtocol::Smtp;
        error.kind = CutAtNul(server).trimmed().isEmpty() ? NetErrorKind::NoServerName : NetErrorKind::UnusableServerName;
        error.item = CutAtNul(server);
        setLastError(std::move(error));
        return BadServer;
    }

    OutgoingMessage message{CutAtNul(from), CutAtNul(to), CutAtNul(cc), CutAtNul(bcc),
                            CutAtNul(subject), CutAtNul(body), CutAtNul(attachments), {}};
    const BuildResult built = MessageBuilder::build(message);
    if (!built.ok()) {
        setLastError(buildError(built));
        return buildErrorResult(built.error);
    }

    if (m_options.keepSent) {
        if (const QString why = m_options.keepSent(built.message.bytes); !why.isEmpty()) {
            setLastError(why.left(BufferSize - 1));
            return NotKept;
        }
    }

    SmtpSettings settings{*endpoint, m_smtpUser, m_smtpPassword, m_options.connectTimeoutMs,
                          m_options.readTimeoutMs, m_options.caFile, m_options.trustedCertificatesFile,
                          m_options.tlsMemoryFile};
    if (!m_smtpSession || !sameSettings(m_smtpSession->settings(), settings))
        m_smtpSession = std::unique_ptr<SmtpSession, SmtpSessionDeleter>(new SmtpSession(std::move(settings)),
                                                                         SmtpSessionDeleter{&destroySmtpSession});
    const bool sent = m_smtpSession->send(built.message.envelopeFrom, built.message.recipients,
                                          built.message.bytes);
    const SmtpFailure failure = m_smtpSession->lastFailure();
    if (!m_smtpBatch)
        m_smtpSession.reset();
    if (!sent) {
        setLastError(netError(failure, *endpoint));
        return failureResult(failure.kind);
    }
    return 0;
}

} // namespace corvidan::transport
