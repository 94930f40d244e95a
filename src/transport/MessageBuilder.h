#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

namespace corvidan::transport {

/// One mailbox of an address field: "名前 <a@example.jp>", "名前<a@example.jp>"
/// or a bare address.
struct Mailbox {
    QString displayName;
    QString address;
};

/// The mailboxes of an address field, split at commas outside quotes and angle
/// brackets; empty pieces are skipped.
QList<Mailbox> parseAddressList(QStringView text);

/// What the user wrote, as the send call receives it.
struct OutgoingMessage {
    QString from;
    QString to;
    QString cc;
    QString bcc;
    QString subject;
    QString body;
    /// File paths joined by ",".
    QString attachments;
    /// Local time of the Date field; an invalid value means now.
    QDateTime date;
};

/// A message ready for SMTP: wire bytes (CR LF lines) and the envelope.
struct BuiltMessage {
    QByteArray bytes;
    QByteArray envelopeFrom;
    QList<QByteArray> recipients;
};

enum class BuildError {
    None,
    NoSender,
    NoRecipient,
    BadAddress,
    UnreadableAttachment,
};

struct BuildResult {
    BuildError error = BuildError::None;
    /// The address or the attachment path that failed.
    QString detail;
    BuiltMessage message;
    bool ok() const { return error == BuildError::None; }
};

/// Builds the MIME message a Japanese mailer would send: headers in RFC 2047
/// (ISO-2022-JP words when the text fits JIS X 0208, else UTF-8), the text as
/// 7bit ISO-2022-JP when it fits (half-width kana widened first), else UTF-8,
/// and attachments as base64 parts with RFC 2231 file names.
class MessageBuilder {
public:
    static BuildResult build(const OutgoingMessage& message);

    /// RFC 5322 date with the local offset, e.g. "Tue, 8 Dec 2026 10:00:00 +0900".
    static QByteArray formatDate(const QDateTime& local);
    /// "Name: value" folded to lines of at most 76 octets, without the final CR LF.
    /// Non-ASCII text becomes encoded words.
    static QByteArray unstructuredHeader(const QByteArray& name, QStringView value);
    /// The text part: its Content-Type value, transfer encoding and encoded bytes.
    struct TextPart {
        QByteArray contentType;
        QByteArray transferEncoding;
        QByteArray bytes;
    };
    static TextPart encodeText(QStringView text);
};

} // namespace corvidan::transport
