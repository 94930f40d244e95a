#include "FakePop3Server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <utility>

namespace corvidan::test {

namespace {

bool sendAll(int fd, const QByteArray& bytes)
{
    qsizetype sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.constData() + sent, static_cast<size_t>(bytes.size() - sent), MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        sent += n;
    }
    return true;
}

QByteArray stuffed(const QByteArray& message)
{
    QByteArray out;
    for (const QByteArray& line : message.split('\n')) {
        if (line.startsWith('.'))
            out += '.';
        out += line + '\n';
    }
    out.chop(1);
    if (!out.endsWith("\r\n"))
        out += "\r\n";
    return out + ".\r\n";
}

void pause(int ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

int listenOnLoopback(quint16& port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    ::listen(fd, 4);
    socklen_t len = sizeof addr;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    port = ntohs(addr.sin_port);
    return fd;
}

} // namespace

FakePop3Server::FakePop3Server(Config config) : m_config(std::move(config))
{
    for (qsizetype i = 0; i < m_config.messages.size(); ++i)
        m_mailbox.append({m_config.uids.value(i, "uid-" + QByteArray::number(i + 1)), m_config.messages[i]});
    m_listenFd = listenOnLoopback(m_port);
    m_thread = std::thread([this] { run(); });
}

FakePop3Server::FakePop3Server(const QList<Message>& mailbox) : FakePop3Server([&] {
    Config config;
    for (const Message& m : mailbox) {
        config.messages << m.bytes;
        config.uids << m.uid;
    }
    return config;
}())
{
}

FakePop3Server::~FakePop3Server()
{
    m_stop = true;
    m_thread.join();
    ::close(m_listenFd);
}

void FakePop3Server::nextSession(Faults faults)
{
    std::lock_guard lock(m_mutex);
    m_next = std::move(faults);
}

void FakePop3Server::nextSession(const std::function<void(Faults&)>& script)
{
    Faults faults;
    script(faults);
    nextSession(std::move(faults));
}

QString FakePop3Server::server() const
{
    // It speaks no TLS: the tests of its faults send their made-up password in clear on purpose.
    return QStringLiteral("pop3+plain://127.0.0.1:") + QString::number(m_port);
}

QList<QByteArray> FakePop3Server::commands() const
{
    std::lock_guard lock(m_mutex);
    return m_commands;
}

QList<int> FakePop3Server::applied() const
{
    std::lock_guard lock(m_mutex);
    return m_applied;
}

QList<int> FakePop3Server::marked() const
{
    std::lock_guard lock(m_mutex);
    return m_marked;
}

QList<FakePop3Server::Message> FakePop3Server::mailbox() const
{
    std::lock_guard lock(m_mutex);
    return m_mailbox;
}

void FakePop3Server::waitIdle() const
{
    for (int i = 0; i < 200 && m_busy; ++i)
        pause(25);
}

/// Hangs up the way a server process that exits does when its peer behaves:
/// FIN after the last reply, what the client still sends is read and ignored,
/// so nothing already sent is reset away.
static void hangUp(int fd, const std::atomic<bool>& stop)
{
    ::shutdown(fd, SHUT_WR);
    pollfd readable{fd, POLLIN, 0};
    char buffer[4096];
    for (int i = 0; i < 40 && !stop && ::poll(&readable, 1, 50) >= 0;) {
        if (!(readable.revents & POLLIN)) {
            ++i;
            continue;
        }
        if (::recv(fd, buffer, sizeof buffer, 0) <= 0)
            return;
    }
}

bool FakePop3Server::stream(int fd, const Faults& faults)
{
    const QByteArray endless = std::exchange(m_endless, {});
    const QByteArray drip = std::exchange(m_drip, {});
    while (!endless.isEmpty() && !m_stop)
        if (!sendAll(fd, endless))
            return false;
    const qsizetype piece = std::max(faults.dripBytes, 1);
    for (qsizetype at = 0; at < drip.size() && !m_stop; at += piece) {
        pause(faults.dripMs);
        if (!sendAll(fd, drip.mid(at, piece)))
            return false;
    }
    return true;
}

void FakePop3Server::run()
{
    pollfd listening{m_listenFd, POLLIN, 0};
    while (!m_stop) {
        if (::poll(&listening, 1, 50) <= 0)
            continue;
        const int fd = ::accept(m_listenFd, nullptr, nullptr);
        if (fd < 0)
            continue;
        Faults faults;
        {
            std::lock_guard lock(m_mutex);
            faults = m_next ? *std::exchange(m_next, std::nullopt) : static_cast<const Faults&>(m_config);
            m_deleted = QList<bool>(m_mailbox.size(), false);
            m_marked.clear();
        }
        ++m_sessions;
        m_busy = true;
        serve(fd, faults);
        ::close(fd);
        m_busy = false;
    }
}

void FakePop3Server::serve(int fd, const Faults& faults)
{
    if (!m_config.greeting.isEmpty() && !sendAll(fd, m_config.greeting + "\r\n"))
        return;
    bool hang = m_config.greeting.isEmpty();
    bool slow = faults.slowMs > 0 && faults.slowFrom.isEmpty();
    QByteArray in;
    pollfd readable{fd, POLLIN, 0};
    while (!m_stop) {
        qsizetype lf;
        while (!hang && (lf = in.indexOf('\n')) >= 0) {
            const QByteArray line = in.left(lf).trimmed();
            in.remove(0, lf + 1);
            {
                std::lock_guard lock(m_mutex);
                m_commands << line;
            }
            if (!m_config.pipelining && !in.isEmpty())
                m_unexpectedPipelining = true;
            if (!m_config.pipelining) {
                // Give a pipelining client the chance to show itself.
                pollfd early{fd, POLLIN, 0};
                if (::poll(&early, 1, 5) > 0)
                    m_unexpectedPipelining = true;
            }
            slow = slow || (faults.slowMs > 0 && line.split(' ').value(0).toUpper() == faults.slowFrom);
            bool close = false;
            const QByteArray out = reply(line, faults, close, hang);
            if (slow)
                pause(faults.slowMs);
            if (!sendAll(fd, out) || !stream(fd, faults))
                return;
            if (close) {
                hangUp(fd, m_stop);
                return;
            }
        }
        if (::poll(&readable, 1, 50) <= 0)
            continue;
        char buffer[65536];
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0)
            return;
        if (!hang)
            in.append(buffer, n);
    }
}

