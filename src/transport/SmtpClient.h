#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <optional>

namespace corvidan::transport {

/// Where and how to reach the SMTP server, from the "SMTP=" value:
/// "host" (port 25), "host:port", "smtp://host[:port]", "smtps://host[:port]",
/// "[v6-address]:port". Port 465 or smtps means TLS from the first byte; on any
/// other port STARTTLS is used whenever the server offers it, and required on
/// port 587.
struct SmtpEndpoint {
    QString host;
    int port = 25;
    bool implicitTls = false;
    bool requireStartTls = false;

    static std::optional<SmtpEndpoint> parse(QStringView server);
    /// The libcurl URL, with `heloName` as the path (curl's EHLO argument).
    QByteArray url(const QByteArray& heloName) const;
};

struct SmtpSettings {
    SmtpEndpoint endpoint;
    /// Empty user: never authenticate.
    QString user;
    QString password;
    int connectTimeoutMs = 30000;
    int readTimeoutMs = 60000;
    /// Extra CA certificate file trusted beside the system's.
    QString caFile;
};

/// Why a send failed; `SmtpSession::lastFailure()` carries the details.
enum class SmtpFailureKind {
    None,
    Resolve,
    Connect,
    Timeout,
    Tls,
    Certificate,
    StartTlsUnavailable,
    AuthFailed,
    AuthRequired,
    SenderRejected,
    RecipientRejected,
    DataRejected,
    ConnectionLost,
    Other,
};

struct SmtpFailure {
    SmtpFailureKind kind = SmtpFailureKind::None;
    /// The server's last 4xx/5xx reply line, when it sent one.
    QString serverReply;
    /// libcurl's own description (the error buffer, else its code's text).
    QString detail;
};

/// One SMTP connection kept across sends: every `send` on the same session
/// reuses the connection libcurl holds in its easy handle (logging in once),
/// and reconnects by itself when the server dropped it. Destroying the session
/// sends QUIT. Blocking; use from one thread at a time.
class SmtpSession {
public:
    explicit SmtpSession(SmtpSettings settings);
    ~SmtpSession();
    SmtpSession(const SmtpSession&) = delete;
    SmtpSession& operator=(const SmtpSession&) = delete;

    const SmtpSettings& settings() const { return m_settings; }

    /// Sends one message (CR LF lines) to every recipient; true when the server
    /// accepted it. On false, `lastFailure()` says why.
    bool send(const QByteArray& envelopeFrom, const QList<QByteArray>& recipients,
              const QByteArray& message);
    const SmtpFailure& lastFailure() const { return m_failure; }

private:
    struct Transfer;
    void applySettings();
    void classify(int curlCode, const Transfer& transfer);

    SmtpSettings m_settings;
    void* m_curl = nullptr;
    QByteArray m_url;
    QByteArray m_caBundle;
    SmtpFailure m_failure;
};

} // namespace corvidan::transport
