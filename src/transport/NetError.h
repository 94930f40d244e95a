#pragma once

#include <QString>
#include <QStringList>

namespace corvidan::transport {

/// Why talking to a mail server failed, as far as the user can act on it.
enum class NetErrorKind {
    None,
    BadServerName,
    HostNotFound,
    Refused,
    /// The connection was never made: no answer within the time-out.
    NoAnswer,
    /// Connected, then the server stopped answering.
    Timeout,
    ConnectionLost,
    /// TLS was expected from the first byte, the port speaks plain text.
    PlainWhereTlsExpected,
    /// Plain text was expected, the port speaks TLS from the first byte.
    TlsWherePlainExpected,
    TlsFailed,
    CertificateNameMismatch,
    CertificateExpired,
    CertificateUntrusted,
    TrustFileUnreadable,
    /// The server offers no STLS/STARTTLS: the password was not sent.
    TlsUnavailable,
    /// The server offered TLS before and no longer does.
    TlsDowngrade,
    LoginRefused,
    LoginRequired,
    SenderRejected,
    RecipientRejected,
    DataRejected,
    /// The SMTP message was not sent for a reason the kinds above do not name.
    NotSent,
    /// No SMTP server is set.
    NoServerName,
    /// The SMTP server setting (item) cannot be understood.
    UnusableServerName,
    NoSender,
    NoRecipient,
    /// A mail address (item) cannot be understood.
    BadAddress,
    /// An attachment file (item) cannot be read.
    UnreadableAttachment,
    /// The extra CA certificate file (item) holds no certificate.
    CaFileUnreadable,
    /// A call named a POP3 session that is not open.
    NoSession,
    /// The attachment file (item) could not be created.
    AttachmentNotCreated,
    /// Only a part of a split message was given.
    PartsMissing,
    /// Anything else: the detail is the whole text.
    Other,
};

enum class MailProtocol { Pop3, Smtp };

/// What the core records about a failure; the words come from the front end's table.
struct NetError {
    NetErrorKind kind = NetErrorKind::None;
    MailProtocol protocol = MailProtocol::Pop3;
    QString host;
    int port = 0;
    /// The names a certificate was issued for (name mismatch).
    QStringList certificateNames;
    /// When a certificate expired, as the certificate says.
    QString expiry;
    /// The server's own reply line, when it sent one.
    QString serverReply;
    /// Technical words (TLS library, system), shown on a line of their own.
    QString detail;
    /// The address, file or setting the failure is about.
    QString item;

    bool isError() const { return kind != NetErrorKind::None; }
};

} // namespace corvidan::transport
