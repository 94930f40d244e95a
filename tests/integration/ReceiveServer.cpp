#include "ReceiveServer.h"

#include "support/TempAppDir.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QTextStream>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace corvidan::test {

namespace {
QString buildDir()
{
    const QByteArray env = qgetenv("CORVIDAN_BUILD_DIR");
    return env.isEmpty() ? QStringLiteral(CORVIDAN_BUILD_DIR) : QString::fromLocal8Bit(env);
}

int loopbackSocket()
{
    return ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
}

sockaddr_in loopback(int port)
{
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return addr;
}
} // namespace

Pop3Mailbox::Pop3Mailbox()
{
    QFile file(buildDir() + QStringLiteral("/test-servers/pop3.env"));
    if (!file.open(QIODevice::ReadOnly))
        return;
    for (const QByteArray& line : file.readAll().split('\n')) {
        const qsizetype eq = line.indexOf('=');
        if (eq > 0)
            m_env.insert(QString::fromUtf8(line.left(eq)).trimmed(),
                         QString::fromUtf8(line.mid(eq + 1)).trimmed().remove(u'"'));
    }
}

QString Pop3Mailbox::serverName(int port) const
{
    return QStringLiteral("127.0.0.1:%1").arg(port ? port : this->port());
}

void Pop3Mailbox::clear() const
{
    for (const char* sub : {"new", "cur"}) {
        QDir dir(value(QStringLiteral("MAILDIR")) + u'/' + QString::fromLatin1(sub));
        for (const QString& name : dir.entryList(QDir::Files))
            dir.remove(name);
    }
}

QString Pop3Mailbox::deliver(const QByteArray& message) const
{
    // Names sort in delivery order, so the server numbers the messages that way.
    static const qint64 start = QDateTime::currentSecsSinceEpoch();
    static int counter = 0;
    const QString maildir = value(QStringLiteral("MAILDIR"));
    const QString name = QStringLiteral("%1.P%2Q%3.corvidan").arg(start).arg(::getpid()).arg(++counter, 6, 10, QChar(u'0'));
    const QString tmp = maildir + QStringLiteral("/tmp/") + name;
    QFile file(tmp);
    if (!file.open(QIODevice::WriteOnly) || file.write(message) != message.size())
        return {};
    file.close();
    QFile::setPermissions(tmp, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup |
                                   QFileDevice::ReadOther);
    QFile::rename(tmp, maildir + QStringLiteral("/new/") + name);
    return name;
}

QStringList Pop3Mailbox::messages() const
{
    QStringList all;
    for (const char* sub : {"new", "cur"})
        all += QDir(value(QStringLiteral("MAILDIR")) + u'/' + QString::fromLatin1(sub)).entryList(QDir::Files);
    return all;
}

QuitCuttingProxy::QuitCuttingProxy(int targetPort) : m_targetPort(targetPort)
{
    m_listenFd = loopbackSocket();
    sockaddr_in addr = loopback(0);
    ::bind(m_listenFd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    ::listen(m_listenFd, 4);
    socklen_t len = sizeof addr;
    ::getsockname(m_listenFd, reinterpret_cast<sockaddr*>(&addr), &len);
    m_port = ntohs(addr.sin_port);
    m_thread = std::thread([this] { serve(); });
}

QuitCuttingProxy::~QuitCuttingProxy()
{
    m_stop = true;
    ::shutdown(m_listenFd, SHUT_RDWR);
    m_thread.join();
    ::close(m_listenFd);
}

void QuitCuttingProxy::serve()
{
    while (!m_stop) {
        pollfd wait{m_listenFd, POLLIN, 0};
        if (::poll(&wait, 1, 100) <= 0)
            continue;
        const int client = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0)
            continue;
        const int server = loopbackSocket();
        sockaddr_in target = loopback(m_targetPort);
        if (::connect(server, reinterpret_cast<sockaddr*>(&target), sizeof target) != 0) {
            ::close(client);
            ::close(server);
            continue;
        }
        QByteArray fromClient;
        bool cut = false;
        while (!cut && !m_stop) {
            pollfd fds[2] = {{client, POLLIN, 0}, {server, POLLIN, 0}};
            if (::poll(fds, 2, 100) <= 0)
                continue;
            char buf[65536];
            if (fds[1].revents) {
                const ssize_t n = ::read(server, buf, sizeof buf);
                if (n <= 0 || ::write(client, buf, size_t(n)) != n)
                    break;
            }
            if (fds[0].revents) {
                const ssize_t n = ::read(client, buf, sizeof buf);
                if (n <= 0)
                    break;
                fromClient.append(buf, n);
                // Lose the connection exactly when the client asks to apply deletions.
                if (fromClient.contains("\nQUIT") || fromClient.startsWith("QUIT"))
                    cut = true;
                else if (::write(server, buf, size_t(n)) != n)
                    break;
                if (fromClient.size() > 4096)
                    fromClient = fromClient.right(16);
            }
        }
        ::close(client);
        ::close(server);
    }
}

QByteArray corpusMessage(const QString& prefix)
{
    const QDir dir(mailCorpusDir());
    const QStringList names = dir.entryList({prefix + QStringLiteral("_*.eml")}, QDir::Files);
    if (names.size() != 1)
        return {};
    QFile file(dir.filePath(names.first()));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray fixtureMessage(const QString& name)
{
    QFile file(sourcePath(QStringLiteral("tests/data/receive/") + name));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace corvidan::test
