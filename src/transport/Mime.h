#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

/// Taking a received message apart with GMime: the text a reader wants and the
/// attachments as files. Charsets are converted by our own codec, not by
/// GMime's iconv, which rejects the Windows characters Japanese mail uses.
namespace corvidan::transport::mime {

enum Result : int {
    Done = 1,
    FileNotCreated = -5,
    PartsMissing = -6,
};

struct Extraction {
    int result = Done;
    /// The first text/plain part decoded, else the text of an HTML part without
    /// its tags, else empty; CR LF line ends.
    QString body;
    QStringList written;
    /// What went wrong, for the last-error text.
    QString error;
};

/// Parses `message` and writes its attachments into `folder`, never replacing
/// a file. A message/partial whose other parts are missing gives PartsMissing.
Extraction extract(const QByteArray& message, const QString& folder);

/// The text of an HTML document: tags, scripts and styles dropped, block ends
/// and <br> as line breaks, entities resolved.
QString htmlToText(QStringView html);

struct UuFile {
    QString name;
    QByteArray data;
};
/// Removes "begin 644 name" … "end" blocks from `text`, decoding them into `files`.
QByteArray takeUuencoded(const QByteArray& text, QList<UuFile>& files);

} // namespace corvidan::transport::mime
