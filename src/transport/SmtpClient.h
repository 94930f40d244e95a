#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

namespace corvidan::transport {

/// Where and how to reach the SMTP server, from the "SMTP=" value:
/// "host" (port 25), "host:port", "smtp://host[:port]", "smtps://host[:port]",
/// "[v6-address]:port". Port 465 or smtps means TLS from the first byte; on any
/// other port STARTTLS is required before a login, and used whenever offered.
/// "smtp+plain://host[:port]" never encrypts and may log in in clear.
struct SmtpEndpoint {
    QString host;
    int port = 25;
    bool implicitTls = false;
    bool requireStartTls = false;
    bool plainAllowed = false;

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
    /// The user's own trusted certificates (PEM), beside the system's too.
    QString trustFile;
    /// Where servers seen offering TLS are remembered; empty keeps nothing.
    QString tlsMemoryFile;
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
    /// The server offers no STARTTLS and wants a login: the password stayed here.
    LoginNeedsTls,
    /// The server offered STARTTLS before and no longer does.
    TlsDowngrade,
    TrustFileUnreadable,
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
    /// The names of the server's certificate, when it was seen.
    QStringList certificateNames;
    /// False when no connection was ever made.
    bool connected = false;
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
    void useTls(bool required, bool login);
    int perform(const QByteArray& envelopeFrom, const QList<QByteArray>& recipients, const QByteArray& message,
                Transfer& transfer);
    bool tlsSeenBefore() const;
    void classify(int curlCode, const Transfer& transfer);

    SmtpSettings m_settings;
    void* m_curl = nullptr;
    QByteArray m_url;
    QByteArray m_caBundle;
    /// The server offered no STARTTLS: it is used in clear and without a login.
    bool m_plainRelay = false;
    bool m_trustUnreadable = false;
    SmtpFailure m_failure;
};

} // namespace corvidan::transport
