#include "ReceiveServer.h"

#include "support/TempAppDir.h"

#include <QDateTime>
#include <QDir>
#include <QFile>

#include <unistd.h>

namespace corvidan::test {

namespace {
QString buildDir()
{
    const QByteArray env = qgetenv("CORVIDAN_BUILD_DIR");
    return env.isEmpty() ? QStringLiteral(CORVIDAN_BUILD_DIR) : QString::fromLocal8Bit(env);
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
