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

/// An address field for display: like decodeText, with the quotes around a
/// display name removed (`"名前" <a@b>` reads `名前 <a@b>`).
QString decodeAddress(QByteArrayView raw);

/// A value shown as it stands (the date): unfolded and trimmed.
QString plainText(QByteArrayView raw);

/// Value of a parameter (`filename`, `name`, `charset`) of a structured field
/// such as Content-Disposition, decoded from RFC 2231 (continuations, charset)
/// or from RFC 2047 words inside quotes. Empty when absent.
QString parameter(QByteArrayView rawFieldValue, QByteArrayView name);

} // namespace corvidan::transport::header
