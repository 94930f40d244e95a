#pragma once

#include "transport/NetError.h"

#include <QByteArray>
#include <QString>
#include <functional>
#include <memory>

namespace corvidan::common {
class AppDir;
}

namespace corvidan::transport {

class Pop3Session;
struct FetchedMessage;
class SmtpSession;
/// Set by the send side, which alone knows the SMTP types: a program that only
/// receives then links (and loads at every start) none of the SMTP library.
struct SmtpSessionDeleter {
    void (*destroy)(SmtpSession*) = nullptr;
    void operator()(SmtpSession* session) const
    {
        if (session && destroy)
            destroy(session);
    }
};

/// The ports the connection check probes; the defaults are the well-known ones.
struct CheckPorts {
    quint16 pop3s = 995;
    quint16 pop3 = 110;
    quint16 smtps = 465;
    quint16 submission = 587;
    quint16 smtp = 25;
};

/// Settings the program never changes but tests and benchmarks do.
struct NMailOptions {
    int connectTimeoutMs = 30000;
    int readTimeoutMs = 60000;
    /// Extra CA certificate file to trust (tests use a self-signed one).
    QString caFile;
    /// The user's own trusted certificates (PEM), added to the system's.
    QString trustedCertificatesFile;
    /// Where the servers seen offering TLS are remembered; empty keeps nothing.
    QString tlsMemoryFile;
    /// Upper bound of bytes fetched ahead of the caller while pipelining.
    qint64 pipelineWindowBytes = 4 * 1024 * 1024;
    /// While waiting on the POP3 server, let the application paint and run its
    /// timers (user input waits): windows would freeze through a slow connect.
    bool serveEventsWhileWaiting = false;
    /// Largest message fetched; a bigger one is left on the server. The listed
    /// size plus some slack bounds a message further.
    qint64 maxMessageBytes = qint64(128) * 1024 * 1024;
    /// A reply slower than this over each readTimeoutMs ends in an error, so a
    /// server that drips bytes cannot hold the receive for ever.
    qint64 minBytesPerSecond = 512;
    /// Asked while waiting on the server (at least every 100 ms); true ends the
    /// command with FetchStatus::Cancelled.
    std::function<bool()> cancelled;
    /// How NMailGetMessage words a failure: the front end's table of texts.
    /// Unset, it gives the technical words only.
    std::function<QString(const NetError&)> describeError;
    /// Sees each message's bytes just before they go to the SMTP server, to keep
    /// them; a non-empty answer is the reason that message is not sent (-7).
    std::function<QString(QByteArrayView message)> keepSent;
    CheckPorts checkPorts;

    /// The trusted certificates and the TLS memory of the program's data folder.
    void useDataFolder(const common::AppDir& appDir);
};

/// One message as the mailbox handed it over.
struct MailboxFetch {
    enum class Status {
        Ok,
        /// Over the size bound: left on the server, the session goes on.
        TooBig,
        /// The server refused this message: left there, the session goes on.
        Refused,
        /// The connection is gone (lost, a protocol error, a deadline).
        Failed,
        /// The user or a signal asked to stop while it arrived.
        Cancelled,
    };
    Status status = Status::Failed;
    /// The message's bytes exactly as the server sent them (dot-unstuffed).
    QByteArray bytes;
    /// Size as the server listed it, -1 when unknown.
    qint64 listedSize = -1;
    /// Why it is not Ok.
    NetError error;
};

/// The mail library the program is written against: POP3, SMTP and MIME behind
/// a fixed set of synchronous calls that return numbers, with buffers passed by
/// reference. Texts are Unicode here; the observable limits of the original
/// buffers (8192 characters for header fields and error texts) are kept.
///
/// Receive contract:
/// - NMailPop3Connect gives a handle, -1 when no connection could be made.
/// - NMailPop3Authenticate gives the number of waiting messages, or below 0 on
///   an error (text for NMailGetMessage). APOP (apop = -1) never falls back to a
///   plain password.
/// - NMailPop3GetMailStatus fills subject, date and from as display text
///   (RFC 2047 decoded, tolerant of the broken forms Japanese mail has) and the
///   raw header.
/// - NMailPop3GetMail gives the body exactly as it came from the server (MIME
///   part headers included), so a caller can look for "attachment" in it.
/// - NMailAttachmentFileFirst parses the whole message text, writes every
///   attachment into the folder (sanitised names, never overwriting) and leaves
///   in `body` the text a reader wants: the first text/plain part decoded, or the
///   text of an HTML-only message, or empty. 1 done, -5 a file could not be
///   created, -6 parts of a message/partial are missing. When the text is the
///   message last fetched (its header's ASCII matches), the original bytes
///   from the server are parsed, so 8-bit parts survive a code page round trip.
/// - Every POP3 call returns below 0 when it failed (connection lost, time-out,
///   a refused command), with the text for NMailGetMessage; buffers are then
///   emptied. NMailPop3Close returns 0 once the server confirmed QUIT.
/// - NMailPop3DeleteMail marks for deletion; the server applies it at
///   NMailPop3Close (QUIT).
/// Send contract: NMailSmtpSendMail returns 0 once the server accepted the
/// message, below 0 on failure, with a Japanese error text (including the
/// server's reply) for NMailGetMessage: -1 no usable server name, -2 a missing
/// or unusable address, -3 an unreadable attachment (the text names the file),
/// -4 the server could not be reached or TLS failed, -5 authentication failed
/// or is required, -6 the server refused the sender, a recipient or the message.
/// The library keeps every failure as a kind (lastNetError()); the text
/// NMailGetMessage gives is that kind worded by NMailOptions::describeError.
/// or is required, -6 the server refused the sender, a recipient or the message,
/// -7 the message could not be kept before it left (NMailOptions::keepSent).
class NMail {
public:
    static constexpr int BufferSize = 8192;

