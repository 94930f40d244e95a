#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

/// Taking a received message apart with GMime: the text a reader wants and the
/// attachments as files. Charsets are converted by our own codec, not by
/// GMime's iconv, which rejects the Windows characters Japanese mail uses.
namespace corvidan::transport::mime {

struct Attachment {
    /// As the sender gave it, decoded but not made safe for the file system ("" when none).
    QString name;
    /// Lower-case MIME type.
    QByteArray type;
    /// Decoded content; an attached message keeps its original bytes.
    QByteArray data;
};

/// Which piece of a split message (message/partial) this is; `total` is 0
/// when this piece does not say.
struct Fragment {
    QByteArray id;
    int number = 0;
    int total = 0;
};

/// Everything the receive keeps of one message, from a single parse.
struct Parsed {
    /// Display texts: encoded words decoded, unlabelled 8-bit text by its
    /// detected charset, NULs dropped.
    QString subject, date, from;
    /// The raw header block as text, ending in CR LF.
    QString header;
    /// The reader's text with CR LF line ends: the first text/plain part,
    /// else an HTML part as text, else empty. For a lone fragment of a split
    /// message, a line saying which part it is.
    QString body;
    QList<Attachment> attachments;
    std::optional<Fragment> fragment;
    /// The first HTML part as decoded text, or empty when there is none.
    QString html;
};

/// Parses a whole message once. Never fails: what cannot be read as MIME is
/// taken as plain text. A non-empty `charsetOverride` decodes the body's text
/// parts in that charset instead of the declared one, for mail that lies.
Parsed parse(QByteArrayView message, QByteArrayView charsetOverride = {});

/// The whole message rebuilt from the raw pieces of one split message, in any
/// order; nullopt while any piece is missing or the pieces do not belong together.
std::optional<QByteArray> joinFragments(const QList<QByteArray>& fragments);

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
    /// The attachment file that could not be created.
    QString error;
};

/// parse, then the attachments written into `folder` (never replacing a file;
/// flushed by attachment::syncWritten). A lone piece of a split message gives
/// PartsMissing and its notice as the body.
Extraction extract(const QByteArray& message, const QString& folder);

/// The text of an HTML document in one pass: tags, scripts, styles and
/// comments dropped, block ends and <br> as line breaks, entities resolved,
/// a link's target after its text as "text (URL)" unless the text shows it.
QString htmlToText(QStringView html);

struct UuFile {
    QString name;
    QByteArray data;
};
/// Removes "begin 644 name" … "end" blocks from `text`, decoding them into
/// `files`; a "begin" without its "end" stays text. Names keep their 8-bit
/// characters (UTF-8, else code page 932, else Latin-1).
QByteArray takeUuencoded(const QByteArray& text, QList<UuFile>& files);

} // namespace corvidan::transport::mime
