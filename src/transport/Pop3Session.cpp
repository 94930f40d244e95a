#include "transport/Pop3Session.h"

#include "transport/TlsTrust.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QCryptographicHash>
#include <QEventLoop>
#include <QRegularExpression>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <cstring>

namespace corvidan::transport {

namespace {

constexpr quint16 kPop3Port = 110;
constexpr quint16 kPop3sPort = 995;
constexpr qsizetype kMaxStatusLine = 8 * 1024;
constexpr qint64 kMaxCapabilities = 64 * 1024;
/// A LIST or UIDL line: a number, a size or an id of at most 70 characters.
constexpr qsizetype kListLineCap = 128;
constexpr qint64 kMaxMessages = 1000000;
constexpr qint64 kListedSlack = 1 << 20;
constexpr qsizetype kCompactAfter = 1 << 20;
constexpr int kWaitSliceMs = 100;
constexpr int kDrainAfterCancelMs = 3000;

QString latin(QByteArrayView bytes) { return QString::fromLatin1(bytes).trimmed(); }

QByteArrayView head(QByteArrayView text, qsizetype n) { return text.first(std::min(n, text.size())); }

/// Decimal digits at `i` (advanced past them); nothing when there are none or
/// they would not fit 18 digits.
std::optional<qint64> parseNumber(QByteArrayView text, qsizetype& i)
{
    const qsizetype start = i;
    qint64 value = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
        if (i - start >= 18)
            return std::nullopt;
        value = value * 10 + (text[i] - '0');
        ++i;
    }
    if (i == start)
        return std::nullopt;
    return value;
}

} // namespace

std::optional<Pop3Endpoint> Pop3Endpoint::parse(const QString& server)
{
    QString text = server.trimmed();
    Pop3Endpoint endpoint;
    bool schemeGiven = true;
    if (text.startsWith(QStringLiteral("pop3s://"), Qt::CaseInsensitive)) {
        endpoint.implicitTls = true;
        endpoint.port = kPop3sPort;
        text = text.mid(8);
    } else if (text.startsWith(QStringLiteral("pop3+plain://"), Qt::CaseInsensitive)) {
        endpoint.plainAllowed = true;
        text = text.mid(13);
    } else if (text.startsWith(QStringLiteral("pop3://"), Qt::CaseInsensitive)) {
        text = text.mid(7);
    } else {
        schemeGiven = false;
    }
    while (text.endsWith(u'/'))
        text.chop(1);
    const QUrl url(QStringLiteral("pop3://") + text);
    if (!url.isValid() || url.host().isEmpty() || !url.path().isEmpty() || !url.userInfo().isEmpty())
        return std::nullopt;
    endpoint.host = url.host();
    if (url.port() > 0) {
        endpoint.port = static_cast<quint16>(url.port());
        if (!schemeGiven && endpoint.port == kPop3sPort)
            endpoint.implicitTls = true;
    }
    return endpoint;
}

Pop3Session::Pop3Session(const NMailOptions& options) : m_options(options) {}

Pop3Session::~Pop3Session()
{
    dropConnection();
}

bool Pop3Session::isOpen() const
{
    return m_socket && !m_broken && m_socket->state() == QAbstractSocket::ConnectedState;
}

bool Pop3Session::failReply(NetErrorKind kind, QByteArrayView line, int n)
{
    NetError error = netErrorHere(kind);
    error.serverReply = latin(line);
    error.message = n;
    return failWith(std::move(error));
}

void Pop3Session::dropConnection()
{
    if (m_socket) {
        m_socket->abort();
        m_socket.reset();
    }
    m_broken = true;
    m_pending.clear();
    m_outgoing.clear();
}

bool Pop3Session::open(const QString& server)
{
    const std::optional<Pop3Endpoint> endpoint = Pop3Endpoint::parse(server);
    if (!endpoint) {
        NetError error = netErrorHere(NetErrorKind::BadServerName);
        error.host = server.trimmed();
        return failWith(error);
    }
    m_endpoint = *endpoint;
    if (!connectSocket(*endpoint) || !readGreeting())
        return false;
    readCapabilities();
    if (m_broken)
        return false;
    if (!m_tls && !endpoint->plainAllowed) {
        if (m_capabilities.contains("STLS")) {
            if (!startTls(endpoint->host))
                return false;
            readCapabilities();
        } else if (TlsMemory(m_options.tlsMemoryFile).offeredBefore(MailProtocol::Pop3, m_endpoint.host, m_endpoint.port)) {
            // Whoever removed STLS may be reading along: not even APOP goes out.
            dropConnection();
            return failWith(netErrorHere(NetErrorKind::TlsDowngrade));
        }
    }
    if (m_tls)
        rememberTls();
    return !m_broken;
}

