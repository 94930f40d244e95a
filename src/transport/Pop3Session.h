#pragma once

#include "transport/NMail.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QString>
#include <deque>
#include <map>
#include <memory>
#include <optional>

class QSslCertificate;
class QSslSocket;

namespace corvidan::transport {

/// Where a "POP3=" value points: "host", "host:port", "pop3://host[:port]",
/// "pop3s://host[:port]"; port 995 without a scheme means implicit TLS.
/// "pop3+plain://host[:port]" is the one form that speaks in clear and may
/// send the password that way.
struct Pop3Endpoint {
    QString host;
    quint16 port = 110;
    bool implicitTls = false;
    bool plainAllowed = false;

    static std::optional<Pop3Endpoint> parse(const QString& server);
};

/// How one fetch ended. TooBig and Refused leave the session usable, Failed and
/// Cancelled may not (isOpen() tells).
enum class FetchStatus { Ok, TooBig, Refused, Failed, Cancelled };

struct FetchResult {
    FetchStatus status = FetchStatus::Failed;
    /// The message, dot-unstuffed, CR LF lines; empty unless Ok.
    QByteArray bytes;
    /// Why it is not Ok: a kind for the front end's table of texts.
    NetError error;
    /// Octets of the message: as received, or as listed when it was not fetched.
    qint64 size = -1;
};

/// A synchronous POP3 client that pipelines underneath: after login it keeps
/// RETR commands for the next messages in flight (bounded in bytes), sends
/// DELE without waiting, and checks every reply as it arrives. Servers without
/// PIPELINING get one command at a time. Blocks the calling thread; needs no
/// event loop.
///
/// Nothing the server says sizes memory unchecked: status lines, CAPA, LIST and
/// UIDL have caps (LIST and UIDL by the STAT count, whose numbers they must not
/// exceed), a message by NMailOptions::maxMessageBytes and its listed size plus
/// slack. A reply must keep a minimum pace over every readTimeoutMs, so a
/// server that drips bytes ends in an error; every wait is sliced and asks
/// NMailOptions::cancelled.
class Pop3Session {
public:
    explicit Pop3Session(const NMailOptions& options);
    ~Pop3Session();
    Pop3Session(const Pop3Session&) = delete;
    Pop3Session& operator=(const Pop3Session&) = delete;

    /// Connects, reads the greeting and capabilities, and upgrades with STLS
    /// when a plain connection offers it.
    bool open(const QString& server);
    /// Logs in and lists the mailbox; the message count, or below 0.
    int authenticate(const QString& user, const QString& password, bool apop);
    /// Off: authenticate fetches nothing ahead (a login check).
    void setReadAhead(bool on) { m_readAhead = on; }

    int count() const { return m_count; }
    /// Size of message n as the server listed it (octets), -1 when unknown.
    qint64 listedSize(int n) const;
    QString uniqueId(int n) const;
    /// Message n moved out of the session (no copy kept), dot-unstuffed, CR LF.
    FetchResult fetch(int n);
    /// fetch(n) kept by the session until the next call; nothing on failure.
    const QByteArray* message(int n);
    /// Sends DELE n; its reply is checked when it arrives.
    bool remove(int n);
    /// QUIT after every outstanding reply; true when the server confirmed it.
    bool quit();

    bool isOpen() const;
    bool pipelining() const { return m_pipelining; }
    bool tls() const { return m_tls; }
    /// What CAPA listed (first words, upper case), and the server's certificate once in TLS.
    const QList<QByteArray>& capabilities() const { return m_capabilities; }
    QSslCertificate peerCertificate() const;
    /// The greeting carries the timestamp APOP needs.
    bool offersApop() const;
    int refusedDeletions() const { return m_refusedDeletions; }
    /// The last failure as a kind, with the server's words and numbers as details.
    NetError netError() const;

private:
    enum class Kind { Simple, Stat, List, Uidl, Retr, Dele, Quit };
    struct Pending {
        Kind kind;
        int n = 0;
        bool multiline = false;
    };
    struct Reply {
        bool ok = false;
        QByteArray line;
        QByteArray data;
        /// Octets of the multi-line block, counted even where it was not kept.
        qint64 size = -1;
    };
    /// A RETR reply waiting for fetch().
    struct Ready {
        FetchStatus status = FetchStatus::Failed;
        QByteArray bytes;
        QByteArray line;
        qint64 size = -1;
    };
    /// Dot-unstuffing in place: clean bytes end at w, bytes from r are unread.
    struct Unstuffer {
        qsizetype w = 0;
        qsizetype r = 0;
        bool lineStart = true;
    };
    enum class Block { Complete, Overlong, Broken };