QByteArray FakePop3Server::reply(const QByteArray& line, const Faults& faults, bool& close, bool& hang)
{
    const QList<QByteArray> words = line.split(' ');
    const QByteArray verb = words.value(0).toUpper();
    const int n = words.value(1).toInt();
    std::lock_guard lock(m_mutex);
    const int count = static_cast<int>(m_mailbox.size());
    const bool listed = n >= 1 && n <= count && !m_deleted[n - 1];
    if (!faults.hangAfter.isEmpty() && verb == faults.hangAfter) {
        hang = true;
        return {};
    }
    if (!faults.garbageAfter.isEmpty() && verb == faults.garbageAfter)
        return "HTTP/1.1 400 Bad Request\r\n";
    if (verb == "CAPA" && faults.endlessCapa) {
        m_endless = QByteArray("X-PADDING-CAPABILITY\r\n").repeated(100);
        return "+OK\r\n";
    }
    if (verb == "CAPA")
        return QByteArray("+OK\r\nUSER\r\nUIDL\r\n") + (m_config.pipelining ? "PIPELINING\r\n" : "") + ".\r\n";
    if (verb == "USER" || verb == "PASS" || verb == "APOP" || verb == "NOOP")
        return "+OK\r\n";
    if (verb == "RSET") {
        m_deleted.fill(false);
        m_marked.clear();
        return "+OK\r\n";
    }
    if (verb == "STAT" && !faults.statLine.isEmpty())
        return faults.statLine + "\r\n";
    if ((verb == "LIST" && !faults.listLines.isEmpty()) || (verb == "UIDL" && !faults.uidlLines.isEmpty()))
        return "+OK\r\n" + (verb == "LIST" ? faults.listLines : faults.uidlLines) + ".\r\n";
    if (verb == "STAT") {
        qsizetype total = 0;
        int left = 0;
        for (int i = 0; i < count; ++i)
            if (!m_deleted[i]) {
                total += m_mailbox[i].bytes.size();
                ++left;
            }
        return "+OK " + QByteArray::number(left) + ' ' + QByteArray::number(total) + "\r\n";
    }
    if (verb == "LIST" || verb == "UIDL") {
        QByteArray out = "+OK\r\n";
        for (int i = 1; i <= count; ++i)
            if (!m_deleted[i - 1])
                out += QByteArray::number(i) + ' '
                       + (verb == "LIST" ? QByteArray::number(m_mailbox[i - 1].bytes.size()) : m_mailbox[i - 1].uid)
                       + "\r\n";
        return out + ".\r\n";
    }
    if (verb == "RETR" && listed) {
        if (n == faults.refuseRetr)
            return "-ERR message is unavailable\r\n";
        if (n == faults.endlessRetr) {
            m_endless = QByteArray("endless line of text\r\n").repeated(1000);
            return "+OK\r\nSubject: endless\r\n\r\n";
        }
        const QByteArray body = stuffed(m_mailbox[n - 1].bytes);
        const QByteArray ok = "+OK " + QByteArray::number(m_mailbox[n - 1].bytes.size()) + " octets\r\n";
        if (n == faults.dripRetr) {
            m_drip = body;
            return ok;
        }
        if (n == faults.dropInRetr) {
            close = true;
            return ok + body.left(body.size() / 2);
        }
        close = n == faults.closeAfterRetr;
        return ok + body;
    }
    if (verb == "DELE" && listed) {
        if (n == faults.refuseDele)
            return "-ERR [IN-USE] message is locked by another session\r\n";
        m_deleted[n - 1] = true;
        m_marked << n;
        return "+OK message deleted\r\n";
    }
    if (verb == "QUIT") {
        close = true;
        if (faults.quitUnanswered)
            return {};
        m_applied = m_marked;
        QList<Message> kept;
        for (int i = 0; i < count; ++i)
            if (!m_deleted[i])
                kept << m_mailbox[i];
        m_mailbox = kept;
        m_deleted = QList<bool>(m_mailbox.size(), false);
        return "+OK bye\r\n";
    }
    return "-ERR no such message or command\r\n";
}