QSslCertificate Pop3Session::peerCertificate() const
{
    return m_socket && m_tls ? m_socket->peerCertificate() : QSslCertificate();
}

bool Pop3Session::offersApop() const
{
    static const QRegularExpression stamp(QStringLiteral("<[^<>\\s]+>"));
    return stamp.match(QString::fromLatin1(m_greeting)).hasMatch();
}

NetError Pop3Session::netError() const
{
    if (m_netError.isError())
        return m_netError;
    // A call that failed without a word: nothing to show but that it failed.
    return netErrorHere(NetErrorKind::Other);
}

bool Pop3Session::failWith(NetError error)
{
    m_netError = std::move(error);
    return false;
}

NetError Pop3Session::netErrorHere(NetErrorKind kind, const QString& detail) const
{
    NetError error;
    error.kind = kind;
    error.protocol = MailProtocol::Pop3;
    error.host = m_endpoint.host;
    error.port = m_endpoint.port;
    error.detail = detail;
    return error;
}

void Pop3Session::rememberTls() const
{
    TlsMemory(m_options.tlsMemoryFile).remember(MailProtocol::Pop3, m_endpoint.host, m_endpoint.port);
}

NetError Pop3Session::handshakeError() const
{
    NetError error = netErrorHere(NetErrorKind::TlsFailed);
    DescribeHandshakeFailure(*m_socket, m_waitTimedOut, error);
    return error;
}

bool Pop3Session::connectSocket(const Pop3Endpoint& endpoint)
{
    m_socket = std::make_unique<QSslSocket>();
    m_broken = false;
    NetError trustError = netErrorHere(NetErrorKind::None);
    const std::optional<QSslConfiguration> config = TrustConfiguration(m_options, trustError);
    if (!config)
        return failWith(trustError);
    m_socket->setSslConfiguration(*config);
    m_socket->setReadBufferSize(0);

    if (endpoint.implicitTls) {
        if (!QSslSocket::supportsSsl())
            return fail(NetErrorKind::TlsNotSupported);
        m_socket->connectToHostEncrypted(endpoint.host, endpoint.port);
    } else {
        m_socket->connectToHost(endpoint.host, endpoint.port);
    }
    if (!waitFor(Event::Connected, m_options.connectTimeoutMs)) {
        NetError error = netErrorHere(NetErrorKind::NoAnswer, m_socket->errorString());
        if (!m_waitTimedOut && m_socket->error() == QAbstractSocket::HostNotFoundError)
            error.kind = NetErrorKind::HostNotFound;
        else if (!m_waitTimedOut && m_socket->error() == QAbstractSocket::ConnectionRefusedError)
            error.kind = NetErrorKind::Refused;
        else if (m_waitTimedOut || m_socket->error() == QAbstractSocket::SocketTimeoutError)
            error.detail.clear();
        dropConnection();
        return failWith(error);
    }
    m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    if (endpoint.implicitTls && !waitFor(Event::Encrypted, m_options.connectTimeoutMs)) {
        const NetError error = handshakeError();
        dropConnection();
        return failWith(error);
    }
    m_tls = endpoint.implicitTls;
    return true;
}

bool Pop3Session::startTls(const QString& host)
{
    Reply reply;
    if (!command("STLS", reply))
        return false;
    if (!reply.ok) {
        dropConnection();
        NetError error = netErrorHere(NetErrorKind::TlsUnavailable);
        error.serverReply = latin(reply.line);
        return failWith(error);
    }
    // Nothing read before the handshake may be trusted afterwards.
    m_in.clear();
    m_pos = 0;
    m_socket->setPeerVerifyName(host);
    m_socket->startClientEncryption();
    if (!waitFor(Event::Encrypted, m_options.connectTimeoutMs)) {
        const NetError error = handshakeError();
        dropConnection();
        return failWith(error);
    }
    m_tls = true;
    return true;
}

bool Pop3Session::readGreeting()
{
    startReplyClock();
    // A port that speaks TLS first waits for our handshake and never greets.
    if (!m_tls && m_in.isEmpty() && m_socket->bytesAvailable() == 0
        && !waitFor(Event::ReadyRead, m_options.readTimeoutMs) && m_socket->bytesAvailable() == 0) {
        const bool timedOut = m_socket->state() == QAbstractSocket::ConnectedState;
        dropConnection();
        const bool tlsPort = m_endpoint.port == kPop3sPort;
        return failWith(netErrorHere(!timedOut    ? NetErrorKind::ConnectionLost
                                     : tlsPort ? NetErrorKind::TlsWherePlainExpected
                                               : NetErrorKind::Timeout));
    }
    QByteArray line;
    if (!readStatusLine(line))
        return false;
    if (!line.startsWith("+OK")) {
        dropConnection();
        // 0x15 0x03: a TLS alert, the answer of a TLS port to plain text.
        if (line.startsWith("\x15\x03") || line.startsWith("\x16\x03"))
            return failWith(netErrorHere(NetErrorKind::TlsWherePlainExpected));
        return failReply(NetErrorKind::GreetingRefused, line);
    }
    m_greeting = line;
    return true;
}

