#include "transport/NMail.h"

#include "transport/Attachment.h"
#include "transport/Charset.h"
#include "transport/HeaderDecoder.h"
#include "transport/Mime.h"
#include "transport/Pop3Session.h"

#include <cstdint>
#include <cstring>

namespace corvidan::transport {

/// One fetched message as the calls hand it out.
struct FetchedMessage {
    int handle = -1;
    int n = 0;
    QString subject;
    QString date;
    QString from;
    QString header;
    QString body;
    QByteArray raw;
};

namespace {

constexpr qsizetype kFieldLimit = NMail::BufferSize - 1;

/// Cut to what a caller's 8192-character buffer holds (its NUL included).
QString limited(QString text)
{
    if (text.size() > kFieldLimit) {
        qsizetype cut = kFieldLimit;
        if (text[cut - 1].isHighSurrogate())
            --cut;
        text.truncate(cut);
    }
    return text;
}

bool isAscii(QByteArrayView bytes)
{
    // Eight bytes at a time: bodies run to megabytes.
    const char* p = bytes.data();
    const char* end = p + bytes.size();
    std::uint64_t high = 0;
    for (; end - p >= 8; p += 8) {
        std::uint64_t word;
        std::memcpy(&word, p, 8);
        high |= word;
    }
    for (; p < end; ++p)
        high |= static_cast<unsigned char>(*p);
    return (high & 0x8080808080808080ULL) == 0;
}

/// True when every line already ends in CR LF.
bool hasOnlyCrLf(QByteArrayView bytes)
{
    qsizetype pos = 0;
    while ((pos = bytes.indexOf('\n', pos)) >= 0) {
        if (pos == 0 || bytes[pos - 1] != '\r')
            return false;
        ++pos;
    }
    qsizetype cr = 0;
    while ((cr = bytes.indexOf('\r', cr)) >= 0) {
        if (cr + 1 >= bytes.size() || bytes[cr + 1] != '\n')
            return false;
        ++cr;
    }
    return true;
}

QString bytesAsText(QByteArrayView bytes, QByteArrayView label)
{
    QString text = isAscii(bytes) ? QString::fromLatin1(bytes) : charset::decode(bytes, label);
    return hasOnlyCrLf(bytes) ? text : charset::toCrLf(text);
}

/// The letters, digits and punctuation of the header only: what survives any
/// code page a caller may have sent the text through.
QString asciiSkeleton(QStringView text, qsizetype limit = -1)
{
    QString out;
    for (qsizetype i = 0; i < text.size() && (limit < 0 || out.size() < limit); ++i) {
        const char16_t c = text[i].unicode();
        if (c > 0x20 && c < 0x7F)
            out += QChar(c);
    }
    return out;
}

void fillHeaderFields(QByteArrayView message, QString& subject, QString& date, QString& from, QString& header)
{
    const QByteArrayView block = header::headerBlock(message);
    QByteArray rawSubject, rawDate, rawFrom;
    for (const header::Field& field : header::parseFields(block)) {
        const auto take = [&](const char* name, QByteArray& into) {
            if (into.isNull() && field.name.compare(name, Qt::CaseInsensitive) == 0)
                into = field.rawValue.isNull() ? QByteArray("") : field.rawValue;
        };
        take("Subject", rawSubject);
        take("Date", rawDate);
        take("From", rawFrom);
    }
    subject = limited(header::decodeText(rawSubject));
    date = limited(header::plainText(rawDate));
    from = limited(header::decodeAddress(rawFrom));
    // Ends with the line end of its last field, so header + CR LF + body is the message again.
    header = limited(bytesAsText(block, {}) + QStringLiteral("\r\n"));
}

void clearFields(QString& subject, QString& date, QString& from, QString& header)
{
    subject.clear();
    date.clear();
    from.clear();
    header.clear();
}

} // namespace

NMail::NMail() = default;

NMail::~NMail() = default;

int NMail::NMailInitializeWinSock()
{
    m_initialized = true;
    ++m_initializeCount;
    return 0;
}

int NMail::NMailSetOption(int option, int value)
{
    // Option 1 sized the original's buffers; buffers here grow as needed.
    Q_UNUSED(option);
    Q_UNUSED(value);
    return 0;
}

int NMail::NMailEndWinSock()
{
    ++m_endCount;
    m_session.reset();
    m_fetched.reset();
    m_initialized = false;
    return 0;
}

Pop3Session* NMail::session(int handle)
{
    if (handle != m_handle || !m_session) {
        setLastError(NetError{NetErrorKind::NoSession, MailProtocol::Pop3, {}, 0, {}, {}, {}, {}, {}});
        return nullptr;
    }
    return m_session.get();
}

int NMail::NMailPop3Connect(const QString& server)
{
    m_session.reset();
    m_fetched.reset();
    m_handle = -1;
    m_lastCloseConfirmed = false;
    auto session = std::make_unique<Pop3Session>(m_options);
    if (!session->open(server)) {
        setLastError(session->netError());
        return -1;
    }
    m_session = std::move(session);
    m_handle = m_nextHandle++;
    return m_handle;
}

int NMail::NMailPop3Authenticate(int handle, const QString& id, const QString& password, int apop)
{
    Pop3Session* pop = session(handle);
    if (!pop)
        return -1;
    const int count = pop->authenticate(id, password, apop != 0);
    if (count < 0)
        setLastError(pop->netError());
    return count;
}

const FetchedMessage* NMail::fetched(int handle, int n)
{
    if (m_fetched && m_fetched->handle == handle && m_fetched->n == n)
        return m_fetched.get();
    Pop3Session* pop = session(handle);
    if (!pop)
        return nullptr;
    const QByteArray* raw = pop->message(n);
    if (!raw) {
        setLastError(pop->netError());
        return nullptr;
    }
    auto message = std::make_unique<FetchedMessage>();
    message->handle = handle;
    message->n = n;
    message->raw = *raw;
    fillHeaderFields(message->raw, message->subject, message->date, message->from, message->header);
    const QByteArrayView rawBody = QByteArrayView(message->raw).sliced(header::bodyOffset(message->raw));
    const QByteArray label =
        header::parameter(header::rawValue(header::headerBlock(message->raw), "Content-Type"), "charset").toLatin1();
    message->body = bytesAsText(rawBody, label);
    m_fetched = std::move(message);
    return m_fetched.get();
}

int NMail::NMailPop3GetMailStatus(int handle, int n, QString& subject, QString& date, QString& from,
                                  QString& header, int flag)
{
    Q_UNUSED(flag);
    const FetchedMessage* message = fetched(handle, n);
    if (!message) {
        clearFields(subject, date, from, header);
        return -1;
    }
    subject = message->subject;
    date = message->date;
    from = message->from;
    header = message->header;
    return 1;
}

int NMail::NMailPop3GetMailSize(int handle, int n)
{
    const FetchedMessage* message = fetched(handle, n);
    if (!message)
        return -1;
    const qint64 listed = m_session ? m_session->listedSize(n) : -1;
    return static_cast<int>(std::clamp<qint64>(std::max<qint64>(listed, message->body.size()), 0, INT_MAX - 1));
}

int NMail::NMailPop3GetMail(int handle, int n, QString& subject, QString& date, QString& from, QString& header,
                            QString& body, int flag1, int flag2)
{
    Q_UNUSED(flag1);
    Q_UNUSED(flag2);
    const FetchedMessage* message = fetched(handle, n);
    if (!message) {
        clearFields(subject, date, from, header);
        body.clear();
        return -1;
    }
    subject = message->subject;
    date = message->date;
    from = message->from;
    header = message->header;
    body = message->body;
    return 1;
}

QByteArray NMail::messageBytes(const QString& messageText) const
{
    QString text = messageText;
    if (const qsizetype nul = text.indexOf(QChar(u'\0')); nul >= 0)
        text.truncate(nul);
    if (m_fetched) {
        const QString expected = asciiSkeleton(m_fetched->header);
        if (!expected.isEmpty() && asciiSkeleton(text, expected.size()) == expected)
            return m_fetched->raw;
    }
    // A text from elsewhere: Latin-1 keeps 8-bit bytes that came in as such.
    for (QChar c : std::as_const(text))
        if (c.unicode() > 0xFF)
            return text.toUtf8();
    return text.toLatin1();
}

int NMail::NMailAttachmentFileFirst(int flag, QString& subject, QString& date, QString& from, QString& header,
                                    QString& body, const QString& folder, const QString& scratchPath,
                                    const QString& messageText, int flag2)
{
    Q_UNUSED(flag);
    Q_UNUSED(flag2);
    Q_UNUSED(scratchPath); // the message text carries the same content
    const QByteArray bytes = messageBytes(messageText);
    fillHeaderFields(bytes, subject, date, from, header);
    const mime::Extraction extraction = mime::extract(bytes, attachment::folderPath(folder));
    NetError failed;
    failed.item = extraction.error;
    if (extraction.result == mime::PartsMissing) {
        failed.kind = NetErrorKind::PartsMissing;
        setLastError(std::move(failed));
        return extraction.result;
    }
    body = extraction.body;
    if (extraction.result != mime::Done) {
        failed.kind = NetErrorKind::AttachmentNotCreated;
        setLastError(std::move(failed));
    }
    return extraction.result;
}

int NMail::NMailAttachmentFileClose(int flag)
{
    Q_UNUSED(flag);
    return 0;
}

int NMail::NMailPop3DeleteMail(int handle, int n)
{
    Pop3Session* pop = session(handle);
    if (!pop)
        return -1;
    if (m_fetched && m_fetched->n == n)
        m_fetched.reset();
    if (!pop->remove(n)) {
        setLastError(pop->netError());
        return -1;
    }
    return 1;
}

int NMail::NMailPop3Close(int handle)
{
    Pop3Session* pop = session(handle);
    if (!pop)
        return -1;
    m_lastCloseConfirmed = pop->quit();
    const bool refused = pop->refusedDeletions() > 0;
    if (!m_lastCloseConfirmed || refused)
        setLastError(pop->netError());
    m_session.reset();
    m_fetched.reset();
    m_handle = -1;
    return m_lastCloseConfirmed && !refused ? 0 : -1;
}

int NMail::NMailGetMessage(int flag, QString& buffer, int& size)
{
    Q_UNUSED(flag);
    const qsizetype room = std::max(size - 1, 0);
    const QString text = !m_lastNetError.isError()      ? QString()
                         : m_options.describeError ? m_options.describeError(m_lastNetError)
                         : m_lastNetError.detail.isEmpty() ? m_lastNetError.serverReply
                                                           : m_lastNetError.detail;
    buffer = text.left(room);
    return static_cast<int>(buffer.size());
}

MailboxFetch NMail::Pop3Fetch(int handle, int n)
{
    MailboxFetch out;
    Pop3Session* pop = session(handle);
    if (!pop)
        return out; // the receive asks lastNetError()
    m_fetched.reset();
    FetchResult fetched = pop->fetch(n);
    switch (fetched.status) {
    case FetchStatus::Ok:
        out.status = MailboxFetch::Status::Ok;
        break;
    case FetchStatus::TooBig:
        out.status = MailboxFetch::Status::TooBig;
        break;
    case FetchStatus::Refused:
        out.status = MailboxFetch::Status::Refused;
        break;
    case FetchStatus::Failed:
        out.status = MailboxFetch::Status::Failed;
        break;
    case FetchStatus::Cancelled:
        out.status = MailboxFetch::Status::Cancelled;
        break;
    }
    out.bytes = std::move(fetched.bytes);
    out.listedSize = fetched.size;
    out.error = std::move(fetched.error);
    if (out.status != MailboxFetch::Status::Ok)
        setLastError(out.error);
    return out;
}

QString NMail::Pop3UniqueId(int handle, int n)
{
    Pop3Session* pop = session(handle);
    return pop ? pop->uniqueId(n) : QString();
}

} // namespace corvidan::transport