// ---- TlsStrippingProxy ------------------------------------------------------

namespace {

int connectToLoopback(quint16 port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(port);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool offersTls(const QByteArray& line)
{
    const QByteArray word = line.trimmed().toUpper();
    return word == "STLS" || word == "250-STARTTLS" || word == "250 STARTTLS";
}

} // namespace

TlsStrippingProxy::TlsStrippingProxy(quint16 targetPort) : m_target(targetPort)
{
    m_listenFd = listenOnLoopback(m_port);
    m_thread = std::thread([this] { run(); });
}

TlsStrippingProxy::~TlsStrippingProxy()
{
    m_stop = true;
    m_thread.join();
    ::close(m_listenFd);
}

QByteArray TlsStrippingProxy::clientBytes() const
{
    std::lock_guard lock(m_mutex);
    return m_clientBytes;
}

void TlsStrippingProxy::clearClientBytes()
{
    std::lock_guard lock(m_mutex);
    m_clientBytes.clear();
}

void TlsStrippingProxy::run()
{
    pollfd listening{m_listenFd, POLLIN, 0};
    while (!m_stop) {
        if (::poll(&listening, 1, 50) <= 0)
            continue;
        const int client = ::accept(m_listenFd, nullptr, nullptr);
        if (client < 0)
            continue;
        relay(client);
        ::close(client);
    }
}

void TlsStrippingProxy::relay(int client)
{
    const int server = connectToLoopback(m_target);
    if (server < 0)
        return;
    // Server replies pass line by line while stripping, so a removed offer never
    // shows up split across two reads.
    QByteArray fromServer;
    pollfd fds[2] = {{client, POLLIN, 0}, {server, POLLIN, 0}};
    while (!m_stop) {
        if (::poll(fds, 2, 50) <= 0)
            continue;
        char buffer[65536];
        if (fds[0].revents) {
            const ssize_t n = ::recv(client, buffer, sizeof buffer, 0);
            if (n <= 0)
                break;
            {
                std::lock_guard lock(m_mutex);
                m_clientBytes.append(buffer, n);
            }
            if (!sendAll(server, QByteArray(buffer, n)))
                break;
        }
        if (fds[1].revents) {
            const ssize_t n = ::recv(server, buffer, sizeof buffer, 0);
            if (n <= 0)
                break;
            fromServer.append(buffer, n);
            QByteArray out;
            if (!m_strip) {
                out.swap(fromServer);
            } else {
                qsizetype lf;
                while ((lf = fromServer.indexOf('\n')) >= 0) {
                    const QByteArray line = fromServer.left(lf + 1);
                    fromServer.remove(0, lf + 1);
                    if (!offersTls(line))
                        out += line;
                }
            }
            if (!out.isEmpty() && !sendAll(client, out))
                break;
        }
    }
    ::close(server);
}

} // namespace corvidan::test