void Pop3Session::readCapabilities()
{
    Reply reply;
    m_capabilities.clear();
    m_pipelining = false;
    if (!command("CAPA", reply, true) || !reply.ok)
        return;
    for (const QByteArray& line : reply.data.split('\n')) {
        const QByteArray word = line.trimmed().split(' ').value(0).toUpper();
        if (!word.isEmpty())
            m_capabilities.append(word);
    }
    m_pipelining = m_capabilities.contains("PIPELINING");
}

int Pop3Session::authenticate(const QString& user, const QString& password, bool apop)
{
    if (!isOpen()) {
        if (noFailureYet())
            fail(NetErrorKind::NotConnected);
        return -1;
    }
    if (!apop && !m_tls && !m_endpoint.plainAllowed) {
        failWith(netErrorHere(NetErrorKind::TlsUnavailable));
        return -2;
    }
    QList<QByteArray> login;
    if (!apop) {
        login << "USER " + user.toUtf8() + "\r\n" << "PASS " + password.toUtf8() + "\r\n";
    } else if (const QByteArray command = apopCommand(user, password); !command.isEmpty()) {
        login << command;
    } else {
        return -2;
    }
    m_simpleReplies.clear();
    for (const QByteArray& command : login) {
        if (!send(command, Kind::Simple))
            return -1;
        // Without PIPELINING a refused USER ends the login before the password goes out.
        if (!m_pipelining && (!drain() || !m_simpleReplies.back().ok))
            break;
    }
    if (!drain() || m_broken)
        return -1;
    for (qsizetype i = 0; i < login.size(); ++i) {
        const Reply* reply = i < m_simpleReplies.size() ? &m_simpleReplies[i] : nullptr;
        if (reply && reply->ok)
            continue;
        NetError error = netErrorHere(NetErrorKind::LoginRefused);
        error.serverReply = reply ? latin(reply->line) : QString();
        if (apop)
            error.detail = QStringLiteral("APOP");
        else if (i == 0)
            error.detail = QStringLiteral("USER");
        failWith(error);
        return -2;
    }
    // Only after a login that worked: commands sent before it count as bad ones.
    if (!sendListing() || !drain())
        return -1;
    if (!readListing(m_simpleReplies.value(login.size())))
        return -3;
    if (m_readAhead && m_pipelining && m_count > 0)
        requestAhead(1);
    return m_count;
}

QByteArray Pop3Session::apopCommand(const QString& user, const QString& password)
{
    static const QRegularExpression stamp(QStringLiteral("<[^<>\\s]+>"));
    const QRegularExpressionMatch match = stamp.match(QString::fromLatin1(m_greeting));
    if (!match.hasMatch()) {
        fail(NetErrorKind::NoApopTimestamp);
        return {};
    }
    const QByteArray digest =
        QCryptographicHash::hash(match.captured(0).toLatin1() + password.toUtf8(), QCryptographicHash::Md5).toHex();
    return "APOP " + user.toUtf8() + ' ' + digest + "\r\n";
}

bool Pop3Session::sendListing()
{
    return send("STAT\r\n", Kind::Stat) && send("LIST\r\n", Kind::List) && send("UIDL\r\n", Kind::Uidl);
}

bool Pop3Session::readListing(const Reply& stat)
{
    // A listing that broke the rules has already said why and hung up.
    if (m_broken)
        return false;
    if (!stat.ok)
        return failReply(NetErrorKind::MailboxUnreadable, stat.line);
    return true;
}

bool Pop3Session::protocolError(NetError error)
{
    dropConnection();
    return failWith(std::move(error));
}

void Pop3Session::takeStat(const Reply& stat)
{
    if (!stat.ok)
        return;
    // "+OK count octets": the count sizes the tables below, so it is checked first.
    const QByteArrayView line(stat.line);
    qsizetype i = 3;
    while (i < line.size() && line[i] == ' ')
        ++i;
    const std::optional<qint64> count = parseNumber(line, i);
    if (!count || *count > kMaxMessages) {
        NetError error = netErrorHere(NetErrorKind::BadMessageCount);
        error.bound = kMaxMessages;
        error.serverReply = latin(head(line, 200));
        protocolError(std::move(error));
        return;
    }
    m_count = static_cast<int>(*count);
    m_sizes.fill(-1, m_count);
    m_uids.fill(QByteArray(), m_count);
}

