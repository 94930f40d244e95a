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

    // Protocol faults, from TlsNotSupported to ProbeReplyMalformed (kept together):
    // each is one sentence with the server's words and numbers in it; message,
    // amount and bound carry the numbers.
    /// The program's TLS library is missing.
    TlsNotSupported,
    /// The greeting was -ERR (serverReply).
    GreetingRefused,
    /// A call came after the connection was gone, with no other failure to report.
    NotConnected,
    /// APOP was asked for and the greeting holds no timestamp.
    NoApopTimestamp,
    /// STAT was refused (serverReply).
    MailboxUnreadable,
    /// STAT's count (serverReply) is unreadable or over bound.
    BadMessageCount,
    /// A LIST or UIDL line (serverReply, its head) is over the line cap.
    ListLineTooLong,
    /// A LIST or UIDL line names message amount of a mailbox of bound.
    ListNumberOutOfRange,
    /// A multi-line reply ran past bound octets.
    ReplyTooLong,
    /// A status line (serverReply) neither +OK nor -ERR.
    BadStatusLine,
    /// A status line ran past its cap.
    StatusLineTooLong,
    /// Message `message` of amount octets is over the bound: left on the server.
    MessageTooBig,
    /// Message `message` is not in the mailbox.
    NoSuchMessage,
    /// The user or a signal stopped the receive.
    ReceiveCancelled,
    /// RETR of `message` was refused (serverReply).
    MessageRefused,
    /// DELE of `message` was refused (serverReply).
    DeletionRefused,
    /// QUIT was refused (serverReply, possibly empty).
    QuitRefused,
    /// Writing to the server failed (detail).
    SendFailed,
    /// Reading from the server failed (detail).
    ReadFailed,
    /// Nothing at all came within the read time-out.
    NoReply,
    /// Only amount octets came within bound milliseconds.
    TooSlow,
    /// The server was too slow to take QUIT: the connection was dropped.
    QuitAbandoned,
    /// The server closed the connection mid-session.
    Disconnected,
    /// A connection check's probe: a reply past its line or line count cap.
    ProbeReplyTooLong,
    /// A connection check's probe: a reply line (serverReply) without a code.
    ProbeReplyMalformed,

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
    /// The message number on the server the failure is about.
    int message = 0;
    /// What the server claimed or sent: a count, a number, octets.
    qint64 amount = -1;
    /// The limit it ran into: messages, octets, or milliseconds for a pace.
    qint64 bound = -1;
    /// The TLS handshake ran out of time (no library words to show).
    bool handshakeTimedOut = false;

    bool isError() const { return kind != NetErrorKind::None; }
};

} // namespace corvidan::transport
