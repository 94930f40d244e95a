#include "support/Servers.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTextStream>
#include <atomic>

namespace corvidan::test {

namespace {
std::atomic<int> g_delivered{0};
}

QHash<QString, QString> readEnvFile(const QString& path)
{
    QHash<QString, QString> values;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return values;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        const qsizetype eq = line.indexOf(u'=');
        if (eq > 0 && !line.startsWith(u'#'))
            values.insert(line.left(eq), line.mid(eq + 1));
    }
    return values;
}

QString serverStateDir()
{
    const QByteArray env = qgetenv("CORVIDAN_TEST_SERVERS");
    if (!env.isEmpty())
        return QString::fromLocal8Bit(env);
    return QStringLiteral(CORVIDAN_BUILD_DIR) + QStringLiteral("/test-servers");
}

Pop3TestServer Pop3TestServer::load()
{
    const QHash<QString, QString> env = readEnvFile(serverStateDir() + QStringLiteral("/pop3.env"));
    Pop3TestServer server;
    server.host = env.value(QStringLiteral("HOST"), QStringLiteral("127.0.0.1"));
    server.port = static_cast<quint16>(env.value(QStringLiteral("POP3_PORT")).toUInt());
    server.tlsPort = static_cast<quint16>(env.value(QStringLiteral("POP3S_PORT")).toUInt());
    server.user = env.value(QStringLiteral("POP3_USER"));
    server.password = env.value(QStringLiteral("POP3_PASSWORD"));
    server.maildir = env.value(QStringLiteral("MAILDIR"));
    server.caFile = env.value(QStringLiteral("CA_FILE"));
    return server;
}

QString Pop3TestServer::server(bool tls) const
{
    if (tls)
        return QStringLiteral("pop3s://") + host + u':' + QString::number(tlsPort);
    return host + u':' + QString::number(port);
}

void Pop3TestServer::clearMailbox() const
{
    for (const char* sub : {"new", "cur", "tmp"}) {
        QDir dir(maildir + u'/' + QLatin1String(sub));
        for (const QString& name : dir.entryList(QDir::Files | QDir::Hidden))
            dir.remove(name);
    }
}

void Pop3TestServer::addMessage(const QByteArray& message) const
{
    // Names sort in delivery order, which is the order Dovecot lists new mail in.
    const int number = ++g_delivered;
    const QString name = QStringLiteral("1765000000.M%1P%2.corvidan")
                             .arg(number, 8, 10, QChar(u'0'))
                             .arg(QCoreApplication::applicationPid());
    const QString tmp = maildir + QStringLiteral("/tmp/") + name;
    QFile file(tmp);
    if (!file.open(QIODevice::WriteOnly) || file.write(message) != message.size())
        qFatal("cannot write %s", qPrintable(tmp));
    file.close();
    // The mail user is not root: it must be able to read and delete the file.
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup
                        | QFileDevice::WriteGroup | QFileDevice::ReadOther | QFileDevice::WriteOther);
    QFile::rename(tmp, maildir + QStringLiteral("/new/") + name);
}

int Pop3TestServer::messageCount() const
{
    int count = 0;
    for (const char* sub : {"new", "cur"})
        count += static_cast<int>(QDir(maildir + u'/' + QLatin1String(sub)).entryList(QDir::Files).size());
    return count;
}

} // namespace corvidan::test