void Pop3Session::takeListing(Kind kind, const QByteArray& data)
{
    const char* p = data.constData();
    const char* const end = p + data.size();
    while (p < end && !m_broken) {
        const char* nl = static_cast<const char*>(std::memchr(p, '\n', end - p));
        const char* lineEnd = nl ? nl : end;
        const QByteArrayView line(p, lineEnd - p);
        p = lineEnd + 1;
        if (line.size() > kListLineCap) {
            NetError error = netErrorHere(NetErrorKind::ListLineTooLong);
            error.serverReply = latin(head(line, 80));
            protocolError(std::move(error));
            return;
        }
        qsizetype i = 0;
        while (i < line.size() && line[i] == ' ')
            ++i;
        const std::optional<qint64> n = parseNumber(line, i);
        while (i < line.size() && line[i] == ' ')
            ++i;
        qsizetype tokenEnd = i;
        while (tokenEnd < line.size() && line[tokenEnd] != ' ' && line[tokenEnd] != '\r')
            ++tokenEnd;
        if (!n || tokenEnd == i)
            continue; // nothing usable, as before: an unknown size or id
        if (*n < 1 || *n > m_count) {
            NetError error = netErrorHere(NetErrorKind::ListNumberOutOfRange);
            error.amount = *n;
            error.bound = m_count;
            protocolError(std::move(error));
            return;
        }
        const QByteArrayView token = line.sliced(i, tokenEnd - i);
        if (kind == Kind::List) {
            qsizetype at = 0;
            m_sizes[*n - 1] = parseNumber(token, at).value_or(-1);
        } else {
            m_uids[*n - 1] = token.toByteArray();
        }
    }
}

qint64 Pop3Session::listedSize(int n) const
{
    return n >= 1 && n <= m_sizes.size() ? m_sizes[n - 1] : -1;
}

QString Pop3Session::uniqueId(int n) const
{
    return n >= 1 && n <= m_uids.size() ? QString::fromLatin1(m_uids[n - 1]) : QString();
}

qint64 Pop3Session::retrLimit(int n) const
{
    qint64 limit = std::max<qint64>(m_options.maxMessageBytes, 0);
    // The listed size counts octets as stored; line ends may grow on the way.
    if (const qint64 listed = listedSize(n); listed >= 0)
        limit = std::min(limit, listed + std::max(listed / 2, kListedSlack));
    return limit;
}

bool Pop3Session::overMaximum(int n) const
{
    return listedSize(n) > m_options.maxMessageBytes;
}

NetError Pop3Session::tooBig(int n, qint64 size) const
{
    NetError error = netErrorHere(NetErrorKind::MessageTooBig);
    error.message = n;
    error.amount = size;
    error.bound = m_options.maxMessageBytes;
    return error;
}

const QByteArray* Pop3Session::message(int n)
{
    m_current.clear();
    FetchResult result = fetch(n);
    if (result.status != FetchStatus::Ok) {
        m_netError = std::move(result.error);
        return nullptr;
    }
    m_current = std::move(result.bytes);
    return &m_current;
}

FetchResult Pop3Session::fetch(int n)
{
    FetchResult result;
    const auto ended = [&](FetchStatus status, qint64 size = -1) {
        result.status = status;
        result.error = m_netError;
        result.size = size;
        return result;
    };
    if (n < 1 || n > m_count) {
        NetError error = netErrorHere(NetErrorKind::NoSuchMessage);
        error.message = n;
        failWith(std::move(error));
        return ended(FetchStatus::Failed);
    }
    if (!m_quitting && cancelAsked()) {
        // Between messages: nothing is lost, QUIT can still be sent.
        fail(NetErrorKind::ReceiveCancelled);
        return ended(FetchStatus::Cancelled);
    }
    // Earlier messages are done with; drop them so memory stays bounded.
    m_ready.erase(m_ready.begin(), m_ready.lower_bound(n));
    if (overMaximum(n) && !m_ready.count(n) && !inFlight(n)) {
        topUp(n);
        failWith(tooBig(n, listedSize(n)));
        return ended(FetchStatus::TooBig, listedSize(n));
    }
    while (!m_ready.count(n)) {
        // Replies already received are served even when the server has hung up since.
        if (!inFlight(n)) {
            requestAhead(n);
            if (!inFlight(n)) {
                if (noFailureYet() || isOpen())
                    fail(NetErrorKind::NotConnected);
                return ended(FetchStatus::Failed);
            }
        }
        if (!readNextReply())
            return ended(m_cancelled ? FetchStatus::Cancelled : FetchStatus::Failed);
    }
    auto node = m_ready.extract(n);
    topUp(n);
    Ready& ready = node.mapped();
    switch (ready.status) {
    case FetchStatus::Ok:
        result.status = FetchStatus::Ok;
        result.bytes = std::move(ready.bytes);
        result.size = ready.size;
        return result;
    case FetchStatus::Refused:
        failReply(NetErrorKind::MessageRefused, ready.line, n);
        return ended(FetchStatus::Refused);
    default:
        failWith(tooBig(n, ready.size));
        return ended(FetchStatus::TooBig, ready.size);
    }
}

