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
};

QString buildErrorText(const BuildResult& built)
{
    switch (built.error) {
    case BuildError::NoSender:
        return QStringLiteral("送信者のメールアドレスが設定されていません。");
    case BuildError::NoRecipient:
        return QStringLiteral("宛先のメールアドレスが指定されていません。");
    case BuildError::BadAddress:
        return QStringLiteral("メールアドレス「%1」が正しくありません。").arg(built.detail);
    case BuildError::UnreadableAttachment:
        return QStringLiteral("添付ファイル「%1」を読み込めません。").arg(built.detail);
    case BuildError::None:
        break;
    }
    return {};
}

int buildErrorResult(BuildError error)
{
    return error == BuildError::UnreadableAttachment ? BadAttachment : BadAddress;
}

QString failureHeadline(const SmtpFailure& failure, const SmtpEndpoint& endpoint)
{
    const QString host = endpoint.host;
    switch (failure.kind) {
    case SmtpFailureKind::Resolve:
        return QStringLiteral("SMTPサーバー「%1」が見つかりません。").arg(host);
    case SmtpFailureKind::Connect:
        return QStringLiteral("SMTPサーバー「%1」(ポート%2)に接続できません。").arg(host).arg(endpoint.port);
    case SmtpFailureKind::Timeout:
        return QStringLiteral("SMTPサーバー「%1」から応答がありません(タイムアウト)。").arg(host);
    case SmtpFailureKind::Tls:
        return QStringLiteral("SMTPサーバー「%1」との暗号化(TLS)通信を確立できません。").arg(host);
    case SmtpFailureKind::Certificate:
        return QStringLiteral("SMTPサーバー「%1」の証明書を確認できません。").arg(host);
    case SmtpFailureKind::StartTlsUnavailable:
        return QStringLiteral("SMTPサーバー「%1」が暗号化(STARTTLS)に対応していません。").arg(host);
    case SmtpFailureKind::AuthFailed:
        return QStringLiteral("SMTPサーバーでの認証に失敗しました。ユーザーIDとパスワードを確認して下さい。");
    case SmtpFailureKind::AuthRequired:
        return QStringLiteral("SMTPサーバーが認証を求めています。ユーザーIDとパスワードを設定して下さい。");
    case SmtpFailureKind::SenderRejected:
        return QStringLiteral("送信者のメールアドレスがSMTPサーバーに拒否されました。");
    case SmtpFailureKind::RecipientRejected:
        return QStringLiteral("宛先のメールアドレスがSMTPサーバーに拒否されました。");
    case SmtpFailureKind::DataRejected:
        return QStringLiteral("メールの内容がSMTPサーバーに拒否されました。");
    case SmtpFailureKind::ConnectionLost:
        return QStringLiteral("SMTPサーバー「%1」との接続が切れました。").arg(host);
    case SmtpFailureKind::Other:
    case SmtpFailureKind::None:
        break;
    }
    return QStringLiteral("メールを送信できませんでした。");
}

QString failureText(const SmtpFailure& failure, const SmtpEndpoint& endpoint)
{
    QString text = failureHeadline(failure, endpoint);
    if (!failure.serverReply.isEmpty())
        text += QStringLiteral("\nサーバーの応答: ") + failure.serverReply;
    if (!failure.detail.isEmpty())
        text += QStringLiteral("\n詳細: ") + failure.detail;
    return text;
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
        && a.caFile == b.caFile && a.connectTimeoutMs == b.connectTimeoutMs
        && a.readTimeoutMs == b.readTimeoutMs;
}

} // namespace

void SmtpSessionDeleter::operator()(SmtpSession* session) const { delete session; }

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
        setLastError(CutAtNul(server).trimmed().isEmpty()
                         ? QStringLiteral("SMTPサーバーが設定されていません。")
                         : QStringLiteral("SMTPサーバー名「%1」が正しくありません。").arg(CutAtNul(server)));
        return BadServer;
    }

    OutgoingMessage message{CutAtNul(from), CutAtNul(to), CutAtNul(cc), CutAtNul(bcc),
                            CutAtNul(subject), CutAtNul(body), CutAtNul(attachments), {}};
    const BuildResult built = MessageBuilder::build(message);
    if (!built.ok()) {
        setLastError(buildErrorText(built).left(BufferSize - 1));
        return buildErrorResult(built.error);
    }

    SmtpSettings settings{*endpoint, m_smtpUser, m_smtpPassword, m_options.connectTimeoutMs,
                          m_options.readTimeoutMs, m_options.caFile};
    if (!m_smtpSession || !sameSettings(m_smtpSession->settings(), settings))
        m_smtpSession.reset(new SmtpSession(std::move(settings)));
    const bool sent = m_smtpSession->send(built.message.envelopeFrom, built.message.recipients,
                                          built.message.bytes);
    const SmtpFailure failure = m_smtpSession->lastFailure();
    if (!m_smtpBatch)
        m_smtpSession.reset();
    if (!sent) {
        setLastError(failureText(failure, *endpoint).left(BufferSize - 1));
        return failureResult(failure.kind);
    }
    return 0;
}

} // namespace corvidan::transport
