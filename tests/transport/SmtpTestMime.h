#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

/// Reading built or received messages back in the tests with GMime (structure,
/// parameters, transfer decoding) and a strict RFC 2047 decoder of our own
/// (GMime 3.2's drops text after padded words).
namespace corvidan::test::mimecheck {

struct Part {
    QByteArray mimeType;
    QByteArray charset;
    QByteArray transferEncoding;
    QString fileName;
    /// Transfer-decoded bytes.
    QByteArray content;
    /// Raw header lines of the part.
    QByteArray headers;
};

struct Message {
    bool parsed = false;
    QByteArray topMimeType;
    QList<Part> parts;
    QByteArray fromAddress;
    QList<QByteArray> toAddresses;
    /// Raw header values (folded as sent) by name.
    QByteArray header(const QByteArray& name) const;
    QByteArray rawHeaders;
};

Message parse(const QByteArray& bytes);

/// Every encoded word decoded on its own (a word that is not whole fails the
/// test) with the blanks between adjacent words dropped.
QString decodeWords(const QByteArray& raw);

/// The text of a part decoded from its charset by ICU.
QString text(const Part& part);

/// Longest line of `bytes` in octets (without CR LF).
int longestLine(const QByteArray& bytes);

} // namespace corvidan::test::mimecheck