bool Pop3Session::remove(int n)
{
    if (n < 1 || n > m_count) {
        NetError error = netErrorHere(NetErrorKind::NoSuchMessage);
        error.message = n;
        return failWith(std::move(error));
    }
    m_ready.erase(n);
    m_current.clear();
    if (!send("DELE " + QByteArray::number(n) + "\r\n", Kind::Dele, n))
        return false;
    return m_pipelining || drain();
}

bool Pop3Session::quit()
{
    if (!isOpen())
        return false;
    // After a cancel the replies still owed (pipelined RETRs) are read for a
    // short while only; past that the connection goes without QUIT.
    m_quitting = cancelAsked();
    if (m_quitting)
        m_drainDeadline = QDeadlineTimer(std::min(m_options.readTimeoutMs, kDrainAfterCancelMs));
    const bool sent = send("QUIT\r\n", Kind::Quit) && drain();
    m_quitting = false;
    if (!sent)
        return false;
    const bool confirmed = !m_simpleReplies.empty() && m_simpleReplies.back().ok;
    if (!confirmed)
        failReply(NetErrorKind::QuitRefused, m_simpleReplies.empty() ? QByteArrayView() : m_simpleReplies.back().line);
    m_socket->disconnectFromHost();
    if (m_socket->state() != QAbstractSocket::UnconnectedState && !cancelAsked())
        m_socket->waitForDisconnected(1000);
    dropConnection();
    return confirmed;
}

bool Pop3Session::inFlight(int n) const
{
    for (const Pending& p : m_pending)
        if (p.kind == Kind::Retr && p.n == n)
            return true;
    return false;
}

qint64 Pop3Session::bytesAhead(int n) const
{
    qint64 total = 0;
    for (auto it = m_ready.upper_bound(n); it != m_ready.end(); ++it)
        total += it->second.bytes.size();
    for (const Pending& p : m_pending)
        if (p.kind == Kind::Retr && p.n > n)
            total += std::clamp<qint64>(listedSize(p.n), 0, retrLimit(p.n));
    return total;
}

void Pop3Session::requestAhead(int n)
{
    if (!overMaximum(n) && !m_ready.count(n) && !inFlight(n)) {
        if (!send("RETR " + QByteArray::number(n) + "\r\n", Kind::Retr, n))
            return;
    }
    topUp(n);
}

void Pop3Session::topUp(int n)
{
    m_nextRetr = std::max(m_nextRetr, n + 1);
    if (!m_pipelining || !isOpen())
        return;
    qint64 ahead = bytesAhead(n);
    // Refill in batches once half the window is free: fewer, larger writes.
    if (ahead > m_options.pipelineWindowBytes / 2)
        return;
    QByteArray batch;
    while (m_nextRetr <= m_count) {
        if (overMaximum(m_nextRetr)) { // never asked for; fetch() says TooBig
            ++m_nextRetr;
            continue;
        }
        const qint64 size = std::clamp<qint64>(listedSize(m_nextRetr), 0, retrLimit(m_nextRetr));
        if (ahead > 0 && ahead + size > m_options.pipelineWindowBytes)
            break;
        batch += "RETR " + QByteArray::number(m_nextRetr) + "\r\n";
        m_pending.push_back(Pending{Kind::Retr, m_nextRetr, false});
        ahead += size;
        ++m_nextRetr;
    }
    if (!batch.isEmpty())
        write(batch, true);
}

bool Pop3Session::write(const QByteArray& bytes, bool now)
{
    if (!isOpen()) {
        if (noFailureYet())
            fail(NetErrorKind::NotConnected);
        return false;
    }
    m_outgoing += bytes;
    return !now || flushOutgoing();
}

bool Pop3Session::flushOutgoing()
{
    if (m_outgoing.isEmpty() || !m_socket || m_broken)
        return true;
    if (m_socket->write(m_outgoing) != m_outgoing.size()) {
        const QString why = m_socket->errorString();
        dropConnection();
        return failWith(netErrorHere(NetErrorKind::SendFailed, why));
    }
    m_outgoing.clear();
    m_socket->flush();
    return true;
}

