#include "transport/Pop3Session.h"

#include "transport/NetErrorText.h"
#include "transport/TlsTrust.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QEventLoop>
#include <QRegularExpression>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QTimer>
#include <QUrl>

namespace corvidan::transport {

namespace {

constexpr quint16 kPop3Port = 110;
constexpr quint16 kPop3sPort = 995;
constexpr qsizetype kMaxStatusLine = 64 * 1024;
constexpr qsizetype kCompactAfter = 1 << 20;

QString latin(QByteArrayView bytes) { return QString::fromLatin1(bytes).trimmed(); }

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

bool Pop3Session::fail(const QString& text)
{
    m_error = text;
    return false;
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
    m_host = endpoint->host + u':' + QString::number(endpoint->port);
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
    // Errors of the reading side carry only their text.
    if (m_netError.isError() && NetErrorText(m_netError) == m_error)
        return m_netError;
    return NetError{NetErrorKind::Other, MailProtocol::Pop3, m_endpoint.host, m_endpoint.port, {}, {}, {}, m_error};
}

bool Pop3Session::failWith(NetError error)
{
    m_netError = std::move(error);
    return fail(NetErrorText(m_netError));
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
            return fail(QStringLiteral("TLSを利用できません (") + m_host + u')');
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
        return fail(QStringLiteral("POP3サーバーが接続を拒否しました: ") + latin(line));
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
        if (m_error.isEmpty())
            fail(QStringLiteral("POP3サーバーに接続されていません"));
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
        fail(QStringLiteral("APOP認証できません: サーバーがAPOP用のタイムスタンプを送っていません (") + m_host + u')');
        return {};
    }
    const QByteArray digest =
        QCryptographicHash::hash(match.captured(0).toLatin1() + password.toUtf8(), QCryptographicHash::Md5).toHex();
    return "APOP " + user.toUtf8() + ' ' + digest + "\r\n";
}

bool Pop3Session::sendListing()
{
    return send("STAT\r\n", Kind::Simple) && send("LIST\r\n", Kind::List) && send("UIDL\r\n", Kind::Uidl);
}

bool Pop3Session::readListing(const Reply& stat)
{
    if (!stat.ok)
        return fail(QStringLiteral("メールボックスを確認できません: ") + latin(stat.line));
    const QList<QByteArray> words = stat.line.split(' ');
    bool ok = false;
    const int statCount = words.value(1).toInt(&ok);
    if (!ok || statCount < 0)
        return fail(QStringLiteral("STATの応答が正しくありません: ") + latin(stat.line));
    m_count = statCount;
    m_sizes.resize(m_count, -1);
    m_uids.resize(m_count);
    return true;
}

qint64 Pop3Session::listedSize(int n) const
{
    return n >= 1 && n <= m_sizes.size() ? m_sizes[n - 1] : -1;
}

QString Pop3Session::uniqueId(int n) const
{
    return n >= 1 && n <= m_uids.size() ? QString::fromLatin1(m_uids[n - 1]) : QString();
}

const QByteArray* Pop3Session::message(int n)
{
    if (n < 1 || n > m_count) {
        fail(QStringLiteral("メッセージ番号が範囲外です: ") + QString::number(n));
        return nullptr;
    }
    // Earlier messages are done with; drop them so memory stays bounded.
    m_messages.erase(m_messages.begin(), m_messages.lower_bound(n));
    while (!m_messages.count(n)) {
        if (const auto refused = m_failedRetr.find(n); refused != m_failedRetr.end()) {
            fail(QStringLiteral("メッセージ ") + QString::number(n) + QStringLiteral(" を取得できません: ")
                 + latin(refused->second));
            m_failedRetr.erase(refused);
            return nullptr;
        }
        // Replies already received are served even when the server has hung up since.
        if (!inFlight(n)) {
            requestAhead(n);
            if (!inFlight(n)) {
                if (m_error.isEmpty())
                    fail(QStringLiteral("POP3サーバーに接続されていません"));
                return nullptr;
            }
        }
        if (!readNextReply())
            return nullptr;
    }
    requestAhead(n);
    return &m_messages[n];
}

bool Pop3Session::remove(int n)
{
    if (n < 1 || n > m_count)
        return fail(QStringLiteral("メッセージ番号が範囲外です: ") + QString::number(n));
    m_messages.erase(n);
    if (!send("DELE " + QByteArray::number(n) + "\r\n", Kind::Dele, n))
        return false;
    return m_pipelining || drain();
}

bool Pop3Session::quit()
{
    if (!isOpen())
        return false;
    if (!send("QUIT\r\n", Kind::Quit) || !drain())
        return false;
    const bool confirmed = !m_simpleReplies.empty() && m_simpleReplies.back().ok;
    if (!confirmed)
        fail(QStringLiteral("QUITを拒否されました: ")
             + (m_simpleReplies.empty() ? QString() : latin(m_simpleReplies.back().line)));
    m_socket->disconnectFromHost();
    if (m_socket->state() != QAbstractSocket::UnconnectedState)
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
    for (auto it = m_messages.upper_bound(n); it != m_messages.end(); ++it)
        total += it->second.size();
    for (const Pending& p : m_pending)
        if (p.kind == Kind::Retr && p.n > n)
            total += std::max<qint64>(listedSize(p.n), 0);
    return total;
}

void Pop3Session::requestAhead(int n)
{
    if (!m_messages.count(n) && !m_failedRetr.count(n) && !inFlight(n)) {
        if (!send("RETR " + QByteArray::number(n) + "\r\n", Kind::Retr, n))
            return;
    }
    m_nextRetr = std::max(m_nextRetr, n + 1);
    if (!m_pipelining)
        return;
    qint64 ahead = bytesAhead(n);
    // Refill in batches once half the window is free: fewer, larger writes.
    if (ahead > m_options.pipelineWindowBytes / 2)
        return;
    QByteArray batch;
    while (m_nextRetr <= m_count) {
        const qint64 size = std::max<qint64>(listedSize(m_nextRetr), 0);
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
        if (m_error.isEmpty())
            fail(QStringLiteral("POP3サーバーに接続されていません"));
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
        return fail(QStringLiteral("POP3サーバーへ送信できません (") + m_host + QStringLiteral("): ") + why);
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
    Reply reply;
    if (!readStatusLine(reply.line))
        return false;
    reply.ok = reply.line.startsWith("+OK");
    if (!reply.ok && !reply.line.startsWith("-ERR")) {
        dropConnection();
        return fail(QStringLiteral("POP3サーバーの応答が正しくありません: ") + latin(reply.line.left(200)));
    }
    const bool multiline = pending.multiline || pending.kind == Kind::List || pending.kind == Kind::Uidl
                           || pending.kind == Kind::Retr;
    if (reply.ok && multiline && !readMultiline(reply.data))
        return false;
    m_pending.pop_front();
    handleReply(pending, reply);
    return true;
}

void Pop3Session::handleReply(const Pending& pending, Reply& reply)
{
    switch (pending.kind) {
    case Kind::Simple:
    case Kind::Quit:
        m_simpleReplies.push_back(std::move(reply));
        break;
    case Kind::List:
    case Kind::Uidl:
        if (!reply.ok)
            break;
        for (const QByteArray& line : reply.data.split('\n')) {
            const QList<QByteArray> words = line.trimmed().split(' ');
            bool ok = false;
            const int n = words.value(0).toInt(&ok);
            if (!ok || n < 1 || words.size() < 2)
                continue;
            if (n > m_sizes.size()) {
                m_sizes.resize(n, -1);
                m_uids.resize(n);
            }
            if (pending.kind == Kind::List)
                m_sizes[n - 1] = words[1].toLongLong();
            else
                m_uids[n - 1] = words[1];
        }
        break;
    case Kind::Retr:
        if (reply.ok)
            m_messages[pending.n] = std::move(reply.data);
        else
            m_failedRetr[pending.n] = reply.line;
        break;
    case Kind::Dele:
        if (!reply.ok) {
            ++m_refusedDeletions;
            fail(QStringLiteral("メッセージ ") + QString::number(pending.n) + QStringLiteral(" を削除できません: ")
                 + latin(reply.line));
        }
        break;
    }
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
    if (!m_options.serveEventsWhileWaiting || !QCoreApplication::instance()) {
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
    QTimer timer;
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, &loop, [&] {
        m_waitTimedOut = true;
        loop.quit();
    });
    timer.start(timeoutMs);
    // Painting and timers only: a click now could start a second receive.
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    if (eventCame(event))
        return true;
    if (m_waitTimedOut && event == Event::Connected)
        socket->abort(); // as the blocking wait does: no connection left half made
    return false;
}

bool Pop3Session::fill()
{
    if (!m_socket || m_broken || !flushOutgoing())
        return false;
    if (m_socket->bytesAvailable() == 0 && !waitFor(Event::ReadyRead, m_options.readTimeoutMs)
        && m_socket->bytesAvailable() == 0) {
        const bool timedOut = m_socket->state() == QAbstractSocket::ConnectedState;
        dropConnection();
        return fail(timedOut ? QStringLiteral("POP3サーバーから応答がありません (タイムアウト, ") + m_host + u')'
                             : QStringLiteral("POP3サーバーとの接続が切れました (") + m_host + u')');
    }
    m_in += m_socket->readAll();
    return true;
}

bool Pop3Session::readStatusLine(QByteArray& line)
{
    if (m_pos > kCompactAfter || (m_pos > 0 && m_pos == m_in.size())) {
        m_in.remove(0, m_pos);
        m_pos = 0;
    }
    qsizetype lf;
    while ((lf = m_in.indexOf('\n', m_pos)) < 0) {
        if (m_in.size() - m_pos > kMaxStatusLine) {
            dropConnection();
            return fail(QStringLiteral("POP3サーバーの応答が長すぎます (") + m_host + u')');
        }
        if (!fill())
            return false;
    }
    line = m_in.mid(m_pos, lf - m_pos);
    if (line.endsWith('\r'))
        line.chop(1);
    m_pos = lf + 1;
    return true;
}

bool Pop3Session::readMultiline(QByteArray& data)
{
    // The block starts right after the status line's LF, so every line start,
    // the first included, is found as "\n." from there.
    const qsizetype start = m_pos;
    QList<qsizetype> stuffed;
    qsizetype scan = start - 1;
    while (true) {
        const qsizetype idx = m_in.indexOf("\n.", scan);
        if (idx < 0 || idx + 2 >= m_in.size() || (m_in[idx + 2] == '\r' && idx + 3 >= m_in.size())) {
            scan = idx < 0 ? std::max(start - 1, m_in.size() - 1) : idx;
            if (!fill())
                return false;
            continue;
        }
        const char after = m_in[idx + 2];
        qsizetype end = -1;
        if (after == '\n')
            end = idx + 3;
        else if (after == '\r' && m_in[idx + 3] == '\n')
            end = idx + 4;
        if (end < 0) {
            stuffed.append(idx + 1);
            scan = idx + 2;
            continue;
        }
        data.clear();
        data.reserve(idx + 1 - start);
        qsizetype from = start;
        for (qsizetype dot : stuffed) {
            data.append(m_in.constData() + from, dot - from);
            from = dot + 1;
        }
        data.append(m_in.constData() + from, idx + 1 - from);
        m_pos = end;
        return true;
    }
}

} // namespace corvidan::transport