    bool connectSocket(const Pop3Endpoint& endpoint);
    bool startTls(const QString& host);
    bool readGreeting();
    void readCapabilities();
    QByteArray apopCommand(const QString& user, const QString& password);
    bool failWith(NetError error);
    bool fail(NetErrorKind kind) { return failWith(netErrorHere(kind)); }
    /// A failure about message n (0: none) that quotes the server's line.
    bool failReply(NetErrorKind kind, QByteArrayView line, int n = 0);
    /// Nothing failed yet: a later "not connected" would hide the real cause.
    bool noFailureYet() const { return !m_netError.isError(); }
    NetError netErrorHere(NetErrorKind kind, const QString& detail = {}) const;
    NetError handshakeError() const;
    void rememberTls() const;
    bool sendListing();
    bool readListing(const Reply& stat);
    void takeStat(const Reply& stat);
    void takeListing(Kind kind, const QByteArray& data);
    /// The server broke the protocol: the connection is dropped.
    bool protocolError(NetError error);
    /// Most octets RETR n may bring before the message counts as TooBig.
    qint64 retrLimit(int n) const;
    bool overMaximum(int n) const;
    NetError tooBig(int n, qint64 size) const;

    bool send(const QByteArray& command, Kind kind, int n = 0, bool multiline = false);
    bool write(const QByteArray& bytes, bool now);
    bool flushOutgoing();
    bool inFlight(int n) const;
    bool readNextReply();
    void handleReply(const Pending& pending, Reply& reply);
    bool readStatusLine(QByteArray& line);
    /// The block after a +OK line, up to its terminator, unstuffed; over `limit`
    /// it is skipped (when skipOverlong, to a point) or refused.
    Block readBlock(QByteArray& data, qint64 limit, bool skipOverlong, qint64& octets);
    static qsizetype unstuff(char* p, qsizetype size, Unstuffer& u);
    bool waitReadable();
    bool readInto(QByteArray& buffer);
    void startReplyClock();
    bool keepsPace();
    bool cancelAsked() const;
    bool drain();
    bool command(const QByteArray& command, Reply& reply, bool multiline = false);
    void requestAhead(int n);
    /// Keeps RETRs for messages after n in flight, within the pipeline window.
    void topUp(int n);
    qint64 bytesAhead(int n) const;
    void dropConnection();
    enum class Event { Connected, Encrypted, ReadyRead };
    /// The socket's wait for `event`, or with serveEventsWhileWaiting an event loop
    /// that paints meanwhile; false when it did not come (m_waitTimedOut tells why).
    bool waitFor(Event event, int timeoutMs);
    bool eventCame(Event event) const;

    const NMailOptions& m_options;
    std::unique_ptr<QSslSocket> m_socket;
    bool m_waitTimedOut = false;
    Pop3Endpoint m_endpoint;
    NetError m_netError;
    bool m_readAhead = true;
    QByteArray m_in;
    /// Commands written but not yet handed to the socket.
    QByteArray m_outgoing;
    qsizetype m_pos = 0;

    QByteArray m_greeting;
    QList<QByteArray> m_capabilities;
    bool m_pipelining = false;
    bool m_tls = false;
    bool m_broken = false;

    std::deque<Pending> m_pending;
    /// Replies to the simple commands of the current exchange, in order.
    QList<Reply> m_simpleReplies;
    int m_count = 0;
    QList<qint64> m_sizes;
    QList<QByteArray> m_uids;
    std::map<int, Ready> m_ready;
    /// What message() handed out last.
    QByteArray m_current;
    int m_nextRetr = 1;
    int m_refusedDeletions = 0;
    QElapsedTimer m_replyClock;
    qint64 m_replyBytes = 0;
    bool m_cancelled = false;
    bool m_quitting = false;
    QDeadlineTimer m_drainDeadline;
};

} // namespace corvidan::transport