bool Pop3Session::send(const QByteArray& command, Kind kind, int n, bool multiline)
{
    // Without PIPELINING the server must see one command at a time.
    if (!m_pipelining && !drain())
        return false;
    // DELE rides along with the next command or read instead of costing the
    // server a wake-up of its own.
    if (!write(command, kind != Kind::Dele))
        return false;
    m_pending.push_back(Pending{kind, n, multiline});
    return true;
}

bool Pop3Session::command(const QByteArray& line, Reply& reply, bool multiline)
{
    if (!send(line + "\r\n", Kind::Simple, 0, multiline) || !drain())
        return false;
    if (m_simpleReplies.empty())
        return fail(NetErrorKind::NotConnected);
    reply = m_simpleReplies.back();
    return true;
}

bool Pop3Session::drain()
{
    while (!m_pending.empty())
        if (!readNextReply())
            return false;
    return true;
}

bool Pop3Session::readNextReply()
{
    if (m_pending.empty())
        return true;
    const Pending pending = m_pending.front();
    startReplyClock();
    Reply reply;
    if (!readStatusLine(reply.line))
        return false;
    reply.ok = reply.line.startsWith("+OK");
    if (!reply.ok && !reply.line.startsWith("-ERR")) {
        NetError error = netErrorHere(NetErrorKind::BadStatusLine);
        error.serverReply = latin(reply.line.left(200));
        return protocolError(std::move(error));
    }
    const bool multiline = pending.multiline || pending.kind == Kind::List || pending.kind == Kind::Uidl
                           || pending.kind == Kind::Retr;
    if (reply.ok && multiline) {
        qint64 limit = kMaxCapabilities;
        if (pending.kind == Kind::Retr)
            limit = retrLimit(pending.n);
        else if (pending.kind == Kind::List || pending.kind == Kind::Uidl)
            limit = (qint64(m_count) + 1) * kListLineCap;
        const Block block = readBlock(reply.data, limit, pending.kind == Kind::Retr, reply.size);
        if (block == Block::Broken)
            return false;
        if (block == Block::Overlong) {
            if (pending.kind != Kind::Retr) {
                NetError error = netErrorHere(NetErrorKind::ReplyTooLong);
                error.bound = limit;
                return protocolError(std::move(error));
            }
            // Too much even to skip: this message is TooBig, the session ends.
            m_ready[pending.n] = Ready{FetchStatus::TooBig, {}, {}, reply.size};
            dropConnection();
            failWith(tooBig(pending.n, reply.size));
            return true;
        }
    }
    m_pending.pop_front();
    handleReply(pending, reply);
    return true;
}

void Pop3Session::handleReply(const Pending& pending, Reply& reply)
{
    switch (pending.kind) {
    case Kind::Stat:
        takeStat(reply);
        m_simpleReplies.push_back(std::move(reply));
        break;
    case Kind::Simple:
    case Kind::Quit:
        m_simpleReplies.push_back(std::move(reply));
        break;
    case Kind::List:
    case Kind::Uidl:
        if (reply.ok)
            takeListing(pending.kind, reply.data);
        break;
    case Kind::Retr:
        if (!reply.ok)
            m_ready[pending.n] = Ready{FetchStatus::Refused, {}, std::move(reply.line), -1};
        else if (reply.size > retrLimit(pending.n))
            m_ready[pending.n] = Ready{FetchStatus::TooBig, {}, {}, reply.size};
        else
            m_ready[pending.n] = Ready{FetchStatus::Ok, std::move(reply.data), {}, reply.size};
        break;
    case Kind::Dele:
        if (!reply.ok) {
            ++m_refusedDeletions;
            failReply(NetErrorKind::DeletionRefused, reply.line, pending.n);
        }
        break;
    }
}

bool Pop3Session::cancelAsked() const
{
    if (m_quitting)
        return m_drainDeadline.hasExpired();
    return m_options.cancelled && m_options.cancelled();
}

bool Pop3Session::eventCame(Event event) const
{
    switch (event) {
    case Event::Connected:
        return m_socket->state() == QAbstractSocket::ConnectedState;
    case Event::Encrypted:
        return m_socket->isEncrypted();
    case Event::ReadyRead:
        return m_socket->bytesAvailable() > 0;
    }
    return false;
}