    NMail();
    ~NMail();
    NMail(const NMail&) = delete;
    NMail& operator=(const NMail&) = delete;

    NMailOptions& options() { return m_options; }

    int NMailInitializeWinSock();
    int NMailSetOption(int option, int value);
    int NMailEndWinSock();

    int NMailPop3Connect(const QString& server);
    int NMailPop3Authenticate(int handle, const QString& id, const QString& password, int apop);
    int NMailPop3GetMailStatus(int handle, int n, QString& subject, QString& date, QString& from,
                               QString& header, int flag);
    int NMailPop3GetMailSize(int handle, int n);
    int NMailPop3GetMail(int handle, int n, QString& subject, QString& date, QString& from,
                         QString& header, QString& body, int flag1, int flag2);
    int NMailAttachmentFileFirst(int flag, QString& subject, QString& date, QString& from,
                                 QString& header, QString& body, const QString& folder,
                                 const QString& scratchPath, const QString& messageText, int flag2);
    int NMailAttachmentFileClose(int flag);
    int NMailPop3DeleteMail(int handle, int n);
    int NMailPop3Close(int handle);

    int NMailSmtpSendMail(const QString& server, const QString& to, const QString& cc,
                          const QString& bcc, const QString& from, const QString& subject,
                          const QString& body, const QString& header, const QString& attachments,
                          int flag);
    int NMailGetMessage(int flag, QString& buffer, int& size);

    /// Beyond the classic calls: the server's unique id of message n (UIDL), empty
    /// when the server has none. The receive uses it to never store a message twice.
    QString Pop3UniqueId(int handle, int n);
    /// Beyond the classic calls: message n's bytes as the server sent them, moved
    /// out of the session. The receive parses them once; nothing is kept here.
    MailboxFetch Pop3Fetch(int handle, int n);
    /// True once the server confirmed QUIT, i.e. applied the deletions.
    bool Pop3LastCloseConfirmed() const { return m_lastCloseConfirmed; }
    /// How often the library was initialised and released; the program does
    /// each exactly once per process.
    int initializeCount() const { return m_initializeCount; }
    int endCount() const { return m_endCount; }

    /// The account used when the SMTP server asks for authentication: the POP
    /// account (PopUserId, PopPassword). An empty user never authenticates.
    void setSmtpAccount(QString user, QString password)
    {
        m_smtpUser = std::move(user);
        m_smtpPassword = std::move(password);
    }
    /// Bulk sending: from beginSmtpBatch to endSmtpBatch, NMailSmtpSendMail calls
    /// to the same server with the same account share one connection and one
    /// login (reconnecting by itself if the server drops it). endSmtpBatch sends
    /// QUIT; so does destroying the NMail. Outside a batch every send has its own
    /// connection.
    void beginSmtpBatch();
    void endSmtpBatch();

    void setLastError(QString text)
    {
        m_lastNetError = NetError{NetErrorKind::Other, {}, {}, 0, {}, {}, {}, std::move(text), {}};
    }
    void setLastError(NetError error) { m_lastNetError = std::move(error); }
    const NetError& lastNetError() const { return m_lastNetError; }

private:
    Pop3Session* session(int handle);
    const FetchedMessage* fetched(int handle, int n);
    QByteArray messageBytes(const QString& messageText) const;

    NMailOptions m_options;
    NetError m_lastNetError;
    std::unique_ptr<Pop3Session> m_session;
    /// The message last handed out, kept so extraction can parse its original
    /// bytes rather than a text that went through a code page.
    std::unique_ptr<FetchedMessage> m_fetched;
    int m_nextHandle = 1;
    int m_handle = -1;
    bool m_lastCloseConfirmed = false;
    bool m_initialized = false;
    int m_initializeCount = 0;
    int m_endCount = 0;
    QString m_smtpUser;
    QString m_smtpPassword;
    bool m_smtpBatch = false;
    std::unique_ptr<SmtpSession, SmtpSessionDeleter> m_smtpSession;
};

} // namespace corvidan::transport
