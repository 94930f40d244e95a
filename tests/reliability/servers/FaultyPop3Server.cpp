#include "FaultyPop3Server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace corvidan::test {

namespace {

bool sendAll(int fd, const QByteArray& bytes)
{
    qsizetype sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.constData() + sent, size_t(bytes.size() - sent), MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        sent += n;
    }
    return true;
}

QByteArray dotStuffed(const QByteArray& message)
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

/// Hangs up the way a server process that exits does when its peer behaves:
/// FIN after the last reply, what the client still sends is read and ignored,
/// so nothing already sent is reset away.
void hangUp(int fd)
{
    ::shutdown(fd, SHUT_WR);
    pollfd readable{fd, POLLIN, 0};
    char buffer[4096];
    for (int i = 0; i < 40 && ::poll(&readable, 1, 50) >= 0;) {
        if (!(readable.revents & POLLIN)) {
            ++i;
            continue;
        }
        if (::recv(fd, buffer, sizeof buffer, 0) <= 0)
            return;
    }
}

} // namespace

FaultyPop3Server::FaultyPop3Server(QList<Message> mailbox) : m_mailbox(std::move(mailbox))
{
    m_listenFd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(m_listenFd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    ::listen(m_listenFd, 4);
    socklen_t len = sizeof addr;
    ::getsockname(m_listenFd, reinterpret_cast<sockaddr*>(&addr), &len);
    m_port = ntohs(addr.sin_port);
    m_thread = std::thread([this] { run(); });
}

FaultyPop3Server::~FaultyPop3Server()
{
    m_stop = true;
    m_thread.join();
    ::close(m_listenFd);
}

void FaultyPop3Server::nextSession(Script script)
{
    std::lock_guard lock(m_mutex);
    m_next = std::move(script);
}

QString FaultyPop3Server::server() const
{
    // It has no TLS: its made-up password goes in clear on purpose.
    return QStringLiteral("pop3+plain://127.0.0.1:") + QString::number(m_port);
}

QList<FaultyPop3Server::Message> FaultyPop3Server::mailbox() const
{
    std::lock_guard lock(m_mutex);
    return m_mailbox;
}

void FaultyPop3Server::waitIdle() const
{
    for (int i = 0; i < 200 && m_busy; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
}

void FaultyPop3Server::run()
{
    pollfd listening{m_listenFd, POLLIN, 0};
    while (!m_stop) {
        if (::poll(&listening, 1, 50) <= 0)
            continue;
        const int fd = ::accept(m_listenFd, nullptr, nullptr);
        if (fd < 0)
            continue;
        Script script;
        {
            std::lock_guard lock(m_mutex);
            script = std::exchange(m_next, Script{});
            m_marked = QList<bool>(m_mailbox.size(), false);
        }
        ++m_sessions;
        m_busy = true;
        serve(fd, script);
        ::close(fd);
        m_busy = false;
    }
}

void FaultyPop3Server::serve(int fd, const Script& script)
{
    if (!sendAll(fd, "+OK faulty POP3 ready <4711.1765000000@pop.example.jp>\r\n"))
        return;
    bool slow = script.fault == Fault::Slow && script.verb.isEmpty();
    bool silent = false;
    QByteArray in;
    pollfd readable{fd, POLLIN, 0};
    while (!m_stop) {
        for (qsizetype lf; !silent && (lf = in.indexOf('\n')) >= 0;) {
            const QByteArray line = in.left(lf).trimmed();
            in.remove(0, lf + 1);
            const QByteArray verb = line.split(' ').value(0).toUpper();
            slow = slow || (script.fault == Fault::Slow && verb == script.verb);
            bool close = false;
            const QByteArray out = reply(line, script, close, silent);
            if (slow)
                std::this_thread::sleep_for(std::chrono::milliseconds(script.delayMs));
            if (script.fault == Fault::Drip && verb == "RETR" && line.split(' ').value(1).toInt() == script.message) {
                for (qsizetype i = 0; i < out.size() && !m_stop; ++i) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(script.delayMs));
                    if (!sendAll(fd, out.mid(i, 1)))
                        return;
                }
            } else if (!sendAll(fd, out)) {
                return;
            }
            if (close) {
                hangUp(fd);
                return;
            }
        }
        if (::poll(&readable, 1, 50) <= 0)
            continue;
        char buffer[65536];
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0)
            return;
        in.append(buffer, n);
    }
}

QByteArray FaultyPop3Server::reply(const QByteArray& line, const Script& script, bool& close, bool& silent)
{
    const QList<QByteArray> words = line.split(' ');
    const QByteArray verb = words.value(0).toUpper();
    const int n = words.value(1).toInt();
    std::lock_guard lock(m_mutex);
    const int count = int(m_mailbox.size());
    const bool valid = n >= 1 && n <= count && !m_marked[n - 1];
    if (script.fault == Fault::Silent && verb == script.verb) {
        silent = true;
        return {};
    }
    if (script.fault == Fault::Garbage && verb == script.verb)
        return "HTTP/1.1 400 Bad Request\r\n";
    if (verb == "CAPA")
        return "+OK\r\nUSER\r\nUIDL\r\nPIPELINING\r\n.\r\n";
    if (verb == "USER" || verb == "PASS" || verb == "NOOP" || verb == "RSET")
        return "+OK\r\n";
    if (verb == "STAT") {
        qsizetype total = 0;
        for (const Message& m : std::as_const(m_mailbox))
            total += m.bytes.size();
        return "+OK " + QByteArray::number(count) + ' ' + QByteArray::number(total) + "\r\n";
    }
    if (verb == "LIST" || verb == "UIDL") {
        QByteArray out = "+OK\r\n";
        for (int i = 1; i <= count; ++i)
            out += QByteArray::number(i) + ' ' +
                   (verb == "LIST" ? QByteArray::number(m_mailbox[i - 1].bytes.size()) : m_mailbox[i - 1].uid) + "\r\n";
        return out + ".\r\n";
    }
    if (verb == "RETR" && valid) {
        const QByteArray body = dotStuffed(m_mailbox[n - 1].bytes);
        if (script.fault == Fault::DropInRetr && n == script.message) {
            close = true;
            return "+OK\r\n" + body.left(body.size() / 2);
        }
        close = script.fault == Fault::CloseAfterRetr && n == script.message;
        return "+OK " + QByteArray::number(m_mailbox[n - 1].bytes.size()) + " octets\r\n" + body;
    }
    if (verb == "DELE" && valid) {
        if (script.fault == Fault::RefuseDele && n == script.message)
            return "-ERR [IN-USE] message is locked by another session\r\n";
        m_marked[n - 1] = true;
        return "+OK message deleted\r\n";
    }
    if (verb == "QUIT") {
        close = true;
        if (script.fault == Fault::QuitUnanswered)
            return {};
        QList<Message> kept;
        for (int i = 0; i < count; ++i)
            if (!m_marked[i])
                kept << m_mailbox[i];
        m_mailbox = kept;
        return "+OK bye\r\n";
    }
    return "-ERR no such message or command\r\n";
}

} // namespace corvidan::test