bool Pop3Session::waitFor(Event event, int timeoutMs)
{
    m_waitTimedOut = false;
    // Reads are sliced by the caller; a connect or a handshake is sliced here
    // when someone may cancel it, which takes the event loop (the socket's own
    // wait for a connection gives up the attempt when it times out).
    const bool sliced = event != Event::ReadyRead && m_options.cancelled && QCoreApplication::instance();
    if ((!m_options.serveEventsWhileWaiting && !sliced) || !QCoreApplication::instance()) {
        switch (event) {
        case Event::Connected:
            return m_socket->waitForConnected(timeoutMs);
        case Event::Encrypted:
            return m_socket->waitForEncrypted(timeoutMs);
        case Event::ReadyRead:
            return m_socket->waitForReadyRead(timeoutMs);
        }
    }
    if (eventCame(event))
        return true;
    QEventLoop loop;
    QSslSocket* socket = m_socket.get();
    const auto check = [&] {
        if (eventCame(event) || socket->state() == QAbstractSocket::UnconnectedState)
            loop.quit();
    };
    QObject::connect(socket, &QAbstractSocket::connected, &loop, check);
    QObject::connect(socket, &QSslSocket::encrypted, &loop, check);
    QObject::connect(socket, &QIODevice::readyRead, &loop, check);
    QObject::connect(socket, &QAbstractSocket::disconnected, &loop, &QEventLoop::quit);
    QObject::connect(socket, &QAbstractSocket::errorOccurred, &loop, &QEventLoop::quit);
    QDeadlineTimer deadline(timeoutMs);
    QTimer slice;
    QObject::connect(&slice, &QTimer::timeout, &loop, [&] {
        if (deadline.hasExpired() || cancelAsked()) {
            m_waitTimedOut = deadline.hasExpired();
            loop.quit();
        }
    });
    slice.start(std::min(timeoutMs, kWaitSliceMs));
    // Painting and timers only: a click now could start a second receive.
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    if (eventCame(event))
        return true;
    if (event == Event::Connected && socket->state() != QAbstractSocket::UnconnectedState)
        socket->abort(); // as the blocking wait does: no connection left half made
    return false;
}

void Pop3Session::startReplyClock()
{
    m_replyClock.start();
    m_replyBytes = 0;
}

bool Pop3Session::keepsPace()
{
    const qint64 window = std::max(m_options.readTimeoutMs, 1);
    if (m_replyClock.elapsed() < window)
        return true;
    // Judged per window, not per byte: a byte now and then proves nothing.
    const qint64 needed = std::max<qint64>(m_options.minBytesPerSecond * window / 1000, 1);
    if (m_replyBytes >= needed) {
        m_replyClock.start();
        m_replyBytes = 0;
        return true;
    }
    const qint64 got = m_replyBytes;
    dropConnection();
    if (got == 0)
        return fail(NetErrorKind::NoReply);
    NetError error = netErrorHere(NetErrorKind::TooSlow);
    error.amount = got;
    error.bound = window;
    return failWith(std::move(error));
}

bool Pop3Session::waitReadable()
{
    if (!m_socket || m_broken) {
        if (noFailureYet())
            fail(NetErrorKind::NotConnected);
        return false;
    }
    if (!flushOutgoing())
        return false;
    while (m_socket->bytesAvailable() == 0) {
        if (cancelAsked()) {
            const bool quitting = m_quitting;
            m_cancelled = !quitting;
            dropConnection();
            return fail(quitting ? NetErrorKind::QuitAbandoned : NetErrorKind::ReceiveCancelled);
        }
        if (!keepsPace())
            return false;
        const qint64 left = std::max<qint64>(m_options.readTimeoutMs, 1) - m_replyClock.elapsed();
        const int slice = static_cast<int>(std::clamp<qint64>(left, 1, kWaitSliceMs));
        if (!waitFor(Event::ReadyRead, slice) && m_socket->bytesAvailable() == 0
            && m_socket->state() != QAbstractSocket::ConnectedState) {
            dropConnection();
            return fail(NetErrorKind::Disconnected);
        }
    }
    return true;
}

bool Pop3Session::readInto(QByteArray& buffer)
{
    const qint64 available = m_socket->bytesAvailable();
    const qsizetype old = buffer.size();
    buffer.resize(old + available);
    const qint64 got = m_socket->read(buffer.data() + old, available);
    buffer.resize(old + std::max<qint64>(got, 0));
    if (got <= 0) {
        const QString why = m_socket->errorString();
        dropConnection();
        return failWith(netErrorHere(NetErrorKind::ReadFailed, why));
    }
    m_replyBytes += got;
    return keepsPace();
}

