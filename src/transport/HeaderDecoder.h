#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

/// Header fields as a reader wants them. Real Japanese mail breaks RFC 2047 in
/// many ways (encoded words inside quotes, a character split across two words,
/// raw 8-bit text), so decoding works on the raw bytes and forgives.
namespace corvidan::transport::header {

struct Field {
    QByteArray name;
    /// The value as it stands in the message, folding included.
    QByteArray rawValue;
};

/// The header block of a message: everything before the first empty line.
QByteArrayView headerBlock(QByteArrayView message);
/// Offset of the body: just after the empty line, or the end of `message`.
qsizetype bodyOffset(QByteArrayView message);

QList<Field> parseFields(QByteArrayView block);
/// Raw value of the first field called `name` (any case); empty when missing.
QByteArray rawValue(QByteArrayView block, QByteArrayView name);

/// A folded value on one line: CR LF (or LF) before white space is removed.
QByteArray unfold(QByteArrayView raw);

/// Display text of a header value: encoded words decoded (adjacent words of
/// one charset joined at byte level first), raw 8-bit text by guessed charset.
QString decodeText(QByteArrayView raw);

/// An address field for display: like decodeText, each mailbox as
/// `name <address>`. A display name keeps its quotes only when it needs them
/// (`"Doe, John" <j@example.com>`, but `名前 <a@b>` for `"名前" <a@b>`), so a
/// reply still reaches one address.
QString decodeAddress(QByteArrayView raw);

/// A sender text that fits `maxBytes` in code page 932: the display name is
/// shortened, never the address. When not even a short name fits, the bare
/// address (which the caller may still have to cut).
QString fitSender(const QString& from, int maxBytes);

/// A value shown as it stands (the date): unfolded and trimmed.
QString plainText(QByteArrayView raw);

/// Value of a parameter (`filename`, `name`, `charset`) of a structured field
/// such as Content-Disposition, decoded from RFC 2231 (continuations, charset)
/// or from RFC 2047 words inside quotes. Empty when absent.
QString parameter(QByteArrayView rawFieldValue, QByteArrayView name);

} // namespace corvidan::transport::header