bool Pop3Session::readStatusLine(QByteArray& line)
{
    if (m_pos > 0 && (m_pos > kCompactAfter || m_pos == m_in.size())) {
        m_in.remove(0, m_pos);
        m_pos = 0;
    }
    qsizetype scanned = m_pos;
    const char* lf = nullptr;
    while (!(lf = static_cast<const char*>(std::memchr(m_in.constData() + scanned, '\n', m_in.size() - scanned)))) {
        scanned = m_in.size();
        if (m_in.size() - m_pos > kMaxStatusLine)
            return protocolError(netErrorHere(NetErrorKind::StatusLineTooLong));
        if (m_pos > 0) {
            m_in.remove(0, m_pos);
            scanned -= m_pos;
            m_pos = 0;
        }
        if (!waitReadable() || !readInto(m_in))
            return false;
    }
    const qsizetype at = lf - m_in.constData();
    if (at - m_pos > kMaxStatusLine)
        return protocolError(netErrorHere(NetErrorKind::StatusLineTooLong));
    line = m_in.mid(m_pos, at - m_pos);
    if (line.endsWith('\r'))
        line.chop(1);
    m_pos = at + 1;
    return true;
}

namespace {

/// The first LF at or after `from` that a dot follows. Sought by its dot: dots are
/// rare in mail (base64 has none) where line ends are everywhere.
const char* lineEndBeforeDot(const char* p, qsizetype from, qsizetype size)
{
    for (qsizetype at = from + 1; at < size;) {
        const void* dot = std::memchr(p + at, '.', size - at);
        if (!dot)
            return nullptr;
        const qsizetype d = static_cast<const char*>(dot) - p;
        if (p[d - 1] == '\n')
            return p + d - 1;
        at = d + 1;
    }
    return nullptr;
}

} // namespace

qsizetype Pop3Session::unstuff(char* p, qsizetype size, Unstuffer& u)
{
    // Moves the clean bytes of [u.r, to) down to u.w; nothing moves until the
    // first stuffed dot.
    const auto keep = [&](qsizetype to) {
        if (u.w != u.r && to > u.r)
            std::memmove(p + u.w, p + u.r, to - u.r);
        u.w += to - u.r;
        u.r = to;
    };
    while (true) {
        if (!u.lineStart) {
            const char* hit = u.r < size ? lineEndBeforeDot(p, u.r, size) : nullptr;
            if (!hit) {
                keep(size);
                // A last LF may be followed by a dot in the next read.
                u.lineStart = size > 0 && p[size - 1] == '\n';
                return -1;
            }
            keep(hit - p + 1);
            u.lineStart = true;
        }
        if (u.r >= size)
            return -1;
        if (p[u.r] != '.') {
            u.lineStart = false;
            continue;
        }
        // A dot at a line start: the terminator ".CRLF" (or ".LF"), or stuffing.
        if (u.r + 1 >= size)
            return -1;
        if (p[u.r + 1] == '\n')
            return u.r + 2;
        if (p[u.r + 1] == '\r') {
            if (u.r + 2 >= size)
                return -1;
            if (p[u.r + 2] == '\n')
                return u.r + 3;
        }
        ++u.r;
        u.lineStart = false;
    }
}

Pop3Session::Block Pop3Session::readBlock(QByteArray& data, qint64 limit, bool skipOverlong, qint64& octets)
{
    data.clear();
    octets = 0;
    // First within what is buffered: most replies of a pipelined batch are there whole.
    Unstuffer u{m_pos, m_pos, true};
    qsizetype end = unstuff(m_in.data(), m_in.size(), u);
    if (end >= 0) {
        octets = u.w - m_pos;
        if (octets <= limit)
            data = QByteArray(m_in.constData() + m_pos, octets);
        else if (!skipOverlong)
            return Block::Overlong;
        m_pos = end;
        return Block::Complete;
    }
    // The rest of the buffer belongs to this block: it becomes the block's own
    // buffer, fed straight from the socket and unstuffed in place, so the
    // message is held once.
    data = std::move(m_in);
    m_in = QByteArray();
    if (m_pos > 0) {
        data.remove(0, m_pos);
        u.w -= m_pos;
        u.r -= m_pos;
        m_pos = 0;
    }
    qint64 skipped = 0;
    while (true) {
        if (skipped + u.w > limit) {
            // Skipped to its end so the session stays usable, but only so far.
            if (!skipOverlong || skipped + u.w > limit + std::max(limit, kListedSlack)) {
                octets = skipped + u.w;
                data = QByteArray();
                return Block::Overlong;
            }
            skipped += u.w;
            data = QByteArray(data.constData() + u.r, data.size() - u.r);
            u.w = u.r = 0;
        }
        if (!waitReadable() || !readInto(data))
            return Block::Broken;
        end = unstuff(data.data(), data.size(), u);
        if (end < 0)
            continue;
        m_in = QByteArray(data.constData() + end, data.size() - end);
        octets = skipped + u.w;
        if (octets > limit) {
            data = QByteArray();
            if (!skipOverlong)
                return Block::Overlong;
            return Block::Complete;
        }
        data.truncate(u.w);
        if (data.capacity() - data.size() > kCompactAfter)
            data.squeeze();
        return Block::Complete;
    }
}

} // namespace corvidan::transport
